#pragma once
// Endpoint: one side of a datagram or a TCP connection, an IPv4 address and a
// port, both in host byte order. Captures carry real addresses, so the
// recorder takes them as the app saw them and the reader hands them back the
// same way.
//
// Thread rule: plain value.

#include <cstdint>
#include <string>

namespace fieldmon::capture {

struct Endpoint {
    std::uint32_t address = 0; // host byte order: 10.77.0.1 is 0x0A4D0001
    std::uint16_t port = 0;

    friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

// "10.77.0.1" for 0x0A4D0001.
std::string dottedAddress(std::uint32_t address);
// Reads a dotted text into `address`; false when the text is no IPv4 address.
bool parseDottedAddress(const std::string& text, std::uint32_t& address);

} // namespace fieldmon::capture
