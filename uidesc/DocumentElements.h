#pragma once
// The reader's own builders, the same for every build context: "start"
// (the context's start page name) and the thumbwheel definitions
// "thumb_def", "wheel" and "entry" (the device's).
//
// Thread rule: main thread only.

namespace fieldmon::uidesc {

class BuilderRegistry;

const BuilderRegistry& documentBuilders();

} // namespace fieldmon::uidesc
