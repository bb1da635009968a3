#pragma once
// What expression nodes need from the device's variable store beyond the
// plain RemoteData operations: resolving a structure member with the
// expression language's diagnostics.
//
// Thread rule: main thread only.

#include <cstdint>
#include <memory>
#include <string>

namespace fieldmon {
class RemoteData;
} // namespace fieldmon

namespace fieldmon::expr {

// The element variable `element` of the structure variable `structure`.
// Null with `failed` set, after "Error: Invalid data type '%s'\n", "Error:
// '%s' Data type '%s' isn't a structure\n" or "Error: Couldn't find structure
// element '%s'\n", when there is no such member; null without `failed`, after
// "Not ready!", while the structure has no address yet.
std::shared_ptr<RemoteData> structureElement(RemoteData& structure, const std::string& element, bool debug,
                                             bool& failed);

} // namespace fieldmon::expr
