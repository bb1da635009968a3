#pragma once
// PcapngBlocks: the three pcapng blocks a recording is made of, encoded
// little-endian (the section header's byte-order magic says so to readers):
//
//   section header       names the writing application (shb_userappl)
//   interface descr.     one interface, link type raw IPv4, microseconds
//   enhanced packet      one packet with its time, and an optional comment
//
// Each function appends one whole block, so a file that only ever receives
// whole blocks is a valid capture after every write.
//
// Thread rule: pure functions.

#include <cstdint>
#include <string>
#include <string_view>

namespace fieldmon::capture {

// LINKTYPE_IPV4: each packet begins with its IPv4 header. libpcap reads it as
// DLT_IPV4 and Wireshark as "Raw IPv4".
inline constexpr std::uint16_t kLinkTypeIpv4 = 228;
inline constexpr std::uint32_t kSnapLength = 262144;

void appendSectionHeader(std::string& out, std::string_view application);
void appendInterfaceDescription(std::string& out, std::uint16_t linkType, std::string_view name);
// `micros` counts microseconds since 1970 (UTC). An empty comment adds none.
void appendEnhancedPacket(std::string& out, std::int64_t micros, std::string_view packet, std::string_view comment = {});

} // namespace fieldmon::capture
