#include "capture/SyntheticPackets.h"

#include <algorithm>

namespace fieldmon::capture {

namespace {

constexpr std::uint8_t kProtocolTcp = 6;
constexpr std::uint8_t kProtocolUdp = 17;

void put16(std::string& out, std::size_t at, std::uint16_t v)
{
    out[at] = static_cast<char>(v >> 8);
    out[at + 1] = static_cast<char>(v);
}

void put32(std::string& out, std::size_t at, std::uint32_t v)
{
    put16(out, at, static_cast<std::uint16_t>(v >> 16));
    put16(out, at + 2, static_cast<std::uint16_t>(v));
}

// Appends a 20-byte IPv4 header for `payloadSize` bytes of `protocol`;
// returns where it starts.
std::size_t appendIpv4Header(std::string& out, Endpoint from, Endpoint to, std::uint8_t protocol,
                             std::size_t payloadSize, std::uint16_t ipId)
{
    const std::size_t at = out.size();
    out.append(kIpv4HeaderSize, '\0');
    out[at] = 0x45; // version 4, 5 words of header
    put16(out, at + 2, static_cast<std::uint16_t>(kIpv4HeaderSize + payloadSize));
    put16(out, at + 4, ipId);
    put16(out, at + 6, 0x4000); // don't fragment
    out[at + 8] = 64;           // time to live
    out[at + 9] = static_cast<char>(protocol);
    put32(out, at + 12, from.address);
    put32(out, at + 16, to.address);
    put16(out, at + 10, checksumFold(checksumAdd(0, std::string_view(out).substr(at, kIpv4HeaderSize))));
    return at;
}

// The pseudo-header's share of a UDP or TCP checksum.
std::uint32_t pseudoHeaderSum(Endpoint from, Endpoint to, std::uint8_t protocol, std::size_t length)
{
    std::string p(12, '\0');
    put32(p, 0, from.address);
    put32(p, 4, to.address);
    p[9] = static_cast<char>(protocol);
    put16(p, 10, static_cast<std::uint16_t>(length));
    return checksumAdd(0, p);
}

} // namespace

std::uint32_t checksumAdd(std::uint32_t sum, std::string_view bytes)
{
    // Sixteen-bit words, big-endian; an odd last byte is padded with zero.
    // The sum is folded as it goes so that it never overflows.
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    std::uint64_t s = sum;
    for (; n >= 2; n -= 2, b += 2)
        s += static_cast<std::uint32_t>(b[0] << 8 | b[1]);
    if (n)
        s += static_cast<std::uint32_t>(b[0] << 8);
    while (s >> 32)
        s = (s & 0xFFFFFFFFu) + (s >> 32);
    return static_cast<std::uint32_t>(s);
}

std::uint16_t checksumFold(std::uint32_t sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

void appendUdpPacket(std::string& out, Endpoint from, Endpoint to, std::string_view payload, std::uint16_t ipId)
{
    payload = payload.substr(0, kMaxUdpPayload);
    const std::size_t udpLength = kUdpHeaderSize + payload.size();
    appendIpv4Header(out, from, to, kProtocolUdp, udpLength, ipId);
    const std::size_t at = out.size();
    out.append(kUdpHeaderSize, '\0');
    put16(out, at, from.port);
    put16(out, at + 2, to.port);
    put16(out, at + 4, static_cast<std::uint16_t>(udpLength));
    out.append(payload);
    std::uint16_t sum = checksumFold(
        checksumAdd(pseudoHeaderSum(from, to, kProtocolUdp, udpLength), std::string_view(out).substr(at)));
    put16(out, at + 6, sum == 0 ? 0xFFFF : sum); // 0 would mean "no checksum"
}

void appendTcpSegment(std::string& out, Endpoint from, Endpoint to, std::uint32_t seq, std::uint32_t ack,
                      std::uint8_t flags, std::string_view payload, std::uint16_t ipId)
{
    const std::size_t tcpLength = kTcpHeaderSize + payload.size();
    appendIpv4Header(out, from, to, kProtocolTcp, tcpLength, ipId);
    const std::size_t at = out.size();
    out.append(kTcpHeaderSize, '\0');
    put16(out, at, from.port);
    put16(out, at + 2, to.port);
    put32(out, at + 4, seq);
    put32(out, at + 8, ack);
    out[at + 12] = static_cast<char>(5 << 4); // 5 words of header, no options
    out[at + 13] = static_cast<char>(flags);
    put16(out, at + 14, 65535); // window
    out.append(payload);
    put16(out, at + 16,
          checksumFold(checksumAdd(pseudoHeaderSum(from, to, kProtocolTcp, tcpLength), std::string_view(out).substr(at))));
}

std::vector<TimedPacket> tcpConversation(Endpoint client, Endpoint server, std::string_view request,
                                         std::string_view response, std::int64_t startMicros,
                                         std::int64_t endMicros, std::uint16_t& ipId)
{
    std::vector<TimedPacket> out;
    std::int64_t t = startMicros;
    auto emit = [&](Endpoint from, Endpoint to, std::uint32_t seq, std::uint32_t ack, std::uint8_t flags,
                    std::string_view payload) {
        TimedPacket p{t++, {}};
        appendTcpSegment(p.bytes, from, to, seq, ack, flags, payload, ipId++);
        out.push_back(std::move(p));
    };
    // Initial sequence numbers of our own choosing; any value is valid, and
    // distinct ones per side make a reader's mistakes visible.
    std::uint32_t c = 0x10000000u + static_cast<std::uint32_t>(startMicros & 0xFFFFFF);
    std::uint32_t s = 0x60000000u + static_cast<std::uint32_t>(endMicros & 0xFFFFFF);

    emit(client, server, c, 0, kSyn, {});
    emit(server, client, s, c + 1, kSyn | kAck, {});
    ++c;
    ++s;
    emit(client, server, c, s, kAck, {});
    for (std::size_t at = 0; at < request.size(); at += kTcpSegmentPayload) {
        const auto piece = request.substr(at, kTcpSegmentPayload);
        const bool last = at + piece.size() == request.size();
        emit(client, server, c, s, static_cast<std::uint8_t>(kAck | (last ? kPsh : 0)), piece);
        c += static_cast<std::uint32_t>(piece.size());
    }
    emit(server, client, s, c, kAck, {});

    t = std::max(t, endMicros);
    for (std::size_t at = 0; at < response.size(); at += kTcpSegmentPayload) {
        const auto piece = response.substr(at, kTcpSegmentPayload);
        const bool last = at + piece.size() == response.size();
        emit(server, client, s, c, static_cast<std::uint8_t>(kAck | (last ? kPsh : 0)), piece);
        s += static_cast<std::uint32_t>(piece.size());
    }
    emit(client, server, c, s, kAck, {});
    emit(server, client, s, c, kFin | kAck, {});
    emit(client, server, c, s + 1, kFin | kAck, {});
    emit(server, client, s + 1, c + 1, kAck, {});
    return out;
}

} // namespace fieldmon::capture
