// Builders of the full-page overlays that act in real time: "joystick" and
// "eventhud". Neither takes a rate: the joystick makes its own one-time
// bindings, the heads-up display follows the device's events.

#include "pages/EventHUD.h"
#include "pages/Joystick.h"
#include "elements/ElementKinds.h"
#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
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

bool startEventHUD(uidesc::ElementBuild& b)
{
    auto hud = std::make_shared<EventHUD>();
    hud->setClient(b.clientPtr());
    hud->setTag(widgettags::next());
    b.context<WidgetContext>().place(hud);
    return true;
}

} // namespace

void registerOverlayElements(uidesc::BuilderRegistry& registry)
{
    registry.add("joystick", {startJoystick});
    registry.add("eventhud", {startEventHUD});
}

} // namespace fieldmon
