#pragma once
// SyntheticPackets: the IPv4 packets a capture stores for traffic the app saw
// only as payloads. A datagram becomes one IPv4/UDP packet; an HTTP transfer
// becomes a whole TCP conversation (handshake, request segments, response
// segments, both FINs) with consistent sequence numbers, so that Wireshark's
// TCP and HTTP dissectors reassemble it as if it had been sniffed. Lengths
// and checksums (IPv4 header, UDP and TCP with their pseudo-headers) are
// correct.
//
// Thread rule: pure functions; TcpConversation is a plain value.

#include "capture/Endpoint.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon::capture {

inline constexpr std::size_t kIpv4HeaderSize = 20;
inline constexpr std::size_t kUdpHeaderSize = 8;
inline constexpr std::size_t kTcpHeaderSize = 20;
// Largest TCP payload per synthesized segment (an Ethernet MSS).
inline constexpr std::size_t kTcpSegmentPayload = 1460;
// Largest UDP payload one IPv4 packet carries.
inline constexpr std::size_t kMaxUdpPayload = 65535 - kIpv4HeaderSize - kUdpHeaderSize;

// The Internet checksum (RFC 1071) of `bytes` added to a running sum.
std::uint32_t checksumAdd(std::uint32_t sum, std::string_view bytes);
std::uint16_t checksumFold(std::uint32_t sum);

// Appends one IPv4/UDP packet. A payload past kMaxUdpPayload is cut there.
void appendUdpPacket(std::string& out, Endpoint from, Endpoint to, std::string_view payload, std::uint16_t ipId);

enum TcpFlags : std::uint8_t { kFin = 0x01, kSyn = 0x02, kPsh = 0x08, kAck = 0x10 };

// Appends one IPv4/TCP segment.
void appendTcpSegment(std::string& out, Endpoint from, Endpoint to, std::uint32_t seq, std::uint32_t ack,
                      std::uint8_t flags, std::string_view payload, std::uint16_t ipId);

// One HTTP transfer as the packets of a TCP connection, each with its time.
// The handshake and the request are placed at `startMicros`, the response
// and the close at `endMicros` (one microsecond apart each, so that the
// order survives any sort by time).
struct TimedPacket {
    std::int64_t micros = 0;
    std::string bytes;
};
std::vector<TimedPacket> tcpConversation(Endpoint client, Endpoint server, std::string_view request,
                                         std::string_view response, std::int64_t startMicros,
                                         std::int64_t endMicros, std::uint16_t& ipId);

} // namespace fieldmon::capture
