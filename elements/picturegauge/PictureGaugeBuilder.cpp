// The builders of "turbine", "compass" and "arrow": a picture that ships
// with the app, placed and turned by a device's values.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/picturegauge/Arrow.h"
#include "elements/picturegauge/Compass.h"
#include "elements/picturegauge/Turbine.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

namespace fieldmon {

namespace {

template <class G>
bool startPicture(uidesc::ElementBuild& b)
{
    std::shared_ptr<PictureGauge> gauge = std::make_shared<G>();
    gauge->setTag(widgettags::next());
    b.arguments<PictureGauge>("position", gauge, {&PictureGauge::setXData, &PictureGauge::setYData},
                              &PictureGauge::update);
    b.expression("angle", gauge, &PictureGauge::setAngle, &PictureGauge::update);
    b.context<WidgetContext>().place(gauge);
    return true;
}

} // namespace

void registerPictureGauges(uidesc::BuilderRegistry& registry)
{
    registry.add("turbine", {startPicture<Turbine>});
    registry.add("compass", {startPicture<Compass>});
    registry.add("arrow", {startPicture<Arrow>});
}

} // namespace fieldmon
