// Reading captures: every link type a tcpdump or Wireshark capture of the
// device network may have, what is skipped (and counted), and files that
// end badly.

#include "capture/CaptureReader.h"
#include "capture/PcapngBlocks.h"
#include "capture/SyntheticPackets.h"

#include "CaptureFiles.h"

#include <gtest/gtest.h>

using namespace fieldmon::capture;
using namespace fieldmon::test;

namespace {

const Endpoint kApp{0x0A4D0001, 10023};
const Endpoint kDevice{0x0A4D000A, 10024};

std::string udp(std::string_view payload, Endpoint from = kDevice, Endpoint to = kApp)
{
    std::string p;
    appendUdpPacket(p, from, to, payload, 1);
    return p;
}

struct Read {
    std::vector<CapturedPacket> packets;
    std::vector<std::string> payloads;
    CaptureReader::Next last = CaptureReader::Next::End;
    std::string error;
    CaptureReader::Skipped skipped;
};

Read readAll(const std::string& path)
{
    Read r;
    std::string why;
    auto reader = CaptureReader::open(path, why);
    EXPECT_TRUE(reader) << why;
    if (!reader)
        return r;
    CapturedPacket p;
    while ((r.last = reader->next(p)) == CaptureReader::Next::Packet) {
        r.payloads.emplace_back(p.payload);
        r.packets.push_back(p);
    }
    r.error = reader->error();
    r.skipped = reader->skipped();
    return r;
}

std::string ourCapture(const std::vector<std::string>& packets)
{
    std::string f;
    appendSectionHeader(f, "fieldmon test");
    appendInterfaceDescription(f, kLinkTypeIpv4, "test");
    std::int64_t t = 1'700'000'000'000'000;
    for (const auto& p : packets)
        appendEnhancedPacket(f, t += 1500, p, "a comment");
    return f;
}

} // namespace

TEST(CaptureReader, ReadsOurPcapngBackWithAddressesPortsTimesAndPayloads)
{
    TempDir dir;
    writeFile(dir.file("ours.pcapng"), ourCapture({udp("mPLAT;PUMP;North well;3;1207;0"), udp("h", kApp, kDevice)}));
    const Read r = readAll(dir.file("ours.pcapng"));
    ASSERT_EQ(r.packets.size(), 2u);
    EXPECT_EQ(r.last, CaptureReader::Next::End);
    EXPECT_EQ(r.payloads[0], "mPLAT;PUMP;North well;3;1207;0");
    EXPECT_EQ(r.packets[0].from, kDevice);
    EXPECT_EQ(r.packets[0].to, kApp);
    EXPECT_EQ(r.packets[1].from, kApp);
    EXPECT_EQ(r.packets[0].micros, 1'700'000'000'001'500);
    EXPECT_EQ(r.packets[1].micros - r.packets[0].micros, 1500);
}

TEST(CaptureReader, EveryLinkTypeOfATcpdumpCaptureGivesTheSamePackets)
{
    TempDir dir;
    const std::string ip = udp(std::string("V\x62\x00\x01\x00\x00\x00", 7), kDevice, kApp);
    std::string vlan = ethernet(ip, 0x8100);
    vlan.insert(14, std::string("\x00\x05\x08\x00", 4));
    const struct {
        const char* name;
        std::uint32_t linkType;
        std::string frame;
    } cases[] = {
        {"raw IPv4", 228, ip},       {"raw IP", 101, ip},          {"Ethernet", 1, ethernet(ip)},
        {"Ethernet VLAN", 1, vlan},  {"SLL", 113, linuxCooked(ip)}, {"SLL2", 276, linuxCooked2(ip)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PcapFile f(c.linkType);
        f.add(2'000'000, c.frame);
        writeFile(dir.file("link.pcap"), f.bytes);
        const Read r = readAll(dir.file("link.pcap"));
        ASSERT_EQ(r.packets.size(), 1u);
        EXPECT_EQ(r.payloads[0], std::string("V\x62\x00\x01\x00\x00\x00", 7));
        EXPECT_EQ(r.packets[0].from, kDevice);
        EXPECT_EQ(r.packets[0].to.port, 10023);
    }
}

TEST(CaptureReader, SkipsAndCountsIpv6FragmentsOtherProtocolsAndCutPackets)
{
    TempDir dir;
    PcapFile f(1);
    std::string ipv6(40, '\0');
    ipv6[0] = 0x60;
    f.add(1, ethernet(ipv6, 0x86DD));
    f.add(2, ethernet(std::string(28, '\x01'), 0x0806)); // ARP
    std::string first = udp(std::string(100, 'a'));
    first[6] = 0x20; // more fragments follow
    f.add(3, ethernet(first));
    std::string later = udp(std::string(100, 'b'));
    later[6] = 0x00;
    later[7] = 0x10; // offset 128 bytes
    f.add(4, ethernet(later));
    std::string icmp = udp("x");
    icmp[9] = 1;
    f.add(5, ethernet(icmp));
    f.add(6, ethernet(udp("long enough").substr(0, 30))); // snap length cut it
    f.add(7, ethernet(udp("i")));                         // the one to keep
    writeFile(dir.file("mixed.pcap"), f.bytes);
    const Read r = readAll(dir.file("mixed.pcap"));
    ASSERT_EQ(r.payloads, std::vector<std::string>{"i"});
    EXPECT_EQ(r.skipped.ipv6, 1u);
    EXPECT_EQ(r.skipped.fragments, 2u);
    EXPECT_EQ(r.skipped.otherProtocols, 2u);
    EXPECT_EQ(r.skipped.cutShort, 1u);
}

TEST(CaptureReader, AnUnknownLinkTypeIsRefusedByName)
{
    TempDir dir;
    PcapFile f(105); // IEEE 802.11
    f.add(1, std::string(40, '\0'));
    writeFile(dir.file("wifi.pcap"), f.bytes);
    std::string why;
    EXPECT_FALSE(CaptureReader::open(dir.file("wifi.pcap"), why));
    EXPECT_NE(why.find("link type IEEE802_11 (105) is not supported"), std::string::npos) << why;
}

TEST(CaptureReader, FilesThatEndBadlyGiveTheirWholePacketsThenAnError)
{
    TempDir dir;
    const std::string whole = ourCapture({udp("first"), udp("second"), udp("third")});
    PcapFile classic(228);
    for (const char* p : {"first", "second", "third"})
        classic.add(1, udp(p));
    const struct {
        const char* name;
        std::string bytes;
        std::size_t packets;
        bool openFails;
    } cases[] = {
        {"empty file", "", 0, true},
        {"pcapng cut inside the section header", whole.substr(0, 20), 0, true},
        {"pcapng cut inside the third packet's block", whole.substr(0, whole.size() - 10), 2, false},
        {"pcapng cut after a block's length word", whole.substr(0, whole.size() - 72), 2, false},
        {"pcap cut inside the third record", classic.bytes.substr(0, classic.bytes.size() - 3), 2, false},
        {"pcap cut inside a record header", classic.bytes.substr(0, classic.bytes.size() - 30), 2, false},
        {"not a capture", "GET / HTTP/1.1\r\n\r\n", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir.file("cut"), c.bytes);
        std::string why;
        auto reader = CaptureReader::open(dir.file("cut"), why);
        if (c.openFails) {
            EXPECT_FALSE(reader);
            EXPECT_FALSE(why.empty());
            continue;
        }
        ASSERT_TRUE(reader) << why;
        CapturedPacket p;
        std::size_t n = 0;
        CaptureReader::Next last;
        while ((last = reader->next(p)) == CaptureReader::Next::Packet)
            ++n;
        EXPECT_EQ(n, c.packets);
        EXPECT_EQ(last, CaptureReader::Next::Error);
        EXPECT_NE(reader->error().find("truncated"), std::string::npos) << reader->error();
        EXPECT_EQ(reader->next(p), CaptureReader::Next::End);
    }
}

TEST(CaptureReader, SeeksBackToAPacketItPassed)
{
    TempDir dir;
    writeFile(dir.file("seek.pcapng"), ourCapture({udp("one"), udp("two"), udp("three")}));
    std::string why;
    auto reader = CaptureReader::open(dir.file("seek.pcapng"), why);
    ASSERT_TRUE(reader);
    CapturedPacket p;
    ASSERT_EQ(reader->next(p), CaptureReader::Next::Packet);
    const auto second = reader->position();
    ASSERT_EQ(reader->next(p), CaptureReader::Next::Packet);
    ASSERT_EQ(reader->next(p), CaptureReader::Next::Packet);
    ASSERT_EQ(reader->next(p), CaptureReader::Next::End);
    ASSERT_TRUE(reader->seek(second));
    ASSERT_EQ(reader->next(p), CaptureReader::Next::Packet);
    EXPECT_EQ(p.payload, "two");
}
