#pragma once
// The builders of pages/, registered with the app's builders
// (PageBuildContext::appBuilders()): "page" (PageElements.cpp), and
// "table", "section" and "cell" (TableElements.cpp).
//
// Thread rule: main thread only.

namespace fieldmon {

namespace uidesc {
class BuilderRegistry;
}

void registerPageElements(uidesc::BuilderRegistry& registry);
void registerTableElements(uidesc::BuilderRegistry& registry);

} // namespace fieldmon
