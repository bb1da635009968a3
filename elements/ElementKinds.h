#pragma once
// Registers the builder of every element kind in elements/ with the app's
// builders (PageBuildContext::appBuilders()).
//
// Thread rule: main thread only.

namespace fieldmon {

namespace uidesc {
class BuilderRegistry;
}

void registerElementKinds(uidesc::BuilderRegistry& registry);

} // namespace fieldmon
