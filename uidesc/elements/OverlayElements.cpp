// Builders of the full-page overlays that act in real time: "joystick" and
// "eventhud". Neither takes a rate: the joystick makes its own one-time
// bindings, the heads-up display follows the device's events.

#include "pages/EventHUD.h"
#include "pages/Joystick.h"
#include "uidesc/ElementBuild.h"
#include "uidesc/ElementBuilders.h"

namespace fieldmon {

namespace {

// The device comes first; without a command the joystick is reported and
// not placed.
bool startJoystick(ElementBuild& b)
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
    joystick->setTag(b.nextTag());
    b.place(joystick);
    return true;
}

bool startEventHUD(ElementBuild& b)
{
    auto hud = std::make_shared<EventHUD>();
    hud->setClient(b.clientPtr());
    hud->setTag(b.nextTag());
    b.place(hud);
    return true;
}

} // namespace

void registerOverlayElements(BuilderRegistry& registry)
{
    registry.add("joystick", {startJoystick});
    registry.add("eventhud", {startEventHUD});
}

} // namespace fieldmon
