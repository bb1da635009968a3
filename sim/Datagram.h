#pragma once
// Datagram: what a simulated or replayed device sends: the bytes and where
// they go. The device's own address is the source.
//
// Thread rule: plain value.

#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace fieldmon::sim {

struct Datagram {
    in_addr to{};
    std::uint16_t port = 0;
    std::string bytes;
};

} // namespace fieldmon::sim
