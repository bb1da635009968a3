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
    c->variables().parseVariableDeclaration("(WORD) speed = 2; (DEC10) temp = 3;");
    ASSERT_EQ(c->variables().varDict().size(), 2u);
    auto speed = c->variables().varDict().at("speed");
    auto temp = c->variables().varDict().at("temp");

    c->variables().requests().queue(speed->varRequest());
    c->variables().requests().queue(temp->varRequest());
    ASSERT_TRUE(c->variables().requests().submitRequests());
    auto got = device.receive();
    ASSERT_TRUE(got);
    ASSERT_EQ(got->bytes.size(), 4u);
    char id = got->bytes[1];
    EXPECT_EQ(got->bytes, std::string("v") + id + "C8");

    c->variables().requests().handleAddressReply(reply('V', id, std::string("\x00\x10\x00\x00\x02\x10\x00\x00", 8)));
    EXPECT_EQ(speed->realAddress(), 0x1000);
    EXPECT_EQ(temp->realAddress(), 0x1002);

    c->variables().requests().queue(speed->varRequest());
    c->variables().requests().queue(temp->varRequest());
    ASSERT_TRUE(c->variables().requests().submitRequests());
    got = device.receive();
    ASSERT_TRUE(got);
    id = got->bytes[1];
    EXPECT_EQ(got->bytes, std::string("a") + id + "00001000E");

    c->variables().requests().handleValueReply(reply('A', id, std::string("\x2c\x01\xd7\x00", 4)));
    EXPECT_EQ(speed->intValue(), 300);
    EXPECT_DOUBLE_EQ(temp->doubleValue(), 21.5);
    EXPECT_EQ(c->variables().requests().findSentValueRequests(id), nullptr);
}

TEST_F(ClientVariables, IdentifiersComeBackAfter28Datagrams)
{
    // A list nobody answers stays while another identifier is free; with
    // all 28 waiting, the 29th datagram takes the first one again.
    auto v = c->variables().createVar("v", "WORD", 1);
    v->setRealAddress(0x10);
    char first = 0;
    for (int i = 0; i < 29; ++i) {
        c->variables().requests().queue(v->varRequest());
        ASSERT_TRUE(c->variables().requests().submitRequests());
        auto got = device.receive();
        ASSERT_TRUE(got);
        if (i == 0)
            first = got->bytes[1];
        else if (i < 28)
            EXPECT_NE(got->bytes[1], first);
        else
            EXPECT_EQ(got->bytes[1], first);
    }
    EXPECT_EQ(c->variables().requests().sentValueRequests().size(), 28u);
    ASSERT_NE(c->variables().requests().findSentValueRequests(first), nullptr);
    EXPECT_EQ(c->variables().requests().findSentValueRequests(first)->size(), 2u);
    c->variables().requests().clear();
    EXPECT_TRUE(c->variables().requests().sentValueRequests().empty());
}

TEST_F(ClientVariables, ALateReplyAfterTheIdentifiersWrapReachesItsOwnList)
{
    // Identifiers used to be shared by every device and reused blindly after
    // 28 requests: a late reply for an unanswered list was then cut against
    // the newer list that had taken its identifier, storing one variable's
    // bytes into another. Each record now counts for itself and passes over
    // identifiers still waiting.
    auto slow = c->variables().createVar("slow", "WORD", 1);
    slow->setRealAddress(0x10);
    auto fast = c->variables().createVar("fast", "DWORD", 2);
    fast->setRealAddress(0x20);
    c->variables().requests().queue(slow->varRequest());
    ASSERT_TRUE(c->variables().requests().submitRequests());
    auto got = device.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes[1], 'b') << "a record's first identifier, whatever other records sent";
    const char late = got->bytes[1];
    // 40 answered requests take the counter round more than once.
    for (int i = 0; i < 40; ++i) {
        c->variables().requests().queue(fast->varRequest());
        ASSERT_TRUE(c->variables().requests().submitRequests());
        got = device.receive();
        ASSERT_TRUE(got);
        ASSERT_NE(got->bytes[1], late) << "request " << i << " took an identifier still waiting";
        c->variables().requests().handleValueReply(reply('A', got->bytes[1], std::string("\x01\x00\x00\x00", 4)));
    }
    EXPECT_EQ(fast->intValue(), 1);
    c->variables().requests().handleValueReply(reply('A', late, std::string("\x07\x00", 2)));
    EXPECT_EQ(slow->intValue(), 7);
    EXPECT_EQ(fast->intValue(), 1);
    EXPECT_TRUE(c->variables().requests().sentValueRequests().empty());

    // Another record starts its own count.
    auto other = Client::create(false, s.services);
    other->setSocket(sock, &send_mutex);
    other->setAddress(ipv4("127.0.0.1"), device.port());
    auto mine = other->variables().createVar("mine", "WORD", 1);
    mine->setRealAddress(0x10);
    other->variables().requests().queue(mine->varRequest());
    ASSERT_TRUE(other->variables().requests().submitRequests());
    got = device.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes[1], 'b');
}
