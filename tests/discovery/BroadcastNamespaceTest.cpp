// The real search broadcast, end to end, with the application's own defaults
// (255.255.255.255, ports 10023 and 10024). It runs only inside the private
// network namespace that tests/discovery/netns-broadcast.sh makes: the finder
// in one namespace, a fake device on the far end of a veth pair in another
// (FIELDMON_NETNS_DEVICE names it). This binary is run only by that script;
// started anywhere else it fails before it sends anything, so nothing is ever
// broadcast on the machine's own network. The app's namespace is an
// ordinary LAN: a default gateway, no route of its own for 169.254/16.

#include "device/Client.h"
#include "discovery/ClientFinder.h"

#include "support/TestServices.h"
#include "support/UdpPeer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

using namespace fieldmon;

namespace {

// The device side, on a thread moved into the device's namespace.
struct FarDevice {
    std::atomic<bool> ready{false}, failed{false}, gotSearch{false}, gotReply{false};
    std::string firstSearch;
    std::thread thread;

    explicit FarDevice(const char* nsPath)
    {
        thread = std::thread([this, path = std::string(nsPath)] {
            int ns = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) {
                failed = true;
                ready = true;
                return;
            }
            ::close(ns);
            test::UdpPeer device("0.0.0.0", ClientFinder::kDevicePort);
            ready = true;
            if (!device.bound()) {
                failed = true;
                return;
            }
            auto search = device.receive(5000);
            if (!search)
                return;
            firstSearch = search->bytes;
            gotSearch = true;
            // Announce to the sender's address on the application's port.
            char from[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &search->from.sin_addr, from, sizeof from);
            device.sendTo("mNSPLAT;PUMP;Far well;3;4242;1", ClientFinder::kListenPort, from);
            for (int i = 0; i < 20 && !gotReply; ++i)
                if (auto d = device.receive(250); d && d->bytes == "s")
                    gotReply = true;
        });
    }
    ~FarDevice() { thread.join(); }
};

} // namespace

TEST(BroadcastNamespace, SearchReachesADeviceAcrossTheLink)
{
    const char* nsPath = std::getenv("FIELDMON_NETNS_DEVICE");
    ASSERT_NE(nsPath, nullptr) << "run this binary through tests/discovery/netns-broadcast.sh";

    FarDevice far(nsPath);
    while (!far.ready)
        std::this_thread::yield();
    ASSERT_FALSE(far.failed) << "the device could not enter its namespace or bind 10024";

    test::TestServices s;
    ClientFinder finder(s.services, false); // the application's defaults
    EXPECT_EQ(finder.listenPort(), ClientFinder::kListenPort);
    // The start-up test once asked whether 169.254/16 was reachable without a
    // gateway, so a LAN with a default gateway got "Can't access local WiFi".
    EXPECT_EQ(checkLocalNetwork(), LocalNetwork::Direct);
    EXPECT_EQ(s.alerts.history().size(), 0u) << "the veth link counts as the local network";
    finder.initiateSearch();

    std::shared_ptr<Client> found;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!far.gotReply && std::chrono::steady_clock::now() < end) {
        s.loop.runPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(far.gotSearch);
    EXPECT_EQ(far.firstSearch, "H");
    EXPECT_TRUE(far.gotReply);
    const RegistryContents contents = finder.registryContents();
    ASSERT_EQ(contents.records.size(), 1u);
    found = contents.records[0].lock();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->serialNumber(), 4242);
    EXPECT_EQ(found->name(), "Far well");
    EXPECT_EQ(found->dictionaryIPString(), "10.77.0.2");
    EXPECT_EQ(ntohs(found->socketAddress().sin_port), ClientFinder::kDevicePort);
}
