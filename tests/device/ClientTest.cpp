#include "device/Client.h"
#include "device/RequestId.h"
#include "platform/Diagnostics.h"

#include "support/TestServices.h"
#include "support/UdpPeer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <thread>

using namespace fieldmon;
using fieldmon::test::ipv4;
using fieldmon::test::TestServices;
using fieldmon::test::UdpPeer;

namespace {

struct Channel {
    UdpPeer device{"127.0.0.1"};
    int sock = test::makeSendSocket();
    std::mutex send_mutex;
    ~Channel() { ::close(sock); }

    void attach(Client& c)
    {
        c.setSocket(sock, &send_mutex);
        c.setAddress(ipv4("127.0.0.1"), device.port());
    }
};

} // namespace

TEST(Client, SerialNumberDerivesNotificationNames)
{
    TestServices s;
    auto c = Client::create(false, s.services);
    EXPECT_EQ(c->eventNotificationIDString(), "eventFrom0"); // no serial field yet: serial 0's names
    for (auto [serial, file, event] : {std::tuple{1207, "fileFrom1207", "eventFrom1207"},
                                       std::tuple{-5, "fileFrom-5", "eventFrom-5"}}) {
        c->setSerialNumber(serial);
        EXPECT_EQ(c->serialNumber(), serial);
        EXPECT_EQ(c->fileNotificationIDString(), file);
        EXPECT_EQ(c->eventNotificationIDString(), event);
    }
}

TEST(Client, NewRecordHasNoChannelAndSendsNothing)
{
    TestServices s;
    auto c = Client::create(false, s.services);
    EXPECT_FALSE(c->presence().lastHeardTime().has_value());
    EXPECT_EQ(c->sendChar('F'), -1);
    EXPECT_EQ(c->sendString("chostreq\n"), -1);
    EXPECT_EQ(ntohs(c->socketAddress().sin_port), Client::kDevicePort);
}

TEST(Client, SetAddressGivesDottedTextAndDevicePort)
{
    TestServices s;
    auto c = Client::create(false, s.services);
    c->setAddress(ipv4("10.0.0.7"));
    EXPECT_EQ(c->dictionaryIPString(), "10.0.0.7");
    EXPECT_EQ(c->socketAddress().sin_addr.s_addr, ipv4("10.0.0.7").s_addr);
    EXPECT_EQ(ntohs(c->socketAddress().sin_port), 10024);
}

TEST(Client, CommandsArriveByteExact)
{
    TestServices s;
    Channel ch;
    auto c = Client::create(false, s.services);
    ch.attach(*c);

    struct Case {
        std::function<int()> send;
        std::string expected;
    };
    std::vector<Case> cases = {
        {[&] { return c->sendChar('F'); }, "F"},
        {[&] { return c->sendChar('\0'); }, std::string(1, '\0')},
        {[&] { return c->setServiceMode(true); }, "cservice 1\r\n"},
        {[&] { return c->setServiceMode(false); }, "cservice 0\r\n"},
        {[&] { return c->sendString("chostreq\n"); }, "chostreq\n"},
        {[&] { return c->sendString("E"); }, "E"},
    };
    for (auto& k : cases) {
        ASSERT_EQ(k.send(), 0);
        auto got = ch.device.receive();
        ASSERT_TRUE(got.has_value()) << k.expected;
        EXPECT_EQ(got->bytes, k.expected);
    }
    EXPECT_FALSE(c->service()) << "setServiceMode must not change the flag";
}

TEST(Client, LongCommandIsCutTo5999Bytes)
{
    TestServices s;
    Channel ch;
    auto c = Client::create(false, s.services);
    ch.attach(*c);
    std::string text(7000, 'x');
    text[5998] = 'L';
    text[5999] = 'X';
    ASSERT_EQ(c->sendString(text), 0);
    auto got = ch.device.receive();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->bytes.size(), 5999u);
    EXPECT_EQ(got->bytes.back(), 'L');
}

TEST(Client, FailedSendReportsAndReturnsMinusOne)
{
    TestServices s;
    auto c = Client::create(false, s.services);
    std::mutex m;
    int notASocket = ::open("/dev/null", O_RDONLY);
    c->setSocket(notASocket, &m);
    c->setAddress(ipv4("127.0.0.1"), 9);
    platform::DiagnosticCapture diagnostics;
    EXPECT_EQ(c->sendChar('F'), -1);
    std::string out = diagnostics.take();
    EXPECT_EQ(out.rfind("Error sending packet: ", 0), 0u) << out;
    ::close(notASocket);
}

TEST(Client, CopyValuesCarriesIdentityAndChannelButNotSerialNumber)
{
    TestServices s;
    Channel ch;
    auto known = Client::create(false, s.services);
    known->setSerialNumber(1207);
    known->setAddress(ipv4("10.9.9.9"));
    known->broadcastEvent("12:00:00 OLD EVENT");

    auto fresh = Client::create(false, s.services);
    fresh->setSerialNumber(555);
    fresh->setPlatform("PLAT");
    fresh->setType("PUMP");
    fresh->setName("North well");
    fresh->setVersion(3);
    fresh->setService(true);
    fresh->presence().setLastHeardTime(77.5);
    ch.attach(*fresh);

    known->copyValues(*fresh);
    EXPECT_EQ(known->serialNumber(), 1207);
    EXPECT_EQ(known->eventNotificationIDString(), "eventFrom1207");
    EXPECT_EQ(known->platform(), "PLAT");
    EXPECT_EQ(known->type(), "PUMP");
    EXPECT_EQ(known->name(), "North well");
    EXPECT_EQ(known->version(), 3);
    EXPECT_TRUE(known->service());
    EXPECT_EQ(known->presence().lastHeardTime(), 77.5);
    EXPECT_EQ(known->dictionaryIPString(), "127.0.0.1");
    EXPECT_EQ(known->eventLog().size(), 1u);

    // Later commands go to the new address through the new channel.
    ASSERT_EQ(known->sendString("chostreq\n"), 0);
    auto got = ch.device.receive();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->bytes, "chostreq\n");
}

TEST(RequestIdCounter, RunsFromBToBarThenWrapsToA)
{
    RequestIdCounter counter;
    std::string seq;
    for (int i = 0; i < 30; ++i)
        seq += counter.next();
    EXPECT_EQ(seq.substr(0, 3), "bcd");
    EXPECT_EQ(seq[26], '|');
    EXPECT_EQ(seq[27], 'a');
    EXPECT_EQ(seq[29], 'c') << "the thirtieth call gives c";
    // From then on the period is 28 characters.
    std::string next;
    for (int i = 0; i < 28; ++i)
        next += counter.next();
    EXPECT_EQ(next, "defghijklmnopqrstuvwxyz{|abc");
}

TEST(Client, SendsFromTwoThreadsNeverInterleave)
{
    TestServices s;
    Channel ch;
    auto c = Client::create(false, s.services);
    ch.attach(*c);
    std::thread probe([&] {
        for (int i = 0; i < 60; ++i)
            c->sendChar('F');
    });
    for (int i = 0; i < 60; ++i)
        c->sendString("cset speed 5\n");
    probe.join();
    int f = 0, cmd = 0;
    while (auto d = ch.device.receive(200)) {
        if (d->bytes == "F")
            ++f;
        else if (d->bytes == "cset speed 5\n")
            ++cmd;
        else
            ADD_FAILURE() << "torn datagram: " << d->bytes;
    }
    EXPECT_EQ(f, 60);
    EXPECT_EQ(cmd, 60);
}
