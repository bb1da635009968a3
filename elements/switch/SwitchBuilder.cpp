// The builder of "bool": an on/off switch that shows a device state and
// sends a command when flipped. Without a command the element is reported
// and dropped. A malformed command is a command whose value is an error:
// the switch is built and works, and that value is never sent.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/switch/RemoteBool.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

namespace fieldmon {

namespace {

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
    b.expression("enabled", widget, &RemoteBool::setEnabledData, &RemoteBool::updateEnabled);
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

} // namespace

void registerSwitch(uidesc::BuilderRegistry& registry)
{
    registry.add("bool", {startBool, endBool});
}

} // namespace fieldmon
