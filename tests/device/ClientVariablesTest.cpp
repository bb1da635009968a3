#include "device/Client.h"

#include "support/TestServices.h"
#include "support/UdpPeer.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace fieldmon;
using fieldmon::test::ipv4;
using fieldmon::test::TestServices;
using fieldmon::test::UdpPeer;

namespace {

struct ClientVariables : testing::Test {
    TestServices s;
    std::shared_ptr<Client> c = Client::create(false, s.services);
    UdpPeer device{"127.0.0.1"};
    int sock = test::makeSendSocket();
    std::mutex send_mutex;

    void SetUp() override
    {
        ASSERT_TRUE(device.bound());
        c->setSocket(sock, &send_mutex);
        c->setAddress(ipv4("127.0.0.1"), device.port());
    }
    void TearDown() override { ::close(sock); }

    std::string reply(char kind, char id, std::string payload) { return std::string{kind, id} + payload + '\0'; }
};

} // namespace

TEST_F(ClientVariables, DeclaresQueuesSendsAndStores)
{
    c->parseVariableDeclaration("(WORD) speed = 2; (DEC10) temp = 3;");
    ASSERT_EQ(c->varDict().size(), 2u);
    auto speed = c->varDict().at("speed");
    auto temp = c->varDict().at("temp");

    c->queueRequest(speed->varRequest());
    c->queueRequest(temp->varRequest());
    ASSERT_TRUE(c->submitRequests());
    auto got = device.receive();
    ASSERT_TRUE(got);
    ASSERT_EQ(got->bytes.size(), 4u);
    char id = got->bytes[1];
    EXPECT_EQ(got->bytes, std::string("v") + id + "C8");

    c->onAddressReply(reply('V', id, std::string("\x00\x10\x00\x00\x02\x10\x00\x00", 8)));
    // Handled in a later pass of the main loop, not inside the hand-off.
    EXPECT_FALSE(speed->isReady());
    s.loop.runPending();
    EXPECT_EQ(speed->realAddress(), 0x1000);
    EXPECT_EQ(temp->realAddress(), 0x1002);

    c->queueRequest(speed->varRequest());
    c->queueRequest(temp->varRequest());
    ASSERT_TRUE(c->submitRequests());
    got = device.receive();
    ASSERT_TRUE(got);
    id = got->bytes[1];
    EXPECT_EQ(got->bytes, std::string("a") + id + "00001000E");

    c->onValueReply(reply('A', id, std::string("\x2c\x01\xd7\x00", 4)));
    EXPECT_TRUE(speed->invalid());
    s.loop.runPending();
    EXPECT_EQ(speed->intValue(), 300);
    EXPECT_DOUBLE_EQ(temp->doubleValue(), 21.5);
    EXPECT_EQ(c->findSentValueRequests(id), nullptr);
}

TEST_F(ClientVariables, IdentifiersComeBackAfter28Datagrams)
{
    // A list nobody answers stays while another identifier is free; with
    // all 28 waiting, the 29th datagram takes the first one again.
    auto v = c->createVar("v", "WORD", 1);
    v->setRealAddress(0x10);
    char first = 0;
    for (int i = 0; i < 29; ++i) {
        c->queueRequest(v->varRequest());
        ASSERT_TRUE(c->submitRequests());
        auto got = device.receive();
        ASSERT_TRUE(got);
        if (i == 0)
            first = got->bytes[1];
        else if (i < 28)
            EXPECT_NE(got->bytes[1], first);
        else
            EXPECT_EQ(got->bytes[1], first);
    }
    EXPECT_EQ(c->sentValueRequests().size(), 28u);
    ASSERT_NE(c->findSentValueRequests(first), nullptr);
    EXPECT_EQ(c->findSentValueRequests(first)->size(), 2u);
    c->clearRequests();
    EXPECT_TRUE(c->sentValueRequests().empty());
}

TEST_F(ClientVariables, ALateReplyAfterTheIdentifiersWrapReachesItsOwnList)
{
    // Identifiers used to be shared by every device and reused blindly after
    // 28 requests: a late reply for an unanswered list was then cut against
    // the newer list that had taken its identifier, storing one variable's
    // bytes into another. Each record now counts for itself and passes over
    // identifiers still waiting.
    auto slow = c->createVar("slow", "WORD", 1);
    slow->setRealAddress(0x10);
    auto fast = c->createVar("fast", "DWORD", 2);
    fast->setRealAddress(0x20);
    c->queueRequest(slow->varRequest());
    ASSERT_TRUE(c->submitRequests());
    auto got = device.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes[1], 'b') << "a record's first identifier, whatever other records sent";
    const char late = got->bytes[1];
    // 40 answered requests take the counter round more than once.
    for (int i = 0; i < 40; ++i) {
        c->queueRequest(fast->varRequest());
        ASSERT_TRUE(c->submitRequests());
        got = device.receive();
        ASSERT_TRUE(got);
        ASSERT_NE(got->bytes[1], late) << "request " << i << " took an identifier still waiting";
        c->handleValueReply(reply('A', got->bytes[1], std::string("\x01\x00\x00\x00", 4)));
    }
    EXPECT_EQ(fast->intValue(), 1);
    c->handleValueReply(reply('A', late, std::string("\x07\x00", 2)));
    EXPECT_EQ(slow->intValue(), 7);
    EXPECT_EQ(fast->intValue(), 1);
    EXPECT_TRUE(c->sentValueRequests().empty());

    // Another record starts its own count.
    auto other = Client::create(false, s.services);
    EXPECT_EQ(other->getUniqueIdentifier(), 'b');
}

TEST_F(ClientVariables, ReplyForARecordThatIsGone)
{
    // The deferred handling holds the record weakly; a device dropped before
    // the next loop pass has nobody waiting for its reply.
    auto v = c->createVar("v", "WORD", 1);
    c->queueRequest(v->varRequest());
    c->submitRequests();
    c->onAddressReply(reply('V', 'b', "\x01\x00\x00\x00"));
    c.reset();
    EXPECT_EQ(s.loop.runPending(), 1u);
}
