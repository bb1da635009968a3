// The packet tap point: off costs nothing and shows nothing; detach() and
// a switch to another tap never leave a handler running on the old one,
// while other threads keep sending and receiving; a reply never comes out
// ahead of the request that caused it.

#include "platform/PacketTapPoint.h"

#include "support/TapLog.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace fieldmon;
using namespace fieldmon::platform;

namespace {

// Counts its calls and notices one that runs after it was let go; each call
// takes a little while, so a detach racing a call has a window to hit.
class SlowTap final : public PacketTap {
public:
    void datagram(Direction, PacketEnd, PacketEnd, std::string_view, WallTime) override { call(); }
    void httpTransfer(PacketEnd, PacketEnd, std::string_view, std::string_view, WallTime, WallTime) override
    {
        call();
    }
    std::atomic<int> calls{0};
    std::atomic<bool> released{false};
    std::atomic<int> callsAfterRelease{0};

private:
    void call()
    {
        if (released)
            ++callsAfterRelease;
        ++calls;
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
        while (std::chrono::steady_clock::now() < until) {
        }
        if (released)
            ++callsAfterRelease;
    }
};

sockaddr_in endpoint(const char* address, std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address, &sa.sin_addr);
    return sa;
}

} // namespace

TEST(PacketTap, NothingIsShownWhileNoTapIsAttached)
{
    PacketTapPoint point;
    test::TapLog log;
    EXPECT_FALSE(point.active());
    point.received(endpoint("127.0.0.2", 10024), in_addr{htonl(INADDR_LOOPBACK)}, 10023, "mX");
    point.attach(&log);
    EXPECT_TRUE(point.active());
    point.received(endpoint("127.0.0.2", 10024), in_addr{htonl(INADDR_LOOPBACK)}, 10023, "eY");
    point.detach();
    EXPECT_FALSE(point.active());
    point.received(endpoint("127.0.0.2", 10024), in_addr{htonl(INADDR_LOOPBACK)}, 10023, "eZ");
    ASSERT_EQ(log.datagrams().size(), 1u);
    const auto d = log.datagrams()[0];
    EXPECT_EQ(d.bytes, "eY");
    EXPECT_EQ(d.direction, PacketTap::Direction::Received);
    EXPECT_EQ(d.from, (PacketEnd{0x7F000002, 10024}));
    EXPECT_EQ(d.to, (PacketEnd{0x7F000001, 10023}));
}

// A tap was detached, and then destroyed by its owner, while the listen
// thread was still inside its handler: the point must hold the call under
// the same lock that detach() takes, not a copy of the pointer taken
// before it.
TEST(PacketTap, DetachAndSwitchWaitForTheRunningHandler)
{
    PacketTapPoint point;
    std::atomic<bool> done{false};
    std::vector<std::thread> senders;
    for (int i = 0; i < 3; ++i)
        senders.emplace_back([&point, &done, i] {
            const sockaddr_in from = endpoint("127.0.0.2", 10024);
            while (!done) {
                if (i == 2)
                    point.httpTransfer({}, {0x7F000002, 80}, "GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK\r\n\r\n", {},
                                       {});
                else
                    point.received(from, in_addr{htonl(INADDR_LOOPBACK)}, 10023, "V\x01\x02");
            }
        });
    int total = 0;
    for (int round = 0; round < 40; ++round) {
        SlowTap first, second;
        point.attach(&first);
        while (first.calls < 5)
            std::this_thread::yield();
        point.attach(&second); // a switch is a detach of the first
        first.released = true;
        while (second.calls < 5)
            std::this_thread::yield();
        point.detach();
        second.released = true;
        const int firstCalls = first.calls, secondCalls = second.calls;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        EXPECT_EQ(first.callsAfterRelease, 0);
        EXPECT_EQ(second.callsAfterRelease, 0);
        EXPECT_EQ(first.calls, firstCalls);
        EXPECT_EQ(second.calls, secondCalls);
        total += secondCalls;
    }
    done = true;
    for (auto& t : senders)
        t.join();
    EXPECT_GE(total, 200);
}

// A recording held a device's reply stamped, and written, before the
// request that caused it: the listen thread took the reply between the
// main thread's send and its stamping, on a loaded machine, and a replay of
// the file then found an answer to a request not made yet.
TEST(PacketTap, AReplyThatArrivesDuringTheSendIsShownAfterItsRequest)
{
    PacketTapPoint point;
    test::TapLog log;
    point.attach(&log);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    std::thread listen;
    // The "send" lets the listen thread hand the reply over at once, then
    // takes its time returning, as a descheduled main thread would.
    const bool left = point.send(fd, endpoint("127.0.0.2", 10024), "vbB40", [&] {
        listen = std::thread([&] {
            point.received(endpoint("127.0.0.2", 10024), in_addr{htonl(INADDR_LOOPBACK)}, 10023, "Vb");
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return true;
    });
    listen.join();
    EXPECT_TRUE(left);
    const auto shown = log.datagrams();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].bytes, "vbB40");
    EXPECT_EQ(shown[1].bytes, "Vb");
    EXPECT_LE(shown[0].at, shown[1].at);

    // A send that fails shows nothing.
    EXPECT_FALSE(point.send(fd, endpoint("127.0.0.2", 10024), "x", [] { return false; }));
    EXPECT_EQ(log.datagrams().size(), 2u);
    ::close(fd);
    point.detach();
}
