#pragma once
// The fields of an identity announcement ("m" datagram): up to six fields
// after the kind byte, separated by ';'. A 0 byte also ends a field, as does
// the end of the datagram; fields after the sixth are ignored and missing
// fields keep the defaults of a new record (no text, 0, off).
//
// Thread rule: pure functions, any thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace fieldmon {

struct IdentityAnnouncement {
    std::string platform;
    std::string type;
    std::string name;
    std::int32_t version = 0;
    std::int32_t serialNumber = 0;
    bool service = false;
};

// `payload` is the datagram without its kind byte (exactly the received bytes;
// the caller's terminating 0 is not part of it).
IdentityAnnouncement parseIdentityAnnouncement(std::string_view payload);

// Reads a decimal number the way C's atoi does: optional leading white space
// and sign, then digits up to the first other character; no digits gives 0.
// Unlike atoi it never overflows: values beyond the int32 range saturate.
std::int32_t parseDecimal(std::string_view text);

// Text fields are ASCII on the wire. A field that is valid UTF-8 is kept as
// it is (devices that send accented names show them right); otherwise every
// byte above 127 becomes '?', so every stored text is valid UTF-8.
std::string decodeTextField(std::string_view bytes);

} // namespace fieldmon
