// Builders of the gauges that show values as shapes and pictures:
// "progress", "circle", "gradient", "turbine", "compass", "arrow" and
// "image".

#include "pages/Arrow.h"
#include "pages/Circle.h"
#include "pages/Compass.h"
#include "pages/GradientViewController.h"
#include "pages/Progress.h"
#include "pages/RemoteImage.h"
#include "pages/Turbine.h"
#include "elements/ElementKinds.h"
#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

namespace fieldmon {

namespace {

// Binds `attribute` to `setter` and `notifier` when it is given.
template <class W>
void single(uidesc::ElementBuild& b, std::string_view attribute, const std::shared_ptr<W>& widget,
            void (W::*setter)(uidesc::ElementBuild::NodePtr), void (W::*notifier)())
{
    if (auto e = b.compile(attribute)) {
        ((*widget).*setter)(e);
        b.bind(e, widget, notifier);
    }
}

template <class G>
bool startPicture(uidesc::ElementBuild& b)
{
    auto gauge = std::make_shared<G>();
    gauge->setTag(widgettags::next());
    b.arguments<PictureGauge>("position", gauge, {&PictureGauge::setXData, &PictureGauge::setYData},
                              &PictureGauge::update);
    single<PictureGauge>(b, "angle", gauge, &PictureGauge::setAngle, &PictureGauge::update);
    b.context<WidgetContext>().place(gauge);
    return true;
}

bool startProgress(uidesc::ElementBuild& b)
{
    auto bar = std::make_shared<Progress>();
    bar->setTag(widgettags::next());
    b.arguments<Progress>("position", bar, {&Progress::setXData, &Progress::setYData}, &Progress::update);
    single(b, "length", bar, &Progress::setLength, &Progress::update);
    single(b, "angle", bar, &Progress::setAngle, &Progress::update);
    single(b, "progress", bar, &Progress::setProgress, &Progress::update);
    b.context<WidgetContext>().place(bar);
    return true;
}

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
    single(b, "radius", circle, &Circle::setRadius, &Circle::update);
    if (!b.arguments<Circle>("clipRect", circle,
                             {&Circle::setClipX, &Circle::setClipY, &Circle::setClipWidth, &Circle::setClipHeight},
                             &Circle::update))
        return false;
    b.context<WidgetContext>().place(circle);
    return true;
}

// As the circle; the extend flags take only the exact text "TRUE".
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
    single(b, "innerRadius", gradient, &G::setInnerRadius, &G::updatePos);
    single(b, "outerRadius", gradient, &G::setOuterRadius, &G::updatePos);
    if (!b.arguments<G>("clipRect", gradient, {&G::setClipX, &G::setClipY, &G::setClipWidth, &G::setClipHeight},
                        &G::updateGradient))
        return false;
    b.context<WidgetContext>().place(gradient);
    return true;
}

bool startImage(uidesc::ElementBuild& b)
{
    const std::string* file = b.text("file");
    if (!file) {
        b.report(*b.spec().attribute("file"));
        return false;
    }
    auto image = std::make_shared<RemoteImage>(*file, b.clientPtr());
    image->setTag(widgettags::next());
    b.arguments<RemoteImage>("position", image, {&RemoteImage::setXData, &RemoteImage::setYData},
                             &RemoteImage::updatePos);
    b.context<WidgetContext>().place(image);
    return true;
}

} // namespace

void registerGaugeElements(uidesc::BuilderRegistry& registry)
{
    registry.add("progress", {startProgress});
    registry.add("circle", {startCircle});
    registry.add("gradient", {startGradient});
    registry.add("turbine", {startPicture<Turbine>});
    registry.add("compass", {startPicture<Compass>});
    registry.add("arrow", {startPicture<Arrow>});
    registry.add("image", {startImage});
}

} // namespace fieldmon
