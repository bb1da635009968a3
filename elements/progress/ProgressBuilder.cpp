// The builder of "progress": a progress bar that a device stretches, turns
// and fills.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/progress/Progress.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

namespace fieldmon {

namespace {

bool startProgress(uidesc::ElementBuild& b)
{
    auto bar = std::make_shared<Progress>();
    bar->setTag(widgettags::next());
    b.arguments<Progress>("position", bar, {&Progress::setXData, &Progress::setYData}, &Progress::update);
    b.expression("length", bar, &Progress::setLength, &Progress::update);
    b.expression("angle", bar, &Progress::setAngle, &Progress::update);
    b.expression("progress", bar, &Progress::setProgress, &Progress::update);
    b.context<WidgetContext>().place(bar);
    return true;
}

} // namespace

void registerProgress(uidesc::BuilderRegistry& registry)
{
    registry.add("progress", {startProgress});
}

} // namespace fieldmon
