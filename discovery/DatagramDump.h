#pragma once
// The console dump of a datagram the finder does not understand:
// "recsize: %d\n " with the length, "datagram:", each byte as " 0x%2.2x",
// "\n         ", each byte as "   %d", and a newline. Bytes are printed as
// unsigned values (0..255).
//
// Thread rule: pure function, any thread.

#include <string>
#include <string_view>

namespace fieldmon {

std::string datagramDump(std::string_view datagram);

} // namespace fieldmon
