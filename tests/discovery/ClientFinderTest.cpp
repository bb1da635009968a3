// Discovery over loopback: fake devices on 127.0.0.N talk to a real finder.

#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "variables/RequestQueues.h"
#include "platform/Diagnostics.h"
#include "platform/NotificationCenter.h"

#include "support/FinderRig.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace fieldmon;
using fieldmon::test::FinderRig;
using fieldmon::test::ipv4;

namespace {

sockaddr_in from(const char* address)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = ipv4(address);
    return sa;
}

struct Counter {
    std::atomic<int> count{0};
    platform::Subscription sub;
    Counter(platform::NotificationCenter& nc, const std::string& name)
        : sub(nc.subscribe(name, [this](const platform::Notification&) { ++count; }))
    {
    }
};

int occurrences(const std::string& text, const std::string& needle)
{
    int n = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

// The log line without its "hh:mm:ss " stamp.
std::string unstamped(const std::string& line)
{
    return line.size() > 9 ? line.substr(9) : line;
}

} // namespace

TEST(ClientFinder, AnnouncementMakesRecordUnderAllKeys)
{
    FinderRig rig;
    Counter found(rig.s.notifications, "ListeningFoundNewClient");
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;North well;3;1207;1"));

    auto c = rig.at("127.0.0.2");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->platform(), "PLAT");
    EXPECT_EQ(c->type(), "PUMP");
    EXPECT_EQ(c->name(), "North well");
    EXPECT_EQ(c->version(), 3);
    EXPECT_EQ(c->serialNumber(), 1207);
    EXPECT_TRUE(c->service());
    EXPECT_EQ(c->dictionaryIPString(), "127.0.0.2");
    EXPECT_EQ(ntohs(c->socketAddress().sin_port), rig.devicePort());
    EXPECT_EQ(c->presence().lastHeardTime(), rig.s.loop.now());
    EXPECT_EQ(rig.registered(), 1u);
    EXPECT_EQ(rig.typeKeys(), std::vector<std::string>{"PUMP (PLAT)"});
    EXPECT_EQ(rig.section("PUMP (PLAT)"), std::vector<int>{1207});
    EXPECT_EQ(found.count, 1);
    ASSERT_EQ(c->eventLog().size(), 1u);
    EXPECT_EQ(unstamped(c->eventLog().back()), "EVENTIPOD_FOUND_CLIENT");
}

TEST(ClientFinder, RepeatedAnnouncementRefreshesSameRecordAndIsAnsweredOnce)
{
    FinderRig rig;
    Counter found(rig.s.notifications, "ListeningFoundNewClient");
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;North well;3;1207;1"));
    auto first = rig.at("127.0.0.2");
    rig.s.loop.advance(1.0);
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;South well;4;1207;0"));

    EXPECT_EQ(rig.at("127.0.0.2"), first);
    EXPECT_EQ(first->name(), "South well");
    EXPECT_EQ(first->version(), 4);
    EXPECT_FALSE(first->service());
    EXPECT_EQ(first->presence().lastHeardTime(), rig.s.loop.now());
    EXPECT_EQ(rig.registered(), 1u);
    EXPECT_EQ(found.count, 1); // same address, same record: no reload
    EXPECT_EQ(first->eventLog().size(), 1u); // FOUND only once
    // Exactly one 's' per announcement: nothing else is waiting at the device.
    rig.pumpFor(100);
    EXPECT_TRUE(rig.device(2).drain(50).empty());
}

TEST(ClientFinder, TypeKeysInOrderOfFirstAppearance)
{
    FinderRig rig;
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1;0"));
    ASSERT_TRUE(rig.announce(3, "PLAT;VALVE;b;1;2;0"));
    ASSERT_TRUE(rig.announce(4, "PLAT;PUMP;c;1;3;0"));
    ASSERT_TRUE(rig.announce(5, "OTHER;PUMP;d;1;4;0"));
    EXPECT_EQ(rig.typeKeys(), (std::vector<std::string>{"PUMP (PLAT)", "VALVE (PLAT)", "PUMP (OTHER)"}));
    EXPECT_EQ(rig.section("PUMP (PLAT)"), (std::vector<int>{1, 3}));
    EXPECT_EQ(rig.section("VALVE (PLAT)"), (std::vector<int>{2}));
    std::vector<int> order;
    for (const auto& record : rig.finder->registryContents().records)
        if (auto c = record.lock())
            order.push_back(c->serialNumber());
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(ClientFinder, KnownDeviceFromNewAddressKeepsItsRecord)
{
    FinderRig rig;
    Counter found(rig.s.notifications, "ListeningFoundNewClient");
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1207;0"));
    auto record = rig.at("127.0.0.2");
    // The device has moved: its old address leaves a probe unanswered.
    rig.s.loop.advance(ClientFinder::kProbeAfterSeconds + 0.1);
    rig.finder->checkPresence();
    rig.s.loop.advance(ClientFinder::kProbeAnswerSeconds);
    ASSERT_TRUE(rig.announce(3, "PLAT;PUMP;a;1;1207;0"));

    EXPECT_EQ(rig.at("127.0.0.3"), record);
    EXPECT_FALSE(rig.at("127.0.0.2"));
    EXPECT_EQ(record->dictionaryIPString(), "127.0.0.3");
    EXPECT_EQ(rig.registered(), 1u);
    EXPECT_EQ(found.count, 2); // the new address had no record before
    EXPECT_EQ(rig.finder->registryContents().addresses, 1u);
}

TEST(ClientFinder, AnotherHostClaimingAnAnsweringDevicesSerialTakesNothing)
{
    // Any host could take over an open device's record by announcing its
    // serial number: the user's next Host Request and service switch went to
    // that host. While the device answers at its own address, the claim
    // changes nothing; it is printed once, written into the device's log and
    // kept for the detail screen.
    FinderRig rig;
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;North well;3;1207;0"));
    auto record = rig.at("127.0.0.2");
    Counter found(rig.s.notifications, "ListeningFoundNewClient");
    platform::DiagnosticCapture diagnostics;
    for (int i = 0; i < 3; ++i) {
        rig.send(3, "mPLAT;PUMP;Impostor;3;1207;1");
        rig.pumpFor(50);
    }
    std::string printed = diagnostics.take();
    EXPECT_EQ(rig.at("127.0.0.2"), record);
    EXPECT_FALSE(rig.at("127.0.0.3"));
    EXPECT_EQ(record->name(), "North well");
    EXPECT_FALSE(record->service());
    EXPECT_EQ(record->rivalAddress(), "127.0.0.3");
    EXPECT_EQ(occurrences(printed, "Serial 1207 is claimed by 127.0.0.3 too; it stays with 127.0.0.2\n"), 1);
    EXPECT_EQ(unstamped(record->eventLog().back()), "Two hosts claim serial 1207: 127.0.0.2 and 127.0.0.3");
    EXPECT_EQ(record->eventNumber(), 2);
    EXPECT_EQ(found.count, 1) << "the detail screen reloads once to show the claim";
    EXPECT_FALSE(rig.device(3).receive(0)) << "no 's' for the impostor";
    EXPECT_EQ(record->sendString("chostreq\n"), 0);
    auto got = rig.device(2).receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, "chostreq\n");

    // Once the device leaves a probe unanswered, it has moved after all.
    rig.s.loop.advance(ClientFinder::kProbeAfterSeconds + 0.1);
    rig.finder->checkPresence();
    rig.s.loop.advance(ClientFinder::kProbeAnswerSeconds);
    ASSERT_TRUE(rig.announce(3, "PLAT;PUMP;North well;3;1207;0"));
    EXPECT_EQ(rig.at("127.0.0.3"), record);
    EXPECT_TRUE(record->rivalAddress().empty());
}

TEST(ClientFinder, SendersNoDeviceCanBeAreIgnored)
{
    // A datagram from 0.0.0.0 listed "Loopback (4242)": Connect then fetched
    // from the phone's own port 80 and commands went to its own UDP port.
    // Production rules refuse loopback, 0.0.0.0/8, multicast, broadcast and
    // the phone's own addresses (given here through the seam).
    test::TestServices s;
    ClientFinder::Seams seams;
    seams.broadcast = ipv4("127.0.0.1");
    seams.listenPort = 0;
    seams.devicePort = 9; // discard; nothing is answered anyway
    seams.localNetwork = [] { return LocalNetwork::Direct; };
    seams.sources.localAddresses = [] { return std::vector<in_addr>{ipv4("10.77.0.1"), ipv4("10.77.0.255")}; };
    ClientFinder finder(s.services, false, seams);
    for (const char* sender : {"0.0.0.0", "0.1.2.3", "127.0.0.1", "127.5.5.5", "224.0.0.1", "239.255.255.250",
                               "255.255.255.255", "10.77.0.1", "10.77.0.255"}) {
        finder.parsePacket(from(sender), "mLoop;back;Loopback;1;4242;1");
        finder.parsePacket(from(sender), "eEVENT");
        s.loop.runPending();
        EXPECT_FALSE(finder.getClientFromIP(ipv4(sender))) << sender;
    }
    EXPECT_TRUE(finder.registryContents().records.empty());
    finder.parsePacket(from("10.77.0.10"), "mPLAT;PUMP;North well;3;1207;0");
    EXPECT_TRUE(finder.getClientFromIP(ipv4("10.77.0.10"))) << "a LAN address is a device's";
}

TEST(ClientFinder, AFullRegistryForgetsTheRecordHeardFromLongestAgo)
{
    // A flood of announcements from new addresses grew the registry without
    // end, and every record drew its own probes.
    test::TestServices s;
    ClientFinder::Seams seams;
    seams.broadcast = ipv4("127.0.0.1");
    seams.listenPort = 0;
    seams.devicePort = 9;
    seams.localNetwork = [] { return LocalNetwork::Direct; };
    seams.sources.loopbackDevices = true;
    ClientFinder finder(s.services, false, seams);
    auto address = [](std::size_t i) {
        return "127.1." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250);
    };
    platform::DiagnosticCapture diagnostics;
    for (std::size_t i = 0; i <= ClientFinder::kMaxRecords; ++i) {
        if (i == 1)
            s.loop.advance(1); // the first is the one heard from longest ago
        finder.parsePacket(from(address(i).c_str()), "mPLAT;PUMP;x;1;" + std::to_string(i) + ";0");
    }
    finder.parsePacket(from("127.2.0.1"), "mPLAT;PUMP;y;1;99999;0");
    s.loop.runPending();
    std::string printed = diagnostics.take();
    EXPECT_EQ(finder.registryContents().records.size(), ClientFinder::kMaxRecords);
    EXPECT_FALSE(finder.getClientFromIP(ipv4(address(0).c_str())));
    EXPECT_FALSE(finder.getClientFromIP(ipv4(address(1).c_str())));
    EXPECT_TRUE(finder.getClientFromIP(ipv4(address(2).c_str())));
    EXPECT_TRUE(finder.getClientFromIP(ipv4("127.2.0.1")));
    EXPECT_EQ(occurrences(printed, "4096 devices listed: the one heard from longest ago makes room for each new one\n"), 1);
}

TEST(ClientFinder, TypeChangeMovesRecordBetweenSections)
{
    FinderRig rig;
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1;0"));
    ASSERT_TRUE(rig.announce(3, "PLAT;VALVE;b;1;2;0"));
    auto record = rig.at("127.0.0.2");
    ASSERT_TRUE(rig.announce(2, "PLAT;METER;a;1;1;0"));

    EXPECT_EQ(rig.at("127.0.0.2"), record);
    EXPECT_EQ(rig.typeKeys(), (std::vector<std::string>{"VALVE (PLAT)", "METER (PLAT)"})); // PUMP left empty
    EXPECT_EQ(rig.section("METER (PLAT)"), std::vector<int>{1});
    EXPECT_TRUE(rig.section("PUMP (PLAT)").empty());
    // A platform change alone moves it too.
    ASSERT_TRUE(rig.announce(2, "NEWPLAT;METER;a;1;1;0"));
    EXPECT_EQ(rig.typeKeys(), (std::vector<std::string>{"VALVE (PLAT)", "METER (NEWPLAT)"}));
}

TEST(ClientFinder, NewDeviceAtOccupiedAddressReplacesTheEarlierOne)
{
    FinderRig rig;
    Counter found(rig.s.notifications, "ListeningFoundNewClient");
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1;0"));
    Client::ShownLease old(rig.at("127.0.0.2"));
    ASSERT_TRUE(rig.announce(2, "PLAT;VALVE;b;1;2;0"));

    auto now = rig.at("127.0.0.2");
    ASSERT_TRUE(now);
    EXPECT_NE(now, old.record());
    EXPECT_EQ(now->serialNumber(), 2);
    EXPECT_EQ(rig.registered(), 1u);
    EXPECT_EQ(rig.typeKeys(), std::vector<std::string>{"VALVE (PLAT)"});
    EXPECT_EQ(found.count, 2);
    ASSERT_EQ(old->eventLog().size(), 2u);
    EXPECT_EQ(unstamped(old->eventLog().back()), "EVENTIPOD_LOST_CLIENT");
    // A screen shows `old`: it waits in the graveyard and the user is told.
    rig.pumpUntil([&] { return rig.s.alerts.openCount() == 1; });
    ASSERT_NE(rig.s.alerts.lastOpen(), nullptr);
    EXPECT_EQ(rig.s.alerts.lastOpen()->content.message, "Client 1 disappeared");
}

TEST(ClientFinder, EachDatagramKindReachesItsRecordOrIsDumpedOrDropped)
{
    FinderRig rig;
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1207;0"));
    auto c = rig.at("127.0.0.2");
    Counter events(rig.s.notifications, "eventFrom1207");
    Counter found(rig.s.notifications, "ListeningFoundNewClient");
    struct Case {
        std::string bytes;
        int host;
        bool heard;          // refreshes the record's lastHeardTime
        std::string printed; // a diagnostic dump, or the event line
    };
    const Case cases[] = {
        // The event text ends at the 0 byte.
        {std::string("e12:00:01 PUMP STARTED\0junk", 28), 2, true, "1207: 12:00:01 PUMP STARTED\n"},
        {"i", 2, true, ""},
        {"V\x01\x02", 2, true, ""},
        {"A\x03", 2, true, ""},
        // 'i' with more bytes is not a presence answer.
        {"ix", 2, false, "recsize: 2\n datagram: 0x69 0x78\n            105   120\n"},
        {"", 2, false, "recsize: 0\n datagram:\n         \n"},
        {"zz", 2, false, "recsize: 2\n datagram: 0x7a 0x7a\n            122   122\n"},
        {"z", 2, false, ""},
        {"f", 2, false, ""},
        {"fxyz", 2, false, ""},
        {"eLOST?", 9, false, ""}, // nobody registered at 127.0.0.9
        {"i", 9, false, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::PrintToString(k.bytes));
        rig.s.loop.advance(1.0);
        platform::DiagnosticCapture diagnostics;
        rig.finder->parsePacket(from(("127.0.0." + std::to_string(k.host)).c_str()), k.bytes);
        EXPECT_EQ(diagnostics.take(), k.printed);
        EXPECT_EQ(c->presence().lastHeardTime() == rig.s.loop.now(), k.heard);
    }
    EXPECT_EQ(events.count, 1);
    ASSERT_EQ(c->eventLog().size(), 2u); // FOUND and the one event
    EXPECT_EQ(c->eventLog().back(), "12:00:01 PUMP STARTED");
    EXPECT_EQ(found.count, 0);
}

TEST(ClientFinder, BareAnnouncementMakesDefaultRecord)
{
    FinderRig rig;
    ASSERT_TRUE(rig.announce(2, ""));
    auto c = rig.at("127.0.0.2");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->platform(), "");
    EXPECT_EQ(c->type(), "");
    EXPECT_EQ(c->serialNumber(), 0);
    EXPECT_EQ(c->version(), 0);
    EXPECT_EQ(rig.typeKeys(), std::vector<std::string>{" ()"});
}

TEST(ClientFinder, SearchSendsHOnceThenhOnSearchTicks)
{
    FinderRig rig;
    EXPECT_FALSE(rig.finder->searching());
    rig.pumpFor(600);
    EXPECT_TRUE(rig.search().drain(50).empty()); // no search before initiateSearch

    rig.finder->initiateSearch();
    EXPECT_TRUE(rig.finder->searching());
    auto first = rig.search().receive(500);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->bytes, "H");
    // Search ticks alternate with presence ticks: about one 'h' every 0.5 s.
    int h = 0;
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(2100))
        if (auto d = rig.search().receive(100)) {
            EXPECT_EQ(d->bytes, "h");
            ++h;
        }
    EXPECT_GE(h, 2);
    EXPECT_LE(h, 5); // never more than one per 0.5 s
}

TEST(ClientFinder, TicksKeepRunningWhileDataKeepsArriving)
{
    // A device that never stops talking must not starve the presence check
    // and the search: a tick still runs every 0.25 s.
    FinderRig rig;
    rig.finder->initiateSearch();
    ASSERT_TRUE(rig.search().receive(500));
    int h = 0;
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1600)) {
        for (int i = 0; i < 20; ++i)
            rig.send(7, "f");
        rig.s.loop.runPending();
        while (auto d = rig.search().receive(0))
            h += d->bytes == "h";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(h, 2);
    EXPECT_LE(h, 4);
}

TEST(ClientFinder, ReplacedDeviceNotOnScreenIsForgotten)
{
    // The announcement handler itself looks up the record at the sender's
    // address before registering the new one; that look-up once kept the old
    // record alive, so every replaced device looked "shown on a screen" and
    // raised a false "Lost client" alert.
    FinderRig rig;
    Counter lostEvents(rig.s.notifications, "eventFrom1");
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1;0"));
    std::weak_ptr<Client> old = rig.at("127.0.0.2");
    ASSERT_TRUE(rig.announce(2, "PLAT;VALVE;b;1;2;0"));
    rig.pumpFor(50);
    EXPECT_TRUE(old.expired());
    EXPECT_EQ(lostEvents.count, 2); // FOUND, then LOST
    EXPECT_EQ(rig.s.alerts.history().size(), 0u);
    EXPECT_TRUE(rig.finder->registryContents().graveyard.empty());
}

TEST(ClientFinder, VariableRepliesReachTheRecordsRequestTables)
{
    FinderRig rig;
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1207;0"));
    auto c = rig.at("127.0.0.2");
    const std::string v = RequestQueues::requestKey('b');
    const std::string a = RequestQueues::requestKey('c');
    c->variables().requests().sentAddressRequests()[v] = {};
    c->variables().requests().sentValueRequests()[a] = {};

    rig.finder->parsePacket(from("127.0.0.9"), "Vb"); // nobody at .9
    rig.finder->parsePacket(from("127.0.0.2"), "Vc"); // 'c' is an address query, not a value query
    rig.s.loop.runPending();
    EXPECT_EQ(c->variables().requests().sentAddressRequests().count(v), 1u);
    EXPECT_EQ(c->variables().requests().sentValueRequests().count(a), 1u);

    rig.finder->parsePacket(from("127.0.0.2"), "Vb");
    rig.finder->parsePacket(from("127.0.0.2"), "Ac");
    rig.s.loop.runPending();
    EXPECT_EQ(c->variables().requests().sentAddressRequests().count(v), 0u);
    EXPECT_EQ(c->variables().requests().sentValueRequests().count(a), 0u);
}
