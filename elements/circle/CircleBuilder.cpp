// The builder of "circle": a filled disc over the whole page.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/circle/Circle.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

namespace fieldmon {

namespace {

// A short position, colour or clip list drops the circle; the bindings
// made before stay.
bool startCircle(uidesc::ElementBuild& b)
{
    auto circle = std::make_shared<Circle>();
    circle->setTag(widgettags::next());
    if (!b.arguments<Circle>("position", circle, {&Circle::setXData, &Circle::setYData}, &Circle::update))
        return false;
    if (!b.arguments<Circle>("color", circle,
                             {&Circle::setRColor, &Circle::setGColor, &Circle::setBColor, &Circle::setAColor},
                             &Circle::update))
        return false;
    b.expression("radius", circle, &Circle::setRadius, &Circle::update);
    if (!b.arguments<Circle>("clipRect", circle,
                             {&Circle::setClipX, &Circle::setClipY, &Circle::setClipWidth, &Circle::setClipHeight},
                             &Circle::update))
        return false;
    b.context<WidgetContext>().place(circle);
    return true;
}

} // namespace

void registerCircle(uidesc::BuilderRegistry& registry)
{
    registry.add("circle", {startCircle});
}

} // namespace fieldmon
