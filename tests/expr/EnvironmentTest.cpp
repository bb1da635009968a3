#include "ExprSupport.h"

using namespace fieldmon;
using namespace fieldmon::expr;
using fieldmon::test::ExprTest;
using fieldmon::test::printedBy;

namespace {

using EnvironmentTest = ExprTest;

TEST_F(EnvironmentTest, WrapperSeesChangesOfItsBoundValue)
{
    NodePtr state = Node::integer(nullptr, 1);
    auto wrapper = Scope::create(client, compile("printf(\"c%d\", state)"));
    wrapper->setVariable("state", state);
    EXPECT_EQ(wrapper->stringValue(), "c1");
    state->setInteger(0);
    EXPECT_EQ(wrapper->stringValue(), "c0");
    // Rebinding the name is seen as well.
    wrapper->setVariable("state", Node::integer(nullptr, 5));
    EXPECT_EQ(wrapper->stringValue(), "c5");
    // Forwards to the wrapped expression.
    EXPECT_EQ(wrapper->type(), NodeKind::Function);
    EXPECT_FALSE(wrapper->isConst());
    EXPECT_EQ(wrapper->string(), "printf(\"c%d\", state)");
}

TEST_F(EnvironmentTest, LookupWalksTheChainAndInnerBindingsWin)
{
    auto outer = Scope::create(client);
    auto inner = Scope::create(client, outer, nullptr);
    outer->setVariable("v", Node::integer(nullptr, 1));
    outer->setVariable("w", Node::integer(nullptr, 2));
    inner->setVariable("v", Node::integer(nullptr, 10));
    EXPECT_EQ(inner->getVariable("v")->intValue(), 10);
    EXPECT_EQ(inner->getVariable("w")->intValue(), 2);
    EXPECT_EQ(inner->getVariable("pi")->doubleValue(), 3.141592653589793); // from the global scope
    EXPECT_EQ(inner->getVariable("nosuch"), nullptr);
    inner->setVariable("v", nullptr); // unbinding uncovers the outer one
    EXPECT_EQ(inner->getVariable("v")->intValue(), 1);

    // Two nested wrappers binding the same name: the inner wins.
    auto innerWrap = Scope::create(client, nullptr, compile("k * 2"));
    innerWrap->setVariable("k", Node::integer(nullptr, 21));
    auto outerWrap = Scope::create(client, innerWrap);
    outerWrap->setVariable("k", Node::integer(nullptr, 1));
    EXPECT_EQ(outerWrap->eval(), Value::integer(42));
}

TEST_F(EnvironmentTest, CallingWithAnEnvironmentMakesItTheParent)
{
    auto wrapper = Scope::create(client, compile("y + 1"));
    EXPECT_EQ(wrapper->superEnvironment(), client->expressions().environment());
    auto caller = Scope::create(client);
    caller->setVariable("y", Node::integer(nullptr, 4));
    EXPECT_EQ(wrapper->evalWithEnvironment(caller.get()), Value::integer(5));
    EXPECT_EQ(wrapper->superEnvironment(), caller);
    // The twin without an environment keeps the parent it has.
    EXPECT_EQ(wrapper->eval(), Value::integer(5));
    EXPECT_EQ(wrapper->superEnvironment(), caller);
    // Queueing without an environment makes the global scope the parent.
    printedBy([&] { wrapper->queueVariableRequests(); });
    EXPECT_EQ(wrapper->superEnvironment(), client->expressions().environment());
}

TEST_F(EnvironmentTest, AdoptedParentsAreNotKeptAlive)
{
    // A wrapper calls what it wraps with itself as the environment. When
    // the wrapped node was itself an environment, holding the adopted parent
    // made a cycle (outer -> inner -> outer) and both leaked.
    std::weak_ptr<Scope> outerLife, innerLife;
    {
        auto inner = Scope::create(client, nullptr, compile("k + 1"));
        auto outer = Scope::create(client, inner);
        outer->setVariable("k", Node::integer(nullptr, 1));
        EXPECT_EQ(outer->eval(), Value::integer(2));
        EXPECT_EQ(inner->superEnvironment(), outer);
        outerLife = outer;
        innerLife = inner;
    }
    EXPECT_TRUE(outerLife.expired());
    EXPECT_TRUE(innerLife.expired());

    // Once the adopted caller is gone, lookups go to the held parent again.
    auto held = Scope::create(client);
    held->setVariable("k", Node::integer(nullptr, 7));
    auto wrapper = Scope::create(client, held, compile("k"));
    {
        auto caller = Scope::create(client);
        caller->setVariable("k", Node::integer(nullptr, 3));
        EXPECT_EQ(wrapper->evalWithEnvironment(caller.get()), Value::integer(3));
    }
    EXPECT_EQ(wrapper->superEnvironment(), held);
    EXPECT_EQ(wrapper->eval(), Value::integer(7));

    // Two wrappers that adopted each other do not send lookups round for ever.
    auto a = Scope::create(client, compile("nosuch"));
    auto b = Scope::create(client, compile("nosuch"));
    a->evalWithEnvironment(b.get());
    b->evalWithEnvironment(a.get());
    EXPECT_EQ(a->getVariable("nosuch"), nullptr);
    EXPECT_FALSE(a->description().empty());
}

TEST_F(EnvironmentTest, SelfAsParentIsRefusedAndDoesNotLoop)
{
    auto e = Scope::create(client, compile("z"));
    std::string out = printedBy([&] { e->setSuperEnvironment(e.get()); });
    EXPECT_EQ(out, "Bad idea\n");
    out = printedBy([&] { EXPECT_EQ(e->getVariable("z"), nullptr); });
    EXPECT_EQ(out, "Hmm.  Super is self\n");
    e->setVariable("z", Node::integer(nullptr, 3));
    EXPECT_EQ(e->getVariable("z")->intValue(), 3);
    std::weak_ptr<Scope> weak = e;
    e.reset();
    EXPECT_TRUE(weak.expired()); // it does not keep itself alive
}

TEST_F(EnvironmentTest, PredefinedVariables)
{
    auto env = client->expressions().environment();
    EXPECT_EQ(compile("pi")->eval(), Value::real(3.141592653589793));
    for (const char* name : {"true", "TRUE", "yes", "YES"})
        EXPECT_EQ(env->getVariable(name), env->getVariable("true")) << name;
    for (const char* name : {"false", "FALSE", "no", "NO"})
        EXPECT_EQ(env->getVariable(name), env->getVariable("false")) << name;
    EXPECT_EQ(compile("TRUE + yes + NO")->eval(), Value::integer(2));
    EXPECT_EQ(compile("touchx + touchy")->eval(), Value::real(1.0));

    NodePtr touch = compile("touchx * 2");
    client->expressions().setTouchX(0.25);
    EXPECT_EQ(touch->eval(), Value::real(0.5));
    client->expressions().setTouchY(0.75);
    EXPECT_EQ(compile("touchy")->eval(), Value::real(0.75));

    NodePtr service = compile("service");
    EXPECT_EQ(service->eval(), Value::integer(0));
    client->setService(true);
    EXPECT_EQ(service->eval(), Value::integer(1));
    EXPECT_EQ(service->type(), NodeKind::LocalVariable);
    client->broadcastEvent("12:00:01 EVENTSYS_SVC_MODE_OFF");
    EXPECT_EQ(service->eval(), Value::integer(0));

    client->expressions().setTime(12.5);
    EXPECT_EQ(compile("time")->eval(), Value::real(12.5));
    EXPECT_EQ(client->expressions().time(), 12.5);
}

TEST_F(EnvironmentTest, DescriptionShowsScopeAndExpression)
{
    auto e = Scope::create(client, compile("q"));
    e->setVariable("q", Node::integer(nullptr, 7));
    std::string d = e->description();
    EXPECT_EQ(d.rfind("<ClientDataEnvironment: 0x", 0), 0u) << d;
    EXPECT_NE(d.find("q = <ClientDataInteger: 0x"), std::string::npos) << d;
    EXPECT_NE(d.find("expr=<ClientDataRemoteVar: 0x"), std::string::npos) << d;
}

} // namespace
