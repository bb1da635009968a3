#pragma once
// What expression nodes need from the device's variable store beyond the
// plain RemoteData operations: finding a declared variable by name, reading a
// number without allocating, and resolving a structure member with the
// expression language's diagnostics.
//
// Thread rule: main thread only.

#include <cstdint>
#include <memory>
#include <string>

namespace fieldmon {
class Client;
class RemoteData;
} // namespace fieldmon

namespace fieldmon::expr {

// The device's variable of that name, or null.
std::shared_ptr<RemoteData> findRemoteVariable(Client& client, const std::string& name);

// The variable's value (its buffer, valid or not) when it reads as a number;
// false, having done nothing, for texts, errors and types that are looked up.
bool remoteNumber(const RemoteData& var, bool& isInt, std::int32_t& i, double& d);

// The element variable `element` of the structure variable `structure`.
// Null with `failed` set, after "Error: Invalid data type '%s'\n", "Error:
// '%s' Data type '%s' isn't a structure\n" or "Error: Couldn't find structure
// element '%s'\n", when there is no such member; null without `failed`, after
// "Not ready!", while the structure has no address yet.
std::shared_ptr<RemoteData> structureElement(RemoteData& structure, const std::string& element, bool debug,
                                             bool& failed);

} // namespace fieldmon::expr
