// The registry under both threads at once, with a screen reading it: meant
// to run under ThreadSanitizer as well (see .ci/run).

#include "device/Client.h"
#include "discovery/ClientFinder.h"

#include "support/FinderRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

using namespace fieldmon;
using fieldmon::test::FinderRig;

namespace {

// What the device list does: one snapshot of the sections. False when the
// registry's containers disagreed (a section left without records, a key
// twice).
bool readLikeTheDeviceList(ClientFinder& f)
{
    RegistrySnapshot shot = f.registrySnapshot();
    std::set<std::string> keys;
    for (const auto& section : shot.sections)
        if (section.records.empty() || !keys.insert(section.key).second)
            return false;
    return true;
}

} // namespace

TEST(Concurrency, AnnouncementsRemovalsAndAReaderTogether)
{
    FinderRig rig;
    std::atomic<bool> done{false};
    std::atomic<int> inconsistent{0};
    std::thread screen([&] {
        while (!done)
            if (!readLikeTheDeviceList(*rig.finder))
                ++inconsistent;
    });

    std::vector<Client::ShownLease> shown;
    constexpr int kRounds = 4;
    constexpr int kDevices = 8;
    for (int round = 0; round < kRounds; ++round) {
        for (int d = 0; d < kDevices; ++d) {
            int serial = 100 + d;
            // Types shift between rounds so records move between sections;
            // odd rounds swap addresses so devices move too.
            int host = 2 + (round % 2 ? kDevices - 1 - d : d);
            std::string type = (d + round) % 3 ? "PUMP" : "VALVE";
            // The event goes first: the reply to the announcement then shows
            // that it has been handled too (loopback keeps the order).
            rig.send(host, "e12:00:00 HELLO");
            ASSERT_TRUE(rig.announce(host, "PLAT;" + type + ";n;1;" + std::to_string(serial) + ";0"));
        }
        if (round == 0)
            for (int d = 0; d < kDevices; d += 2)
                shown.emplace_back(rig.at(("127.0.0." + std::to_string(2 + d)).c_str()));
        rig.s.loop.advance(7.0);
        ASSERT_TRUE(rig.pumpUntil([&] { return rig.registered() == 0; }, 5000)) << "round " << round;
    }
    done = true;
    screen.join();
    EXPECT_EQ(inconsistent, 0);

    // Every record a screen kept waits in the graveyard, the same object, to
    // come back with its device.
    const auto graveyard = rig.finder->registryContents().graveyard;
    EXPECT_EQ(graveyard.size(), shown.size());
    for (const auto& c : shown) {
        auto grave = graveyard.find(std::to_string(c->serialNumber()));
        EXPECT_TRUE(grave != graveyard.end() && grave->second.lock() == c.record()) << c->serialNumber();
    }
}

TEST(Concurrency, LeasesTakenAndDroppedWhileThePresenceCheckDecides)
{
    // The listen thread asks whether a record is shown while the main thread
    // opens and closes screens on it. Each answer must be whole: a record is
    // either kept in the graveyard with its "Lost client" alert or forgotten
    // without one; a record shown throughout is always kept, one never shown
    // never is, and references that are not leases (the test's own) count
    // for nothing.
    FinderRig rig;
    constexpr int kDevices = 12;
    std::vector<std::shared_ptr<Client>> records;
    for (int d = 0; d < kDevices; ++d) {
        ASSERT_TRUE(rig.announce(2 + d, "PLAT;PUMP;n;1;" + std::to_string(100 + d) + ";0"));
        records.push_back(rig.at(("127.0.0." + std::to_string(2 + d)).c_str()));
    }
    // Devices 0-3 are shown throughout, 4-7 never, 8-11 flicker.
    auto role = [](int d) { return d < 4 ? 's' : d < 8 ? 'n' : 'f'; };
    std::vector<Client::ShownLease> leases(kDevices);
    for (int d = 0; d < kDevices; ++d)
        if (role(d) == 's')
            leases[d] = Client::ShownLease(records[d]);

    rig.s.loop.advance(7.0);
    bool gone = rig.pumpUntil([&] {
        for (int d = 0; d < kDevices; ++d)
            if (role(d) == 'f')
                leases[d] = leases[d] ? Client::ShownLease() : Client::ShownLease(records[d]);
        return rig.registered() == 0;
    }, 5000);
    ASSERT_TRUE(gone);
    rig.pumpFor(50);

    std::set<std::string> told;
    for (const auto& shown : rig.s.alerts.history())
        if (shown.content.title == "Lost client")
            told.insert(shown.content.message);
    const auto graveyard = rig.finder->registryContents().graveyard;
    for (int d = 0; d < kDevices; ++d) {
        const std::string serial = std::to_string(100 + d);
        auto grave = graveyard.find(serial);
        const bool kept = grave != graveyard.end();
        EXPECT_TRUE(!kept || grave->second.lock() == records[d]) << serial;
        EXPECT_EQ(kept, told.count("Client " + serial + " disappeared") == 1) << serial;
        if (role(d) != 'f') {
            EXPECT_EQ(kept, role(d) == 's') << serial << ": shown throughout, or never";
        }
    }

    leases.clear();
    for (const auto& record : records)
        EXPECT_FALSE(record->shown()) << "every lease gave its count back";
}
