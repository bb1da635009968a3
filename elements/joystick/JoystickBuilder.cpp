// The builder of "joystick": a full-page overlay that steers the device in
// real time. It takes no rate: the joystick makes its own one-time
// bindings.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/joystick/Joystick.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

namespace fieldmon {

namespace {

// The device comes first; without a command the joystick is reported and
// not placed.
bool startJoystick(uidesc::ElementBuild& b)
{
    auto joystick = std::make_shared<Joystick>();
    joystick->setRemoteClient(b.clientPtr());
    if (auto quad = b.compile("quad"))
        joystick->setQuad(quad);
    if (auto rate = b.compile("rate"))
        joystick->setRate(rate);
    auto command = b.required("command");
    if (!command)
        return false;
    joystick->setCommand(command);
    joystick->setTag(widgettags::next());
    b.context<WidgetContext>().place(joystick);
    return true;
}

} // namespace

void registerJoystick(uidesc::BuilderRegistry& registry)
{
    registry.add("joystick", {startJoystick});
}

} // namespace fieldmon
