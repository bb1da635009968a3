// End-to-end test of the example devices, run by ctest through tools/netns:
// a client written from the wire formats plays the app on 10.77.0.1 inside
// the private network, where broadcasting is safe. Outside that network it
// skips every test rather than broadcast anywhere.

#include "support/UdpPeer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <net/if.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

using fieldmon::test::UdpPeer;

namespace {

constexpr std::uint16_t kDevicePort = 10024;
constexpr std::uint16_t kAppPort = 10023;
const char* const kPump = "10.77.0.10";
const char* const kTurbine = "10.77.0.11";
const char* const kCrane = "10.77.0.12";

bool insidePrivateNetwork()
{
    const char* iface = std::getenv("FIELDMON_NETNS");
    return iface && *iface && if_nametoindex(iface) != 0;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string dotted(in_addr a)
{
    char t[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, t, sizeof t);
    return t;
}

std::uint32_t le32(const std::string& s, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t(static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)])) << (8 * i);
    return v;
}

std::int16_t le16(const std::string& s, std::size_t at)
{
    return static_cast<std::int16_t>(static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8));
}

class NetnsDevices : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!insidePrivateNetwork())
            GTEST_SKIP() << "not inside the private network of tools/netns; run through ctest";
        int one = 1;
        ::setsockopt(app_.fd(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        ASSERT_TRUE(app_.bound());
    }

    // Sends and returns the first answer from `device` (others are skipped).
    std::optional<UdpPeer::Datagram> ask(const std::string& bytes, const char* device, const char* to = nullptr)
    {
        if (!app_.sendTo(bytes, kDevicePort, to ? to : device))
            return std::nullopt;
        for (int i = 0; i < 20; ++i) {
            auto d = app_.receive(1000);
            if (!d)
                return std::nullopt;
            if (dotted(d->from.sin_addr) == device && d->bytes[0] != 'e')
                return d;
        }
        return std::nullopt;
    }

    // Addresses of the variables with indexes first..first+count-1, asked in one run.
    std::vector<std::uint32_t> addresses(const char* device, int first, int count)
    {
        const std::string request = std::string("vb") + static_cast<char>(65 + first) + std::to_string(4 * count);
        auto reply = ask(request, device);
        EXPECT_TRUE(reply);
        std::vector<std::uint32_t> out;
        if (!reply)
            return out;
        EXPECT_EQ(reply->bytes.size(), 2u + 4u * count + 1u);
        EXPECT_EQ(reply->bytes.substr(0, 2), "Vb");
        for (int i = 0; i < count && 2u + 4u * i + 4 <= reply->bytes.size(); ++i)
            out.push_back(le32(reply->bytes, 2 + 4 * static_cast<std::size_t>(i)));
        return out;
    }

    std::string memory(const char* device, std::uint32_t address, int count)
    {
        char item[16];
        std::snprintf(item, sizeof item, "%8.8x%c", address, 65 + count);
        auto reply = ask(std::string("ac") + item, device);
        if (!reply)
            return {};
        EXPECT_EQ(reply->bytes.size(), 3u + static_cast<std::size_t>(count));
        EXPECT_EQ(reply->bytes.back(), '\0') << "one closing byte";
        return reply->bytes.substr(2, static_cast<std::size_t>(count));
    }

    UdpPeer app_{"0.0.0.0", kAppPort};
};

} // namespace

TEST_F(NetnsDevices, BroadcastSearchFindsEveryDevice)
{
    for (const char* kind : {"H", "h"}) {
        ASSERT_TRUE(app_.sendTo(kind, kDevicePort, "255.255.255.255"));
        std::set<std::string> seen;
        while (auto d = app_.receive(700))
            if (d->bytes[0] == 'm')
                seen.insert(dotted(d->from.sin_addr) + " " + d->bytes);
        EXPECT_EQ(seen, (std::set<std::string>{"10.77.0.10 mPLAT;PUMP;North well;3;1207;0",
                                               "10.77.0.11 mPLAT;GENERATOR;Wind turbine 2;7;2301;0",
                                               "10.77.0.12 mPLAT;CRANE;Harbour crane;2;3150;1"}))
            << kind;
    }
}

TEST_F(NetnsDevices, UnicastReachesOnlyTheAddressedDevice)
{
    ASSERT_TRUE(app_.sendTo("H", kDevicePort, kTurbine));
    auto d = app_.receive(1000);
    ASSERT_TRUE(d);
    EXPECT_EQ(dotted(d->from.sin_addr), kTurbine);
    EXPECT_EQ(d->bytes, "mPLAT;GENERATOR;Wind turbine 2;7;2301;0");
    for (auto& more : app_.drain(300))
        EXPECT_NE(more[0], 'm') << "another device answered a unicast search: " << more;

    auto probe = ask("F", kPump);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->bytes, "i");
}

TEST_F(NetnsDevices, AddressAndValueRequestsReadKnownMemory)
{
    // The crane's variables 1..9: hook, st, address, quadmode, jx, jy, speedSel, trolley, lamp.
    const auto at = addresses(kCrane, 1, 9);
    ASSERT_EQ(at.size(), 9u);
    for (std::uint32_t a : at)
        EXPECT_NE(a, 0u);
    std::set<std::uint32_t> distinct(at.begin(), at.end());
    EXPECT_EQ(distinct.size(), 9u);

    const std::string hook = memory(kCrane, at[0], 4);
    ASSERT_EQ(hook.size(), 4u);
    EXPECT_EQ(le16(hook, 0), 120);
    EXPECT_EQ(le16(hook, 2), -35);

    const std::string st = memory(kCrane, at[1], 7); // flags, load (DEC10), gateway
    ASSERT_EQ(st.size(), 7u);
    EXPECT_EQ(st[0], 5);
    EXPECT_EQ(le16(st, 1), 125);
    EXPECT_EQ(st.substr(3), std::string("\x0a\x4d\x00\x01", 4));

    EXPECT_EQ(memory(kCrane, at[2], 4), std::string("\x0a\x4d\x00\x0c", 4));
    EXPECT_EQ(memory(kCrane, at[6], 1), std::string("\x04", 1)) << "enumerator MEDIUM = 4";
    EXPECT_EQ(memory(kCrane, at[7], 1), std::string("\xfd", 1)) << "char -3";

    // Beyond the 64 KiB memory: zeros.
    EXPECT_EQ(memory(kCrane, 0xFFFFFFF0u, 3), std::string(3, '\0'));
    // An undeclared index answers with the zero area.
    EXPECT_EQ(addresses(kCrane, 60, 1), std::vector<std::uint32_t>{0});
}

TEST_F(NetnsDevices, MergedItemsAndSeveralItemsInOneRequest)
{
    // Pump: speed (index 12) and temperature (13) lie 4 bytes apart, both 2 bytes.
    const auto at = addresses(kPump, 12, 2);
    ASSERT_EQ(at.size(), 2u);
    ASSERT_EQ(at[1], at[0] + 4);
    char items[64];
    // one merged item of 6 bytes (gap 2), then the second variable again alone
    std::snprintf(items, sizeof items, "ad%8.8xG%8.8xC", at[0], at[1]);
    auto reply = ask(items, kPump);
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->bytes.size(), 2u + 6u + 2u + 1u);
    EXPECT_EQ(reply->bytes.substr(6, 2), reply->bytes.substr(8, 2)) << "both items read the same temperature";
    const int temperature = le16(reply->bytes, 6);
    EXPECT_GE(temperature, 180);
    EXPECT_LE(temperature, 260);
    const int speed = static_cast<std::uint16_t>(le16(reply->bytes, 2));
    EXPECT_GE(speed, 800);
    EXPECT_LE(speed, 1400);
}

TEST_F(NetnsDevices, ServiceModeEventsAndTheChangedAnnouncement)
{
    ASSERT_TRUE(app_.sendTo("cservice 0\r\n", kDevicePort, kCrane));
    std::optional<UdpPeer::Datagram> event;
    while (auto d = app_.receive(1000))
        if (d->bytes.find("EVENTSYS_SVC_MODE") != std::string::npos) {
            event = d;
            break;
        }
    ASSERT_TRUE(event);
    EXPECT_EQ(dotted(event->from.sin_addr), kCrane);
    ASSERT_EQ(event->bytes.size(), 31u);
    EXPECT_EQ(event->bytes[0], 'e');
    EXPECT_EQ(event->bytes[3], ':');
    EXPECT_EQ(event->bytes[6], ':');
    EXPECT_EQ(event->bytes.substr(9), " EVENTSYS_SVC_MODE_OFF");
    auto off = ask("H", kCrane);
    ASSERT_TRUE(off);
    EXPECT_EQ(off->bytes, "mPLAT;CRANE;Harbour crane;2;3150;0");

    ASSERT_TRUE(app_.sendTo("cservice 1\r\n", kDevicePort, kCrane));
    bool on = false;
    while (auto d = app_.receive(1000))
        if ((on = d->bytes.size() > 9 && d->bytes.substr(9) == " EVENTSYS_SVC_MODE_ON"))
            break;
    EXPECT_TRUE(on);
    EXPECT_EQ(ask("H", kCrane)->bytes, "mPLAT;CRANE;Harbour crane;2;3150;1");
}

TEST_F(NetnsDevices, MappedCommandsChangeMemoryAndSendEvents)
{
    const auto at = addresses(kCrane, 4, 1); // quadmode
    ASSERT_EQ(at.size(), 1u);
    ASSERT_TRUE(app_.sendTo("cquad 1\n", kDevicePort, kCrane));
    bool event = false;
    while (auto d = app_.receive(1000))
        if ((event = d->bytes.find("QUADRANT MODE 1") != std::string::npos))
            break;
    EXPECT_TRUE(event);
    EXPECT_EQ(memory(kCrane, at[0], 1), std::string("\x01", 1));
    ASSERT_TRUE(app_.sendTo("cquad 0\n", kDevicePort, kCrane));
    app_.drain(200);
    EXPECT_EQ(memory(kCrane, at[0], 1), std::string("\x00", 1));
}

TEST_F(NetnsDevices, DevicesServeTheirFilesOverHttp)
{
    struct Case {
        const char* device;
        const char* file;
        std::string onDisk;
    };
    const std::string ex = std::string(FIELDMON_SOURCE_DIR) + "/examples/";
    const std::vector<Case> cases = {
        {kPump, "ui.xml", readFile(ex + "pump/ui.xml")},
        {kTurbine, "ui.xml", readFile(ex + "turbine/ui.xml")},
        {kTurbine, "logo.png", readFile(ex + "turbine/logo.png")},
        {kCrane, "ui.xml", readFile(ex + "crane/ui.xml")},
    };
    for (const Case& c : cases) {
        httplib::Client client(c.device, 80);
        client.set_connection_timeout(2);
        client.set_read_timeout(5);
        auto r = client.Get((std::string("/") + c.file).c_str());
        ASSERT_TRUE(r) << c.device << " " << c.file;
        EXPECT_EQ(r->status, 200);
        ASSERT_FALSE(c.onDisk.empty());
        EXPECT_EQ(r->body, c.onDisk) << c.device << " " << c.file;
    }
    httplib::Client pump(kPump, 80);
    auto missing = pump.Get("/logo.png");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404) << "the pump serves no logo";
}
