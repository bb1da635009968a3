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

// What a device list does: read the sections holding the dictionary lock and
// then the type-array lock, as the lock order says. Returns false when the
// two containers disagree.
bool readLikeTheDeviceList(ClientFinder& f, std::size_t& rows)
{
    f.lockTypeDictionary();
    f.lockTypeArray();
    bool consistent = f.clientTypeArray().size() == f.clientTypeDictionary().size();
    for (const auto& key : f.clientTypeArray()) {
        auto it = f.clientTypeDictionary().find(key);
        if (it == f.clientTypeDictionary().end() || it->second.empty()) {
            consistent = false;
            continue;
        }
        for (const auto& c : it->second)
            rows += c->serialNumber() >= 0;
    }
    f.unlockTypeArray();
    f.unlockTypeDictionary();
    return consistent;
}

} // namespace

TEST(Concurrency, AnnouncementsRemovalsAndAReaderTogether)
{
    FinderRig rig;
    std::atomic<bool> done{false};
    std::atomic<int> inconsistent{0};
    std::thread screen([&] {
        std::size_t rows = 0;
        while (!done)
            if (!readLikeTheDeviceList(*rig.finder, rows))
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

    // Every record a screen kept is the one its device has now, via the graveyard.
    rig.finder->lockIDArray();
    EXPECT_EQ(rig.finder->clientGraveyard().size(), shown.size());
    rig.finder->unlockIDArray();
    std::set<Client*> distinct;
    for (auto& c : shown)
        distinct.insert(c.get());
    EXPECT_EQ(distinct.size(), shown.size());
}
