// Builders of the widgets that send commands: "bool", "textfield",
// "thumbwheel" and "picker". Each needs a command; without one the element
// is reported and dropped. A malformed command is a command whose value is
// an error: the widget is built and works, and that value is never sent.

#include "expr/Node.h"
#include "pages/RemoteBool.h"
#include "pages/RemotePicker.h"
#include "pages/RemoteTextField.h"
#include "elements/ElementKinds.h"
#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace fieldmon {

namespace {

// The leading decimal integer of a text: leading blanks, an optional sign,
// digits; no digits gives 0, and a number too large for an int is held to
// its limits.
int leadingInteger(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<long long>(value * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
    value = negative ? -value : value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// The state comes from the element's text at its end; the command is the
// data until then.
bool startBool(uidesc::ElementBuild& b)
{
    auto command = b.required("command");
    if (!command)
        return false;
    auto widget = std::make_shared<RemoteBool>(command, b.clientPtr());
    widget->setTag(widgettags::next());
    widget->setData(command);
    b.arguments<RemoteBool>("position", widget, {&RemoteBool::setXData, &RemoteBool::setYData}, &RemoteBool::updatePos);
    if (auto enabled = b.compile("enabled")) {
        widget->setEnabledData(enabled);
        b.bind(enabled, widget, &RemoteBool::updateEnabled);
    }
    b.context<WidgetContext>().place(widget);
    b.setWidget(widget);
    return true;
}

// The state expression is the element's text, all pieces, untrimmed; a
// switch without text shows no device state.
void endBool(uidesc::ElementBuild& b)
{
    auto widget = b.widget<RemoteBool>();
    auto state = b.hasCharacterData() ? b.compileText(b.characterData()) : nullptr;
    widget->setData(state);
    b.bind(state, widget, &RemoteBool::updateState);
}

bool startTextField(uidesc::ElementBuild& b)
{
    auto command = b.required("command");
    if (!command)
        return false;
    auto widget = std::make_shared<RemoteTextField>(command, b.clientPtr());
    widget->setTag(widgettags::next());
    b.arguments<RemoteTextField>("position", widget, {&RemoteTextField::setXData, &RemoteTextField::setYData},
                                 &RemoteTextField::updatePos);
    b.context<WidgetContext>().place(widget);
    return true;
}

// "thumbwheel" shows the definition its "num" names (absent: 0); "picker"
// names none and shows definition 0.
bool startPicker(uidesc::ElementBuild& b)
{
    auto command = b.required("command");
    if (!command)
        return false;
    const std::string* num = b.spec().name == "thumbwheel" ? b.text("num") : nullptr;
    auto widget = std::make_shared<RemotePicker>(command, b.clientPtr(), num ? leadingInteger(*num) : 0);
    if (b.spec().name == "picker")
        widget->setElementName("picker");
    widget->setTag(widgettags::next());
    b.arguments<RemotePicker>("position", widget, {&RemotePicker::setXData, &RemotePicker::setYData},
                              &RemotePicker::updatePos);
    b.context<WidgetContext>().place(widget);
    return true;
}

} // namespace

void registerInputElements(uidesc::BuilderRegistry& registry)
{
    registry.add("bool", {startBool, endBool});
    registry.add("textfield", {startTextField});
    registry.add("thumbwheel", {startPicker});
    registry.add("picker", {startPicker});
}

} // namespace fieldmon
