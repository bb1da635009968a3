// Anything may arrive on the listening port. Random datagrams of every size
// class from a few addresses must leave a small, sane registry (run under
// ASan in CI, where a read past the received bytes would fail the test).

#include "device/Client.h"
#include "discovery/ClientFinder.h"

#include "support/FinderRig.h"

#include <gtest/gtest.h>

#include <random>

using namespace fieldmon;
using fieldmon::test::FinderRig;

TEST(HostileTraffic, RandomDatagramsOfAnySizeLeaveASaneRegistry)
{
    FinderRig rig;
    std::mt19937 random(20261206); // fixed seed: a failure can be replayed
    const std::size_t sizes[] = {0, 1, 2, 3, 40, 1022, 1023, 1024, 5000, 65507};
    const char kinds[] = {'m', 'm', 'm', 'V', 'A', 'e', 'i', 'f', 's', '\0', '\xff'};
    constexpr int kDatagrams = 600;
    constexpr int kHosts = 4;

    std::string bytes;
    for (int i = 0; i < kDatagrams; ++i) {
        bytes.resize(sizes[random() % std::size(sizes)]);
        for (char& c : bytes) {
            // Mostly separators and digits, so announcements parse into fields.
            unsigned r = random() % 16;
            c = r < 3 ? ';' : r < 8 ? static_cast<char>('0' + random() % 10) : static_cast<char>(random());
        }
        if (!bytes.empty())
            bytes[0] = kinds[random() % std::size(kinds)];
        rig.send(2 + i % kHosts, bytes);
        if (i % 16 == 15)
            rig.pumpFor(5);
    }
    // A last announcement from each host; once it is registered, everything
    // that host sent before has been handled (one socket, in order). The
    // flood may have filled the receive buffer, which drops datagrams, so
    // the announcement is repeated as a device answering searches would.
    for (int h = 0; h < kHosts; ++h) {
        std::string address = "127.0.0." + std::to_string(2 + h);
        auto registered = [&] {
            auto c = rig.at(address.c_str());
            return c && c->serialNumber() == 90000 + h;
        };
        for (int attempt = 0; attempt < 50 && !registered(); ++attempt) {
            rig.send(2 + h, "mPLAT;PUMP;last;1;" + std::to_string(90000 + h) + ";0");
            rig.pumpUntil(registered, 200);
        }
        ASSERT_TRUE(registered()) << address;
    }

    EXPECT_EQ(rig.registered(), static_cast<std::size_t>(kHosts)); // one record per address
    const RegistryContents contents = rig.finder->registryContents();
    for (const auto& record : contents.records) {
        const auto c = record.lock();
        ASSERT_TRUE(c);
        EXPECT_LE(c->eventLog().size(), Client::kMaxEventLines);
        for (const auto& line : c->eventLog())
            EXPECT_LT(line.size(), ClientFinder::kMaxDatagram);
        EXPECT_EQ(c->name(), "last");
    }
    EXPECT_EQ(contents.addresses, static_cast<std::size_t>(kHosts));
}

TEST(HostileTraffic, LongDatagramsAreCutAt1023Bytes)
{
    FinderRig rig;
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;7;0"));
    rig.send(2, "e" + std::string(65506, 'x'));
    auto c = rig.at("127.0.0.2");
    ASSERT_TRUE(rig.pumpUntil([&] { return c->eventLog().size() == 2; }));
    EXPECT_EQ(c->eventLog().back(), std::string(1022, 'x'));

    // An announcement whose name runs past the cut keeps what was received;
    // its serial number was cut off, so it is device 0 replacing device 7.
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;" + std::string(2000, 'n') + ";1;7;0"));
    auto cut = rig.at("127.0.0.2");
    EXPECT_EQ(cut->name(), std::string(1023 - 11, 'n'));
    EXPECT_EQ(cut->serialNumber(), 0);
    EXPECT_NE(cut, c);
}
