// The builder of "eventhud": the device's latest events over the page. It
// takes no rate: the display follows the device's events.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/eventhud/EventHUD.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

namespace fieldmon {

namespace {

bool startEventHUD(uidesc::ElementBuild& b)
{
    auto hud = std::make_shared<EventHUD>();
    hud->setClient(b.clientPtr());
    hud->setTag(widgettags::next());
    b.context<WidgetContext>().place(hud);
    return true;
}

} // namespace

void registerEventHUD(uidesc::BuilderRegistry& registry)
{
    registry.add("eventhud", {startEventHUD});
}

} // namespace fieldmon
