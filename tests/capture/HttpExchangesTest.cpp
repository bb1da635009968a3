// HTTP out of TCP packets: what the recorder synthesizes and what tcpdump
// saw on a real network (retransmissions, reordering, keep-alive, chunks).

#include "capture/HttpExchanges.h"
#include "capture/SyntheticPackets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace fieldmon::capture;

namespace {

const Endpoint kClient{0x0A4D0001, 50123};
const Endpoint kServer{0x0A4D000A, 80};

// The packets of a conversation as the reader would give them.
struct Segment {
    std::int64_t micros;
    CapturedPacket::Protocol protocol = CapturedPacket::Protocol::Tcp;
    Endpoint from, to;
    std::uint32_t seq, ack;
    std::uint8_t flags;
    std::string payload;
    CapturedPacket view() const
    {
        CapturedPacket p;
        p.micros = micros;
        p.protocol = protocol;
        p.from = from;
        p.to = to;
        p.seq = seq;
        p.ack = ack;
        p.tcpFlags = flags;
        p.payload = payload;
        return p;
    }
};

std::uint32_t be32(const std::string& b, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

std::vector<Segment> segments(const std::vector<TimedPacket>& packets)
{
    std::vector<Segment> out;
    for (const auto& tp : packets) {
        const std::string& p = tp.bytes;
        Segment s{tp.micros, CapturedPacket::Protocol::Tcp, {be32(p, 12), 0}, {be32(p, 16), 0},
                  be32(p, 24), be32(p, 28), static_cast<std::uint8_t>(p[33]), p.substr(40)};
        s.from.port = static_cast<std::uint16_t>(static_cast<unsigned char>(p[20]) << 8 | static_cast<unsigned char>(p[21]));
        s.to.port = static_cast<std::uint16_t>(static_cast<unsigned char>(p[22]) << 8 | static_cast<unsigned char>(p[23]));
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<HttpExchange> run(const std::vector<Segment>& in)
{
    HttpExchanges h;
    std::vector<HttpExchange> done;
    for (const auto& s : in)
        h.add(s.view(), done);
    h.finish(done);
    return done;
}

const std::string kRequest = "GET /ui.xml HTTP/1.1\r\nHost: 10.77.0.10\r\nConnection: Keep-Alive\r\n\r\n";

std::string response(const std::string& body, const std::string& type = "text/xml")
{
    return "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

} // namespace

TEST(HttpExchanges, ARecordedTransferComesBackWhole)
{
    const std::string body = "<ui>" + std::string(5000, 'x') + "</ui>";
    std::uint16_t id = 1;
    const auto got = run(segments(tcpConversation(kClient, kServer, kRequest, response(body), 10, 900, id)));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].client, kClient);
    EXPECT_EQ(got[0].server, kServer);
    EXPECT_EQ(got[0].method, "GET");
    EXPECT_EQ(got[0].target, "/ui.xml");
    EXPECT_EQ(got[0].status, 200);
    EXPECT_EQ(got[0].contentType, "text/xml");
    EXPECT_EQ(got[0].body, body);
    EXPECT_EQ(got[0].request, kRequest);
    EXPECT_EQ(got[0].response, response(body));
    EXPECT_GE(got[0].responseMicros, 900);
}

TEST(HttpExchanges, RetransmittedAndReorderedSegmentsAreSetRight)
{
    const std::string body(9000, 'p');
    std::uint16_t id = 1;
    auto in = segments(tcpConversation(kClient, kServer, kRequest, response(body, "image/png"), 10, 900, id));
    // Shuffle the response's data segments (after the handshake and request)
    // and send two of them twice, one overlapping what came before.
    std::mt19937 random(7);
    std::shuffle(in.begin() + 5, in.end() - 4, random);
    in.insert(in.begin() + 7, in[6]);
    Segment overlap = in[9];
    overlap.seq -= 10;
    overlap.payload = std::string(10, 'p') + overlap.payload;
    in.insert(in.begin() + 10, overlap);
    const auto got = run(in);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].body, body);
    EXPECT_EQ(got[0].contentType, "image/png");
}

TEST(HttpExchanges, KeepAliveCarriesSeveralTransfersInOrderWithChunksAndCloseDelimitedBodies)
{
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
    const std::string closing = "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\nnope";
    const std::string request2 = "GET /logo.png HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string request3 = "GET /gone.png HTTP/1.1\r\nHost: x\r\n\r\n";
    // One connection: three requests, their answers in one stream, and the
    // server's close ends the last body. Joined without the handshake.
    std::vector<Segment> in;
    std::uint32_t c = 1000, s = 9000;
    auto client = [&](const std::string& data) {
        in.push_back({1, CapturedPacket::Protocol::Tcp, kClient, kServer, c, s, 0x18, data});
        c += static_cast<std::uint32_t>(data.size());
    };
    auto server = [&](const std::string& data, std::uint8_t flags = 0x18) {
        in.push_back({2, CapturedPacket::Protocol::Tcp, kServer, kClient, s, c, flags, data});
        s += static_cast<std::uint32_t>(data.size());
    };
    client(kRequest + request2);
    server(response("<ui/>") + chunked.substr(0, 30));
    server(chunked.substr(30));
    client(request3);
    server(closing, 0x19); // with FIN
    const auto got = run(in);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].target, "/ui.xml");
    EXPECT_EQ(got[0].body, "<ui/>");
    EXPECT_EQ(got[1].target, "/logo.png");
    EXPECT_EQ(got[1].body, "hello world");
    EXPECT_EQ(got[1].response, chunked);
    EXPECT_EQ(got[2].target, "/gone.png");
    EXPECT_EQ(got[2].status, 404);
    EXPECT_EQ(got[2].body, "nope");
}

TEST(HttpExchanges, OtherTcpTrafficGivesNothingAndHoldsNoConnection)
{
    std::vector<Segment> in = {
        {1, CapturedPacket::Protocol::Tcp, kClient, {kServer.address, 22}, 1, 0, 0x02, ""},
        {2, CapturedPacket::Protocol::Tcp, kClient, {kServer.address, 22}, 2, 0, 0x18, "SSH-2.0-OpenSSH_9.2\r\n"},
        {3, CapturedPacket::Protocol::Tcp, kClient, kServer, 7, 0, 0x10, ""}, // a stray ACK
    };
    HttpExchanges h;
    std::vector<HttpExchange> done;
    for (const auto& s : in)
        h.add(s.view(), done);
    EXPECT_TRUE(done.empty());
    EXPECT_EQ(h.openConnections(), 0u);
}
