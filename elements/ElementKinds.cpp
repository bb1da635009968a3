#include "elements/ElementKinds.h"

namespace fieldmon {

// One register function per file of elements/.
void registerTextElements(uidesc::BuilderRegistry& registry);    // label, button, infobutton, morebutton
void registerGaugeElements(uidesc::BuilderRegistry& registry);   // progress, circle, gradient, turbine, compass, arrow, image
void registerOverlayElements(uidesc::BuilderRegistry& registry); // joystick, eventhud
void registerInputElements(uidesc::BuilderRegistry& registry);   // bool, textfield, thumbwheel, picker

void registerElementKinds(uidesc::BuilderRegistry& registry)
{
    registerTextElements(registry);
    registerGaugeElements(registry);
    registerOverlayElements(registry);
    registerInputElements(registry);
}

} // namespace fieldmon
