// End-to-end test of the example devices, run by ctest through tools/netns:
// a client written from the wire formats plays the app on 10.77.0.1 inside
// the private network, where broadcasting is safe. Outside that network it
// skips rather than broadcast anywhere.
//
// It checks what only the real network shows: the search broadcast reaching
// every device, unicast reaching one, requests and commands crossing the
// link, files on port 80 of each device's own address. What each datagram
// means is pinned by the simulator's loopback tests (SimDevice, Simulator,
// RequestAnswer, DeviceMemory); the app's side by tests/e2e.

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

// The app's socket on 10.77.0.1:10023.
class App {
public:
    App()
    {
        int one = 1;
        ::setsockopt(socket.fd(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    }

    // Sends and returns the first answer from `device` that is not an event.
    std::optional<UdpPeer::Datagram> ask(const std::string& bytes, const char* device)
    {
        if (!socket.sendTo(bytes, kDevicePort, device))
            return std::nullopt;
        for (int i = 0; i < 20; ++i) {
            auto d = socket.receive(1000);
            if (!d)
                return std::nullopt;
            if (dotted(d->from.sin_addr) == device && d->bytes[0] != 'e')
                return d;
        }
        return std::nullopt;
    }

    // `count` bytes of device memory at the address of variable `index`.
    std::string variable(const char* device, int index, int count)
    {
        auto address = ask(std::string("vb") + static_cast<char>(65 + index) + "4", device);
        if (!address || address->bytes.size() != 7)
            return "<no address>";
        char item[16];
        std::snprintf(item, sizeof item, "%8.8x%c", le32(address->bytes, 2), 65 + count);
        auto reply = ask(std::string("ac") + item, device);
        if (!reply || reply->bytes.size() != 3u + static_cast<std::size_t>(count))
            return "<no value>";
        return reply->bytes.substr(2, static_cast<std::size_t>(count));
    }

    UdpPeer socket{"0.0.0.0", kAppPort};
};

} // namespace

TEST(NetnsDevices, TheExampleDevicesAcrossThePrivateNetwork)
{
    if (!insidePrivateNetwork())
        GTEST_SKIP() << "not inside the private network of tools/netns; run through ctest";
    App app;
    ASSERT_TRUE(app.socket.bound());

    // The search broadcast reaches every device, each answering from its address.
    ASSERT_TRUE(app.socket.sendTo("H", kDevicePort, "255.255.255.255"));
    std::set<std::string> seen;
    while (auto d = app.socket.receive(700))
        if (d->bytes[0] == 'm')
            seen.insert(dotted(d->from.sin_addr) + " " + d->bytes);
    EXPECT_EQ(seen, (std::set<std::string>{"10.77.0.10 mPLAT;PUMP;North well;3;1207;0",
                                           "10.77.0.11 mPLAT;GENERATOR;Wind turbine 2;7;2301;0",
                                           "10.77.0.12 mPLAT;CRANE;Harbour crane;2;3150;1"}));

    // A unicast reaches the addressed device only.
    ASSERT_TRUE(app.socket.sendTo("H", kDevicePort, kTurbine));
    auto one = app.socket.receive(1000);
    ASSERT_TRUE(one);
    EXPECT_EQ(dotted(one->from.sin_addr), kTurbine);
    for (auto& more : app.socket.drain(300))
        EXPECT_NE(more[0], 'm') << "another device answered a unicast search: " << more;

    // Requests cross the link: the crane's hook (variable 1) holds x 120, y -35.
    const std::string hook = app.variable(kCrane, 1, 4);
    ASSERT_EQ(hook.size(), 4u) << hook;
    EXPECT_EQ(le16(hook, 0), 120);
    EXPECT_EQ(le16(hook, 2), -35);

    // A command changes the device's memory (quadmode, variable 4) and comes
    // back as an event.
    ASSERT_TRUE(app.socket.sendTo("cquad 1\n", kDevicePort, kCrane));
    bool event = false;
    while (auto d = app.socket.receive(1000))
        if ((event = d->bytes.find("QUADRANT MODE 1") != std::string::npos))
            break;
    EXPECT_TRUE(event);
    EXPECT_EQ(app.variable(kCrane, 4, 1), std::string("\x01", 1));

    // Each device serves its own files on port 80 of its address.
    const std::string ex = std::string(FIELDMON_SOURCE_DIR) + "/examples/";
    struct File {
        const char* device;
        const char* name;
        std::string onDisk;
    };
    for (const File& f : {File{kPump, "ui.xml", readFile(ex + "pump/ui.xml")},
                          File{kTurbine, "logo.png", readFile(ex + "turbine/logo.png")},
                          File{kCrane, "ui.xml", readFile(ex + "crane/ui.xml")}}) {
        httplib::Client client(f.device, 80);
        client.set_connection_timeout(2);
        client.set_read_timeout(5);
        auto r = client.Get((std::string("/") + f.name).c_str());
        ASSERT_TRUE(r) << f.device << " " << f.name;
        EXPECT_EQ(r->status, 200);
        ASSERT_FALSE(f.onDisk.empty());
        EXPECT_EQ(r->body, f.onDisk) << f.device << " " << f.name;
    }
}
