// Expressions over declared device variables: resolution, the request
// protocol they drive, and the values they read once the replies are in.
#include "ExprSupport.h"

#include "expr/Binding.h"
#include "variables/RemoteData.h"

using namespace fieldmon;
using namespace fieldmon::expr;
using fieldmon::test::ExprTest;
using fieldmon::test::printedBy;

namespace {

struct CountingBinding : Binding {
    int told = 0;
    void updateTarget() override { ++told; }
};

std::vector<std::uint8_t> le32(std::initializer_list<std::uint32_t> words)
{
    std::vector<std::uint8_t> out;
    for (std::uint32_t w : words)
        for (int b = 0; b < 4; ++b)
            out.push_back(static_cast<std::uint8_t>(w >> (8 * b)));
    return out;
}

struct RequestsTest : ExprTest {
    RequestsTest()
    {
        printedBy([&] {
            client->variables().parseVariableDeclaration("(WORD) temp = 0; (DEC10) speed = 1; (BYTE) c = 2; (WORD) a = 3;"
                                             "(WORD) b = 4; (struct) pt { (WORD) x = 0; (WORD) y = 2; };"
                                             "(pt) p = 5; (WORD) t = 6; (BYTE) state = 7;");
        });
    }

    std::shared_ptr<RemoteData> var(const std::string& name) { return client->variables().varDict().at(name); }

    // Answers the one outstanding request datagram of the kind: "V" with
    // addresses, "A" with value bytes.
    void answer(char kind, const std::vector<std::uint8_t>& payload)
    {
        auto& table = kind == 'V' ? client->variables().requests().sentAddressRequests() : client->variables().requests().sentValueRequests();
        ASSERT_EQ(table.size(), 1u) << kind;
        std::string d;
        d += kind;
        d += table.begin()->first;
        d.append(payload.begin(), payload.end());
        d += '\0';
        printedBy([&] {
            if (kind == 'V')
                client->variables().requests().handleAddressReply(d);
            else
                client->variables().requests().handleValueReply(d);
        });
    }

    int queue(const NodePtr& n)
    {
        int count = 0;
        printedBy([&] { count = n->queueVariableRequests(); });
        return count;
    }
};

TEST_F(RequestsTest, AddressesThenValuesThenTheBindingIsTold)
{
    NodePtr n = compile("temp + speed");
    CountingBinding binding;
    n->setClientUpdate(&binding);

    EXPECT_TRUE(n->invalidateRemoteVariableValues());
    EXPECT_EQ(queue(n), 2); // two address requests
    EXPECT_EQ(client->variables().requests().addressQueue().size(), 2u);
    EXPECT_TRUE(client->variables().requests().valueQueue().empty());
    ASSERT_EQ(client->variables().requests().waitingRequesters().size(), 1u);
    EXPECT_EQ(client->variables().requests().waitingRequesters()[0].get(), n.get());

    EXPECT_TRUE(client->variables().requests().submitRequests());
    EXPECT_TRUE(client->variables().requests().waitingRequesters().empty());
    // The address reply re-queues the expression, which now asks for the
    // values, and the next datagram goes out at once.
    answer('V', le32({0x1000, 0x1010}));
    EXPECT_EQ(var("temp")->realAddress(), 0x1000);
    EXPECT_EQ(var("speed")->realAddress(), 0x1010);
    EXPECT_EQ(binding.told, 0);
    ASSERT_EQ(client->variables().requests().sentValueRequests().size(), 1u);

    answer('A', {0x2A, 0x00, 0x7B, 0x00}); // temp = 42, speed = 12.3
    EXPECT_EQ(binding.told, 1);
    EXPECT_EQ(n->eval(), Value::real(42 + 12.3));
    EXPECT_EQ(n->intValue(), 54);

    // The next refresh asks for the values only.
    EXPECT_TRUE(n->invalidateRemoteVariableValues());
    EXPECT_EQ(queue(n), 2);
    EXPECT_TRUE(client->variables().requests().addressQueue().empty());
    EXPECT_EQ(client->variables().requests().valueQueue().size(), 2u);
    client->variables().requests().submitRequests();
    answer('A', {0x01, 0x00, 0x02, 0x00});
    EXPECT_EQ(binding.told, 2);
    EXPECT_EQ(n->eval(), Value::real(1 + 0.2));
}

TEST_F(RequestsTest, RequeueRule)
{
    // An expression that asked not to be re-queued is not continued by the
    // reply: its binding hears nothing until it queues again itself.
    NodePtr n = compile("temp * 2");
    CountingBinding binding;
    n->setClientUpdate(&binding);
    n->dontRequeue();
    EXPECT_FALSE(n->requeue());
    queue(n);
    client->variables().requests().submitRequests();
    answer('V', le32({0x40}));
    EXPECT_TRUE(client->variables().requests().sentValueRequests().empty());
    EXPECT_EQ(binding.told, 0);
    // With nothing missing, queueing tells a requeueing binding at once...
    NodePtr c = compile("3 + 4");
    CountingBinding constant;
    c->setClientUpdate(&constant);
    EXPECT_EQ(queue(c), 0);
    EXPECT_EQ(constant.told, 1);
    // ...and an error node always.
    NodePtr e = compile("1 / 0");
    CountingBinding err;
    e->setClientUpdate(&err);
    e->dontRequeue();
    EXPECT_EQ(queue(e), 0);
    EXPECT_EQ(err.told, 1);
}

TEST_F(RequestsTest, ConditionalAsksForTheConditionThenTheChosenBranch)
{
    NodePtr n = compile("c ? a : b");
    CountingBinding binding;
    n->setClientUpdate(&binding);
    EXPECT_EQ(queue(n), 1);
    ASSERT_EQ(client->variables().requests().addressQueue().size(), 1u);
    EXPECT_EQ(client->variables().requests().addressQueue()[0].responder(), var("c"));
    client->variables().requests().submitRequests();
    answer('V', le32({0x100}));
    // Until the condition's value is in, no branch is chosen: the next
    // datagram asks for c's value only.
    EXPECT_TRUE(client->variables().requests().sentAddressRequests().empty());
    answer('A', {0x01}); // c = 1
    // Now the first branch: its address, then its value.
    answer('V', le32({0x200}));
    EXPECT_EQ(var("a")->realAddress(), 0x200);
    EXPECT_FALSE(var("b")->hasAddress());
    answer('A', {0x05, 0x00});
    EXPECT_EQ(binding.told, 1);
    EXPECT_EQ(n->eval(), Value::integer(5));
}

TEST_F(RequestsTest, StructureElementsAndArrayElementsResolveOnceAddressesArrive)
{
    NodePtr py = compile("p.y");
    RequestList prep;
    std::string out = printedBy([&] { prep = py->prepForEval(); });
    ASSERT_EQ(prep.size(), 1u);
    EXPECT_TRUE(prep[0].isBase());
    EXPECT_EQ(prep[0].responder(), var("p"));
    EXPECT_EQ(py->remoteData(), nullptr);
    EXPECT_NE(out.find("Not ready!"), std::string::npos);

    var("p")->setRealAddress(0x2000);
    printedBy([&] { prep = py->requestVariables(); });
    ASSERT_EQ(prep.size(), 1u);
    EXPECT_FALSE(prep[0].isBase());
    EXPECT_EQ(prep[0].address(), 0x2002);
    std::uint8_t y[] = {0x34, 0x12};
    py->remoteData()->storeData(y, 2);
    EXPECT_EQ(py->eval(), Value::integer(0x1234));

    // Array elements: k × the element size from the array's address; the
    // index is re-evaluated at every use.
    var("t")->setRealAddress(4096);
    auto scope = Scope::create(client, compile("t[i + 1]"));
    NodePtr k = Node::integer(nullptr, 2);
    scope->setVariable("i", k);
    printedBy([&] { scope->prepForEval(); });
    std::shared_ptr<RemoteData> third;
    printedBy([&] { third = scope->expression()->remoteData(); });
    ASSERT_TRUE(third);
    EXPECT_EQ(third->realAddress(), 4102);
    k->setInteger(-1);
    printedBy([&] { scope->prepForEval(); });
    EXPECT_EQ(scope->expression()->remoteData(), var("t")); // k <= 0: the array itself
    EXPECT_FALSE(scope->expression()->isStatic());
    EXPECT_TRUE(compile("t[2]")->isStatic());
}

TEST_F(RequestsTest, BadElementAccessBecomesAnError)
{
    var("p")->setRealAddress(0x3000);
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"p.nosuch", "Error: Couldn't find structure element 'nosuch'\n"},
        {"temp.x", "Error: Invalid data type 'WORD'\n"},
        {"t[1][2]", "Unsupported Opperation, an unsupported base '128'"},
    };
    for (const auto& c : cases) {
        NodePtr n = compile(c.text);
        Value v;
        std::string out = printedBy([&] {
            n->prepForEval();
            v = n->eval();
        });
        EXPECT_NE(out.find(c.message), std::string::npos) << c.text << ": " << out;
        EXPECT_EQ(v, Value::error()) << c.text;
        EXPECT_EQ(n->type(), NodeKind::Error) << c.text;
    }
}

TEST_F(RequestsTest, DeviceVariablesHideLocalsOfTheSameName)
{
    std::uint8_t nine[] = {9};
    var("state")->storeData(nine, 1);
    auto wrapper = Scope::create(client, compile("printf(\"c%d\", state)"));
    wrapper->setVariable("state", Node::integer(nullptr, 1));
    EXPECT_EQ(wrapper->stringValue(), "c9");
    EXPECT_EQ(wrapper->expression()->args()[1]->type(), NodeKind::RemoteVariable);
}

TEST_F(RequestsTest, RemoteValuesFollowTheirTypes)
{
    // An enumeration reads as text; an IP address as a dotted text; both
    // mix with numbers as texts do.
    printedBy([&] {
        client->variables().parseVariableDeclaration("(enum) mode { OFF; ON; FAULT = 7; }; (mode) m = 8; (IP_ADDR) ip = 9;");
    });
    std::uint8_t seven[] = {7};
    var("m")->storeData(seven, 1);
    std::uint8_t addr[] = {192, 168, 1, 20};
    var("ip")->storeData(addr, 4);
    EXPECT_EQ(value("m"), Value::text("FAULT"));
    EXPECT_EQ(value("\"mode \" + m"), Value::text("mode FAULT"));
    EXPECT_EQ(value("ip"), Value::text("192.168.1.20"));
    // Unread values read from the empty buffer: zero, valid or not.
    EXPECT_EQ(value("temp + 1"), Value::integer(1));
    EXPECT_EQ(value("speed"), Value::real(0.0));
}

TEST_F(RequestsTest, InvalidateAnswersWhetherRemoteDataIsRead)
{
    const struct {
        const char* text;
        bool reads;
    } cases[] = {
        {"1 + 2", false}, {"\"x\"", false}, {"temp", true},     {"1 + temp", true},
        {"pi * 2", true}, {"max(1, a)", true}, {"p.x", true}, {"nosuch", true},
    };
    for (const auto& c : cases) {
        NodePtr n = compile(c.text);
        bool reads = false;
        printedBy([&] { reads = n->invalidateRemoteVariableValues(); });
        EXPECT_EQ(reads, c.reads) << c.text;
    }
    var("temp")->setRealAddress(0x10);
    std::uint8_t one[] = {1, 0};
    var("temp")->storeData(one, 2);
    EXPECT_FALSE(var("temp")->invalid());
    NodePtr temp = compile("temp");
    printedBy([&] { temp->invalidateRemoteVariableValues(); });
    EXPECT_TRUE(var("temp")->invalid());
}

TEST_F(RequestsTest, NestedConditionsAndIndexesCostLinearWork)
{
    // Gathering requests once asked each nested condition (and each nested
    // index) for its requests twice over, so the work doubled with every
    // level: forty levels ran for ever and grew memory without bound.
    var("c")->setRealAddress(0x10);
    var("a")->setRealAddress(0x20);
    var("t")->setRealAddress(0x30);
    std::string conditions = "c";
    std::string indexes = "a";
    for (int i = 0; i < 40; ++i) {
        conditions += " ? c";
        indexes = "t[" + indexes + "]";
    }
    for (const std::string& text : {conditions, indexes}) {
        NodePtr n = compile(text);
        int queued = -1;
        printedBy([&] {
            n->invalidateRemoteVariableValues();
            queued = n->queueVariableRequests();
            n->eval();
        });
        // One value request: the innermost condition (a "?" without ":"
        // chooses no branch) or the innermost index (the outer ones wait
        // for its value).
        EXPECT_EQ(queued, 1) << text;
        client->variables().requests().clear();
    }
}

TEST_F(RequestsTest, StaticPartNamesTheVariablesRead)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(compile("temp + p.x * t[2]")->staticPart(), (V{"temp", "p.x", "t[2]"}));
    EXPECT_EQ(compile("t[a]")->remoteNotifications(), (V{"t", "a"}));
    EXPECT_EQ(compile("3")->staticPart(), V{});
}

} // namespace
