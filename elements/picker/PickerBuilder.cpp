// The builder of "thumbwheel" and "picker": a thumbwheel showing one of the
// device's thumbwheel definitions. Without a command the element is
// reported and dropped.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/picker/RemotePicker.h"
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

void registerPicker(uidesc::BuilderRegistry& registry)
{
    registry.add("thumbwheel", {startPicker});
    registry.add("picker", {startPicker});
}

} // namespace fieldmon
