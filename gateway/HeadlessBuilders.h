#pragma once
// The gateway's builders, by element name: what the reader calls to make
// each element of a device's document when a HeadlessBuildContext reads
// it. Value elements get a HeadlessBinding and an exported element; pages
// and tables set the page their elements belong to; every other element
// of the table is read and left alone, so that no element a device's pages
// use is reported as unsupported.
//
// Thread rule: made once, then read on the main thread.

namespace fieldmon::uidesc {
class BuilderRegistry;
}

namespace fieldmon::gateway {

const uidesc::BuilderRegistry& headlessBuilders();

} // namespace fieldmon::gateway
