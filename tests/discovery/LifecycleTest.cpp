// Start-up failures and stopping the finder at awkward moments.

#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "platform/Diagnostics.h"

#include "support/FinderRig.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <thread>

using namespace fieldmon;
using fieldmon::test::FinderRig;

namespace {

bool waitForPendingTask(platform::ManualLoop& loop)
{
    for (int i = 0; i < 3000; ++i) {
        if (loop.pendingTasks() > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

} // namespace

TEST(Lifecycle, DestroyWhileListenThreadWaitsForAHandOff)
{
    // The listen thread blocks in postAndWait until the main thread runs the
    // datagram; the main thread is the one destroying the finder, so without
    // cancelling the hand-off the join would never return.
    auto rig = std::make_unique<FinderRig>();
    rig->send(2, "mPLAT;PUMP;a;1;1207;0");
    ASSERT_TRUE(waitForPendingTask(rig->s.loop));
    rig->finder.reset();
    // The cancelled hand-off is still queued; running it must do nothing.
    rig->s.loop.runPending();
    EXPECT_TRUE(rig->device(2).drain(50).empty()); // never answered
}

TEST(Lifecycle, DestroyWhileRemovalWaitsForTheLostEvent)
{
    auto rig = std::make_unique<FinderRig>();
    ASSERT_TRUE(rig->announce(2, "PLAT;PUMP;a;1;1207;0"));
    auto shown = rig->at("127.0.0.2");
    rig->s.loop.advance(7.0);
    ASSERT_TRUE(waitForPendingTask(rig->s.loop)); // the LOST line, waited for
    rig->finder.reset();
    rig->s.loop.runPending();
    EXPECT_EQ(shown->eventLog().size(), 1u); // only FOUND: the removal was abandoned
    EXPECT_EQ(rig->s.alerts.history().size(), 0u);
}

TEST(Lifecycle, PostedAlertsOfADestroyedFinderDoNothing)
{
    auto rig = std::make_unique<FinderRig>();
    ASSERT_TRUE(rig->announce(2, "PLAT;PUMP;a;1;1;0"));
    Client::ShownLease shown(rig->at("127.0.0.2"));
    // A new device takes the address: the earlier one's "Lost client" alert
    // is posted for later; the finder goes away before the loop runs it.
    rig->finder->parsePacket([] {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr = test::ipv4("127.0.0.2");
        return sa;
    }(), "mPLAT;PUMP;b;1;2;0");
    EXPECT_GT(rig->s.loop.pendingTasks(), 0u);
    rig->finder.reset();
    rig->s.loop.runPending();
    EXPECT_EQ(rig->s.alerts.history().size(), 0u);
}

TEST(Lifecycle, BindFailureGoesThroughTheFatalSeam)
{
    test::UdpPeer occupant("0.0.0.0");
    ASSERT_TRUE(occupant.bound());
    test::TestServices s;
    int fatal = 0;
    ClientFinder::Seams seams;
    seams.broadcast = test::ipv4("127.0.0.1");
    seams.listenPort = occupant.port();
    seams.fatal = [&] { ++fatal; };
    seams.localNetwork = [] { return LocalNetwork::Direct; };
    seams.sources.loopbackDevices = true; // the devices sit on 127.0.0.x
    testing::internal::CaptureStderr();
    {
        ClientFinder f(s.services, false, seams);
        EXPECT_EQ(fatal, 1);
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("error bind failed: ", 0), 0u) << err;
}

TEST(Lifecycle, DebugOutput)
{
    test::TestServices s;
    ClientFinder::Seams seams;
    seams.broadcast = test::ipv4("127.0.0.1");
    seams.listenPort = 0;
    seams.devicePort = 9; // discard port on loopback; nothing listens
    seams.localNetwork = [] { return LocalNetwork::Direct; };
    seams.sources.loopbackDevices = true; // the devices sit on 127.0.0.x
    platform::DiagnosticCapture diagnostics;
    {
        ClientFinder f(s.services, true, seams);
        f.initiateSearch();
    }
    std::string out = diagnostics.take();
    for (const char* line : {"Creating client list\n", "Creating socket\n", "Created client array\n",
                             "Starting search\n", "Thread closed\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
}

namespace {

// The finder's listening socket, found among the process's descriptors by
// its bound port.
int listeningSocketOf(std::uint16_t port)
{
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        int type = 0;
        socklen_t typeLen = sizeof type;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0 && sa.sin_family == AF_INET &&
            ntohs(sa.sin_port) == port && ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLen) == 0 &&
            type == SOCK_DGRAM)
            return fd;
    }
    return -1;
}

} // namespace

TEST(Lifecycle, ReadinessWithNothingToReadDoesNotStopTheTicks)
{
    // The listen thread used to read with a blocking recvfrom once poll said
    // the socket was ready. When nothing was there to read by then (a
    // datagram dropped for a bad checksum, or as here a pending socket
    // error), the thread sat in recvfrom: no presence checks, no search, and
    // a destructor that never joined. The error comes from a datagram sent
    // through the finder's own socket to a closed loopback port, with
    // IP_RECVERR on so that the refusal stays queued.
    FinderRig rig;
    rig.finder->initiateSearch();
    const int fd = listeningSocketOf(rig.listenPort());
    ASSERT_GE(fd, 0);
    int one = 1;
    ASSERT_EQ(::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &one, sizeof one), 0);
    sockaddr_in closed{};
    closed.sin_family = AF_INET;
    closed.sin_port = htons(9); // discard: nothing listens on loopback
    closed.sin_addr = test::ipv4("127.0.0.1");
    testing::internal::CaptureStderr();
    ASSERT_EQ(::sendto(fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&closed), sizeof closed), 1);

    rig.search().drain(0);
    bool searched = rig.search().receive(1500).has_value();
    if (!searched)
        rig.send(2, "f"); // frees a stuck thread so that the finder can go
    rig.finder.reset();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(searched) << "the listen thread is stuck in a read";
    EXPECT_NE(err.find("Connection refused\n"), std::string::npos) << err;
}
