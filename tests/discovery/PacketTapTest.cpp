// The finder and its records show every datagram they send and receive to
// the packet tap, with the addresses and ports the packets really carried:
// the device's view of the app's sending port is the tap's.

#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "platform/PacketTapPoint.h"

#include "support/FinderRig.h"
#include "support/TapLog.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace fieldmon;
using fieldmon::test::FinderRig;
using Direction = platform::PacketTap::Direction;

namespace {

platform::PacketEnd endOf(const sockaddr_in& sa) { return {ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)}; }

// The first datagram that device `host` receives with these bytes, pumping
// the rig meanwhile.
std::optional<test::UdpPeer::Datagram> awaitAt(FinderRig& rig, int host, const std::string& bytes)
{
    std::optional<test::UdpPeer::Datagram> got;
    rig.pumpUntil([&] {
        while (auto d = rig.device(host).receive(0))
            if (d->bytes == bytes) {
                got = d;
                return true;
            }
        return false;
    });
    return got;
}

} // namespace

TEST(PacketTapFinder, EveryDatagramWithTheEndsItCarried)
{
    platform::PacketTapPoint taps;
    test::TapLog log;
    taps.attach(&log);
    FinderRig rig(LocalNetwork::Direct, false, nullptr, &taps);
    const platform::PacketEnd app{0x7F000001, rig.listenPort()};
    const platform::PacketEnd device{0x7F000002, rig.devicePort()};

    // Received on the listen thread: an announcement, answered by 's' from
    // the main thread.
    rig.send(2, "mPLAT;PUMP;North well;3;1207;0");
    auto answer = awaitAt(rig, 2, "s");
    ASSERT_TRUE(answer);
    const platform::PacketEnd sending = endOf(answer->from);
    EXPECT_EQ(sending.address, 0x7F000001u);
    EXPECT_NE(sending.port, rig.listenPort());

    // A command through the record, the search broadcast, and the presence
    // probe that the listen thread sends to a silent device.
    auto record = rig.at("127.0.0.2");
    ASSERT_TRUE(record);
    ASSERT_EQ(record->sendString("cstart 1\r\n"), 0);
    ASSERT_TRUE(awaitAt(rig, 2, "cstart 1\r\n"));
    ASSERT_EQ(rig.finder->charSendMsg('h'), 0);
    rig.s.loop.advance(2.0);
    ASSERT_TRUE(awaitAt(rig, 2, "F"));

    const std::vector<test::TapLog::Datagram> seen = log.datagrams();
    auto find = [&](const std::string& bytes) {
        return std::find_if(seen.begin(), seen.end(), [&](const auto& d) { return d.bytes == bytes; });
    };
    struct Expected {
        std::string bytes;
        Direction direction;
        platform::PacketEnd from, to;
    };
    for (const Expected& e : {Expected{"mPLAT;PUMP;North well;3;1207;0", Direction::Received, device, app},
                              Expected{"s", Direction::Sent, sending, device},
                              Expected{"cstart 1\r\n", Direction::Sent, sending, device},
                              Expected{"h", Direction::Sent, sending, {0x7F000001, rig.devicePort()}},
                              Expected{"F", Direction::Sent, sending, device}}) {
        auto d = find(e.bytes);
        ASSERT_NE(d, seen.end()) << e.bytes;
        EXPECT_EQ(d->direction, e.direction) << e.bytes;
        EXPECT_EQ(d->from, e.from) << e.bytes;
        EXPECT_EQ(d->to, e.to) << e.bytes;
    }
    taps.detach();
}
