// Synthesized packets: lengths and checksums a reader verifies, and TCP
// sequence numbers that line up the way a real connection's do.

#include "capture/SyntheticPackets.h"

#include <gtest/gtest.h>

using namespace fieldmon::capture;

namespace {

std::uint16_t be16(const std::string& b, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) << 8 | static_cast<unsigned char>(b[at + 1]));
}
std::uint32_t be32(const std::string& b, std::size_t at) { return std::uint32_t{be16(b, at)} << 16 | be16(b, at + 2); }

// A checksum verifies when the sum over the data, its checksum included,
// folds to zero (RFC 1071).
bool ipHeaderVerifies(const std::string& p) { return checksumFold(checksumAdd(0, p.substr(0, 20))) == 0; }

bool transportVerifies(const std::string& p)
{
    std::string pseudo = p.substr(12, 8);
    pseudo += '\0';
    pseudo += p[9];
    const auto length = static_cast<std::uint16_t>(p.size() - 20);
    pseudo += static_cast<char>(length >> 8);
    pseudo += static_cast<char>(length);
    return checksumFold(checksumAdd(checksumAdd(0, pseudo), p.substr(20))) == 0;
}

const Endpoint kApp{0x0A4D0001, 10023};
const Endpoint kDevice{0x0A4D000A, 10024};

} // namespace

TEST(SyntheticPackets, UdpPacketsCarryTheirLengthsAndChecksumsForEveryPayloadSize)
{
    // Odd sizes once put the pad byte on the wrong side of the last word.
    for (std::string payload : {std::string(), std::string("h"), std::string("mPLAT;PUMP;North well;3;1207;0"),
                                std::string("A\x62\xff\x00\x7f", 5), std::string(1023, '\xA5')}) {
        std::string p;
        appendUdpPacket(p, kDevice, kApp, payload, 77);
        SCOPED_TRACE(payload.size());
        ASSERT_EQ(p.size(), 28 + payload.size());
        EXPECT_EQ(p[0], 0x45);
        EXPECT_EQ(be16(p, 2), p.size());
        EXPECT_EQ(be16(p, 4), 77);
        EXPECT_EQ(p[9], 17);
        EXPECT_EQ(be32(p, 12), kDevice.address);
        EXPECT_EQ(be32(p, 16), kApp.address);
        EXPECT_EQ(be16(p, 20), 10024);
        EXPECT_EQ(be16(p, 22), 10023);
        EXPECT_EQ(be16(p, 24), 8 + payload.size());
        EXPECT_NE(be16(p, 26), 0); // 0 would mean "not computed"
        EXPECT_TRUE(ipHeaderVerifies(p));
        EXPECT_TRUE(transportVerifies(p));
        EXPECT_EQ(p.substr(28), payload);
    }
}

TEST(SyntheticPackets, TcpConversationNumbersEveryByteOnceAndClosesBothWays)
{
    const std::string request = "GET /ui.xml HTTP/1.1\r\nHost: 10.77.0.10\r\n\r\n";
    const std::string response = "HTTP/1.1 200 OK\r\nContent-Length: 4000\r\n\r\n" + std::string(4000, 'x');
    std::uint16_t ipId = 1;
    const Endpoint client{0x0A4D0001, 50000}, server{0x0A4D000A, 80};
    const auto packets = tcpConversation(client, server, request, response, 5'000'000, 5'200'000, ipId);

    // Walk the conversation as a receiver would: every segment starts where
    // the side's previous one ended (SYN and FIN count one), and every ACK
    // names the other side's next byte.
    std::uint32_t next[2] = {0, 0};
    bool started[2] = {false, false};
    std::string carried[2];
    std::int64_t last = 0;
    for (const auto& tp : packets) {
        const std::string& p = tp.bytes;
        ASSERT_TRUE(ipHeaderVerifies(p));
        ASSERT_TRUE(transportVerifies(p));
        ASSERT_GE(tp.micros, last);
        last = tp.micros;
        const int side = be32(p, 12) == client.address ? 0 : 1;
        const std::uint32_t seq = be32(p, 24), ack = be32(p, 28);
        const std::uint8_t flags = static_cast<std::uint8_t>(p[33]);
        const std::string payload = p.substr(40);
        EXPECT_LE(payload.size(), kTcpSegmentPayload);
        if (started[side]) {
            EXPECT_EQ(seq, next[side]);
        }
        started[side] = true;
        next[side] = seq + static_cast<std::uint32_t>(payload.size()) + ((flags & (kSyn | kFin)) ? 1 : 0);
        if (flags & kAck) {
            EXPECT_EQ(ack, next[1 - side]);
        }
        carried[side] += payload;
    }
    EXPECT_EQ(carried[0], request);
    EXPECT_EQ(carried[1], response);
    EXPECT_EQ(packets.front().micros, 5'000'000);
    EXPECT_GE(packets.back().micros, 5'200'000); // the response comes at the end time
    EXPECT_EQ(ipId, 1 + packets.size());
}
