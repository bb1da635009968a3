// The builder of "image": a picture fetched from the device itself.

#include "elements/WidgetContext.h"
#include "elements/WidgetTags.h"
#include "elements/image/RemoteImage.h"
#include "uidesc/BuilderRegistry.h"
#include "uidesc/ElementBuild.h"

namespace fieldmon {

namespace {

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

void registerImage(uidesc::BuilderRegistry& registry)
{
    registry.add("image", {startImage});
}

} // namespace fieldmon
