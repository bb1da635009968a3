// Replay in virtual time: the recorded devices answer from what the capture
// shows as of the replay's clock, keep the recording's silences, send their
// events at the recorded times (at any speed), and start at `from` with the
// state the recording had there.

#include "sim/Replayer.h"

#include "capture/PcapngBlocks.h"
#include "capture/SyntheticPackets.h"

#include <arpa/inet.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace fieldmon;
using namespace fieldmon::sim;
using capture::Endpoint;

namespace {

const Endpoint kApp{0x0A4D0001, 10023};
const Endpoint kAppSending{0x0A4D0001, 41000};
const Endpoint kPump{0x0A4D000A, 10024};
const Endpoint kTwin{0x0A4D000B, 10024};
constexpr std::int64_t kT0 = 1'700'000'000'000'000;

// A capture made packet by packet, times in seconds after kT0; written in
// time order, as a capture is.
struct Capture {
    Capture& at(double t, Endpoint from, Endpoint to, const std::string& payload)
    {
        std::string p;
        capture::appendUdpPacket(p, from, to, payload, 1);
        return packet(kT0 + static_cast<std::int64_t>(t * 1e6), p);
    }
    Capture& packet(std::int64_t micros, const std::string& p)
    {
        packets.emplace_back(micros, p);
        return *this;
    }
    Capture& toDevice(double t, const std::string& d, Endpoint device = kPump) { return at(t, kAppSending, device, d); }
    Capture& fromDevice(double t, const std::string& d, Endpoint device = kPump) { return at(t, device, kApp, d); }
    std::string write()
    {
        std::string bytes;
        capture::appendSectionHeader(bytes, "test");
        capture::appendInterfaceDescription(bytes, capture::kLinkTypeIpv4, "test");
        std::stable_sort(packets.begin(), packets.end(), [](auto& a, auto& b) { return a.first < b.first; });
        for (const auto& [micros, p] : packets)
            capture::appendEnhancedPacket(bytes, micros, p);
        char name[] = "/tmp/fieldmon-replay-XXXXXX";
        const int fd = ::mkstemp(name);
        ::close(fd);
        std::ofstream(name, std::ios::binary) << bytes;
        files.push_back(name);
        return name;
    }
    ~Capture()
    {
        for (const auto& f : files)
            std::filesystem::remove(f);
    }
    std::vector<std::pair<std::int64_t, std::string>> packets;
    std::vector<std::string> files;
};

std::string le32(std::uint32_t v)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}

sockaddr_in host(std::uint16_t port = 41000)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(kApp.address);
    return a;
}

in_addr addressOf(Endpoint e) { return in_addr{htonl(e.address)}; }

// The recording: the pump announces itself every half second for 10 s,
// falls silent from 10 to 20 s, then announces again until 30 s. Its
// address reply gives variables 0, 2 and 3; its speed (4 bytes at 0x100)
// reads 1000 at 1 s and 1300 at 6 s; it sends an event at 3 s (to two apps).
Capture pumpRecording()
{
    Capture c;
    for (double t = 0; t < 30; t += 0.5)
        if (t < 10 || t >= 20)
            c.fromDevice(t, "mPLAT;PUMP;North well;3;1207;0");
    c.toDevice(0.6, "vbA4C8").fromDevice(0.61, "Vb" + le32(0x100) + le32(0x104) + le32(0x108) + std::string(1, '\0'));
    c.toDevice(1.0, "ac00000100E").fromDevice(1.01, "Ac" + le32(1000) + std::string(1, '\0'));
    c.fromDevice(3.0, "e12:00:03 PUMP STARTED");
    // A second app was listening too (a tcpdump of the site's network): the
    // device sent it the same event, which is still one event.
    c.at(3.0, kPump, {0x0A4D0002, 10023}, "e12:00:03 PUMP STARTED");
    c.toDevice(6.0, "ad00000100E").fromDevice(6.01, "Ad" + le32(1300) + std::string(1, '\0'));
    return c;
}

struct Live {
    Replayer replayer;
    double now = 500;
    std::vector<Outgoing> out;
    Live(const std::string& path, double speed = 1, double from = 0, bool loop = false)
        : replayer(ReplayOptions{path, speed, from, loop, 10023}, log)
    {
        std::string why;
        EXPECT_TRUE(replayer.open(why)) << why;
        replayer.start(now);
    }
    // Runs the clock to `seconds` after the start, ticking when asked to.
    void runTo(double seconds)
    {
        const double end = 500 + seconds;
        while (now < end) {
            const double next = replayer.tick(now, out);
            if (next < 0)
                return;
            now = std::min(end, std::max(next, now));
            if (now == end)
                replayer.tick(now, out);
        }
    }
    // What the devices answer `bytes`, sent to `device` now.
    std::vector<std::string> ask(const std::string& bytes, Endpoint device = kPump)
    {
        std::vector<Outgoing> replies;
        replayer.receive(bytes, host(), addressOf(device), now, replies);
        std::vector<std::string> texts;
        for (auto& r : replies)
            texts.push_back(r.datagram.bytes);
        return texts;
    }
    SimLog log;
};

} // namespace

TEST(Replayer, AnswersFromTheRecordingAsOfTheReplaysClock)
{
    Capture c = pumpRecording();
    Live live(c.write());
    live.runTo(0.2);
    EXPECT_EQ(live.ask("h"), std::vector<std::string>{"mPLAT;PUMP;North well;3;1207;0"});
    EXPECT_EQ(live.ask("F"), std::vector<std::string>{"i"});
    // Nothing recorded yet: the same silence as in the recording.
    EXPECT_TRUE(live.ask("vxA4").empty());
    live.runTo(2);
    // The live app groups its requests its own way; every byte it asks for
    // was recorded, so it gets them.
    EXPECT_EQ(live.ask("vxD4A4"), std::vector<std::string>{"Vx" + le32(0x108) + le32(0x100) + std::string(1, '\0')});
    EXPECT_EQ(live.ask("ay00000102C"), std::vector<std::string>{"Ay" + le32(1000).substr(2, 2) + std::string(1, '\0')});
    // Index 1 and the byte at 0x104 were never answered in the recording.
    EXPECT_TRUE(live.ask("vzB4").empty());
    EXPECT_TRUE(live.ask("ay00000101E").empty());
    live.runTo(6.5);
    EXPECT_EQ(live.ask("ay00000100E"), std::vector<std::string>{"Ay" + le32(1300) + std::string(1, '\0')});
    // Commands are logged, never acted on.
    EXPECT_TRUE(live.ask("cset speed 900\n").empty());
}

TEST(Replayer, KeepsTheRecordingsSilencesAndSendsEventsAtTheirTimesToTheLiveHost)
{
    Capture c = pumpRecording();
    Live live(c.write());
    live.runTo(0.1);
    live.ask("H"); // the live app is heard
    live.runTo(2.9);
    EXPECT_TRUE(live.out.empty());
    live.runTo(3.0);
    ASSERT_EQ(live.out.size(), 1u);
    EXPECT_EQ(live.out[0].datagram.bytes, "e12:00:03 PUMP STARTED");
    EXPECT_EQ(live.out[0].datagram.port, 10023);
    EXPECT_EQ(ntohl(live.out[0].datagram.to.s_addr), kApp.address);
    EXPECT_EQ(live.out[0].source, kPump.address);
    live.runTo(15);
    EXPECT_TRUE(live.ask("h").empty());
    EXPECT_TRUE(live.ask("F").empty());
    EXPECT_TRUE(live.ask("ay00000100E").empty());
    live.runTo(21);
    EXPECT_EQ(live.ask("F"), std::vector<std::string>{"i"});
}

TEST(Replayer, StartsFromTheStateTheRecordingHadThere)
{
    Capture c = pumpRecording();
    Live live(c.write(), 1, 5.5);
    live.ask("H");
    EXPECT_NEAR(live.replayer.recordedSecond(live.now), 5.5, 1e-6);
    EXPECT_EQ(live.ask("ay00000100E"), std::vector<std::string>{"Ay" + le32(1000) + std::string(1, '\0')});
    live.runTo(0.6);
    EXPECT_EQ(live.ask("ay00000100E"), std::vector<std::string>{"Ay" + le32(1300) + std::string(1, '\0')});
    EXPECT_TRUE(live.out.empty()); // the event at 3 s came before `from`
}

TEST(Replayer, KeepsTheRecordedSpacingAtAnySpeed)
{
    Capture c;
    for (int i = 0; i < 40; ++i)
        c.fromDevice(i * 0.01 + (i % 3) * 0.003, "e12:00:00 TICK " + std::to_string(i));
    for (double speed : {0.25, 1.0, 16.0}) {
        SCOPED_TRACE(speed);
        Live live(c.write(), speed);
        live.ask("H");
        std::vector<double> sent;
        double now = live.now;
        for (int guard = 0; guard < 10000; ++guard) {
            live.out.clear();
            const double next = live.replayer.tick(now, live.out);
            if (!live.out.empty())
                sent.insert(sent.end(), live.out.size(), now);
            if (next < 0)
                break;
            now = std::max(next, now);
        }
        ASSERT_EQ(sent.size(), 40u);
        for (int i = 1; i < 40; ++i) {
            const double recorded = (i * 0.01 + (i % 3) * 0.003) - ((i - 1) * 0.01 + ((i - 1) % 3) * 0.003);
            EXPECT_NEAR(sent[static_cast<std::size_t>(i)] - sent[static_cast<std::size_t>(i) - 1], recorded / speed, 1e-6);
        }
    }
}

TEST(Replayer, TwoDevicesWithOneSerialAtTwoAddressesAreBothPlayedWithTheirOwnMemory)
{
    Capture c;
    c.fromDevice(0, "mPLAT;PUMP;North well;3;1207;0").fromDevice(0.01, "mPLAT;PUMP;North well (copy);3;1207;0", kTwin);
    c.toDevice(0.1, "ab00000100E").fromDevice(0.11, "Ab" + le32(1) + std::string(1, '\0'));
    c.toDevice(0.2, "ab00000100E", kTwin).fromDevice(0.21, "Ab" + le32(2) + std::string(1, '\0'), kTwin);
    c.fromDevice(0.9, "i").fromDevice(0.9, "i", kTwin);
    Live live(c.write());
    live.runTo(0.5);
    EXPECT_EQ(live.replayer.deviceCount(), 2u);
    std::vector<Outgoing> replies;
    live.replayer.receive("h", host(), in_addr{htonl(0xFFFFFFFF)}, live.now, replies);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].source, kPump.address);
    EXPECT_EQ(replies[1].source, kTwin.address);
    EXPECT_EQ(replies[1].datagram.bytes, "mPLAT;PUMP;North well (copy);3;1207;0");
    EXPECT_EQ(live.ask("ac00000100E"), std::vector<std::string>{"Ac" + le32(1) + std::string(1, '\0')});
    EXPECT_EQ(live.ask("ac00000100E", kTwin), std::vector<std::string>{"Ac" + le32(2) + std::string(1, '\0')});
}

TEST(Replayer, AReplyToARequestNeverRecordedIsIgnored)
{
    // The capture began after the request went out: its reply says nothing
    // of which addresses it covers, so it must not land anywhere.
    Capture c;
    c.fromDevice(0, "mPLAT;PUMP;North well;3;1207;0");
    c.fromDevice(0.1, "Aq" + le32(77) + std::string(1, '\0'));
    c.toDevice(0.2, "ab00000100E").fromDevice(0.21, "Ac" + le32(88) + std::string(1, '\0')); // another id
    c.fromDevice(0.9, "i");
    Live live(c.write());
    live.runTo(0.5);
    EXPECT_EQ(live.replayer.device(kPump.address)->unpairedReplies(), 2u);
    EXPECT_EQ(live.replayer.device(kPump.address)->memory().knownBytes(), 0u);
    EXPECT_TRUE(live.ask("ab00000100E").empty());
}

TEST(Replayer, ACaptureWithNoDeviceIsRefused)
{
    Capture c;
    c.toDevice(0, "ab00000100E").at(1, kAppSending, {0x0A4D0063, 53}, "not ours");
    SimLog log;
    Replayer r(ReplayOptions{c.write(), 1, 0, false, 10023}, log);
    std::string why;
    EXPECT_FALSE(r.open(why));
    EXPECT_NE(why.find("no device"), std::string::npos) << why;
}

TEST(Replayer, ServesTheRecordedDocumentsAndLoopsOverTheRecording)
{
    Capture c;
    c.fromDevice(0, "mPLAT;PUMP;North well;3;1207;0");
    std::uint16_t id = 1;
    for (const auto& p : capture::tcpConversation({kApp.address, 50000}, {kPump.address, 80},
                                                  "GET /ui.xml HTTP/1.1\r\nHost: 10.77.0.10\r\n\r\n",
                                                  "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 6\r\n\r\n<ui/>\n",
                                                  kT0 + 200'000, kT0 + 300'000, id))
        c.packet(p.micros, p.bytes);
    c.fromDevice(1, "e12:00:01 ONE");
    Live live(c.write(), 1, 0, true);
    const auto document = live.replayer.device(kPump.address)->document("ui.xml");
    ASSERT_TRUE(document);
    EXPECT_EQ(document->body, "<ui/>\n");
    EXPECT_EQ(document->contentType, "text/xml");
    EXPECT_FALSE(live.replayer.device(kPump.address)->document("logo.png"));
    live.ask("H");
    live.runTo(3.5);
    std::size_t events = 0;
    for (const auto& o : live.out)
        events += o.datagram.bytes == "e12:00:01 ONE";
    EXPECT_GE(events, 2u);
    EXPECT_GE(live.replayer.passes(), 2u);
}
