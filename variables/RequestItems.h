#pragma once
// RequestItems: the items of a request datagram, read the way a device reads
// them (see RequestAnswer.h for the layout). The device side answers from
// them, and a replay pairs a recorded request's items with the bytes of its
// recorded reply.
//
// A malformed item ends the list: the items before it are returned and
// `note` says where reading stopped.
//
// Thread rule: pure functions.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon {

// Variables from `firstIndex` (the low byte of the first index) on, `count`
// bytes of addresses (4 per variable).
struct AddressItem {
    int firstIndex = 0;
    std::uint64_t count = 0;
};

// `count` bytes of device memory from `address`.
struct ValueItem {
    std::uint32_t address = 0;
    std::uint32_t count = 0;
};

// Both read from byte 2 on (after the kind and the identifier).
std::vector<AddressItem> addressItems(std::string_view request, std::string& note);
std::vector<ValueItem> valueItems(std::string_view request, std::string& note);

} // namespace fieldmon
