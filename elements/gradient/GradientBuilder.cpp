// The builder of "gradient": a radial gradient over the whole page.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/gradient/GradientViewController.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

namespace fieldmon {

namespace {

// As the circle: a short position, colour or clip list drops the gradient.
// The extend flags take only the exact text "TRUE".
bool startGradient(uidesc::ElementBuild& b)
{
    using G = GradientViewController;
    auto gradient = std::make_shared<G>();
    gradient->setTag(widgettags::next());
    if (const std::string* flag = b.text("extendOuter"); flag && uidesc::flagSet(*flag))
        gradient->setExtendOuter();
    if (const std::string* flag = b.text("extendInner"); flag && uidesc::flagSet(*flag))
        gradient->setExtendInner();
    if (!b.arguments<G>("position", gradient, {&G::setXData, &G::setYData}, &G::updatePos))
        return false;
    if (!b.arguments<G>("innerColor", gradient,
                        {&G::setInnerRColor, &G::setInnerGColor, &G::setInnerBColor, &G::setInnerAColor},
                        &G::updateGradient))
        return false;
    if (!b.arguments<G>("outerColor", gradient,
                        {&G::setOuterRColor, &G::setOuterGColor, &G::setOuterBColor, &G::setOuterAColor},
                        &G::updateGradient))
        return false;
    b.expression("innerRadius", gradient, &G::setInnerRadius, &G::updatePos);
    b.expression("outerRadius", gradient, &G::setOuterRadius, &G::updatePos);
    if (!b.arguments<G>("clipRect", gradient, {&G::setClipX, &G::setClipY, &G::setClipWidth, &G::setClipHeight},
                        &G::updateGradient))
        return false;
    b.context<WidgetContext>().place(gradient);
    return true;
}

} // namespace

void registerGradient(uidesc::BuilderRegistry& registry)
{
    registry.add("gradient", {startGradient});
}

} // namespace fieldmon
