// The builder of "infobutton" and "morebutton": a small round button that
// opens another page.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/infobutton/RemoteInfoButton.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

namespace fieldmon {

namespace {

bool startInfoButton(uidesc::ElementBuild& b)
{
    auto kind = b.spec().name == "infobutton" ? InfoButtonView::Kind::Info : InfoButtonView::Kind::DetailDisclosure;
    auto button = std::make_shared<RemoteInfoButton>(kind);
    const std::string* target = b.text("target");
    button->setTargetPage(target ? *target : std::string());
    button->setOpener(b.context<WidgetContext>().pageOpener());
    button->setTag(widgettags::next());
    b.arguments<RemoteInfoButton>("position", button, {&RemoteInfoButton::setXData, &RemoteInfoButton::setYData},
                                  &RemoteInfoButton::updatePos);
    b.context<WidgetContext>().place(button);
    return true;
}

} // namespace

void registerInfoButton(uidesc::BuilderRegistry& registry)
{
    registry.add("infobutton", {startInfoButton});
    registry.add("morebutton", {startInfoButton});
}

} // namespace fieldmon
