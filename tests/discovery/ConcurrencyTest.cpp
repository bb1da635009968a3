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

    std::vector<std::shared_ptr<Client>> shown;
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
                shown.push_back(rig.at(("127.0.0." + std::to_string(2 + d)).c_str()));
        rig.s.loop.advance(7.0);
        ASSERT_TRUE(rig.pumpUntil([&] { return rig.registered() == 0; }, 5000)) << "round " << round;
    }
    done = true;
    screen.join();
    EXPECT_EQ(inconsistent, 0);

    // Every record a screen kept waits in the graveyard, the same object, to
    // come back with its device.
    rig.finder->lockIDArray();
    const auto& graveyard = rig.finder->clientGraveyard();
    EXPECT_EQ(graveyard.size(), shown.size());
    for (const auto& c : shown) {
        auto grave = graveyard.find(std::to_string(c->serialNumber()));
        EXPECT_TRUE(grave != graveyard.end() && grave->second == c) << c->serialNumber();
    }
    rig.finder->unlockIDArray();
}
