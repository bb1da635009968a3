#include "ExprSupport.h"
#include "expr/Format.h"

#include <limits>

using namespace fieldmon;
using namespace fieldmon::expr;
using fieldmon::test::ExprTest;
using fieldmon::test::printedBy;

namespace {

struct EvalTest : ExprTest {
    // A scope in which tests bind local values for expressions to read.
    Scope::Ptr scope = Scope::create(client);

    void bind(const std::string& name, Value v) { scope->setVariable(name, Node::constant(nullptr, v)); }

    Value inScope(std::string_view text)
    {
        NodePtr n = compile(text);
        Value v;
        printedBy([&] { v = n->evalWithEnvironment(scope.get()); });
        return v;
    }
};

TEST_F(EvalTest, OperatorsPromoteIntegerDoubleText)
{
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    bind("i", Value::integer(7));
    bind("d", Value::real(2.5));
    bind("s", Value::text("ab"));
    bind("neg", Value::integer(-7));
    bind("zero", Value::integer(0));
    bind("min", Value::integer(kMin));
    bind("minusone", Value::integer(-1));
    const struct {
        const char* text;
        Value expected;
    } cases[] = {
        {"i + d", Value::real(9.5)},
        {"d + i", Value::real(9.5)},
        {"s + i", Value::text("ab7")},
        {"i + s", Value::text("7ab")},
        {"d + s", Value::text("2.500000ab")},
        {"s + d", Value::text("ab2.500000")},
        {"s + s", Value::text("abab")},
        {"s - i", Value::error()},
        {"s * 2", Value::error()},
        {"s / 2", Value::error()},
        {"s == s", Value::error()}, // texts cannot be compared
        {"d > i", Value::real(0.0)},
        {"i > d", Value::real(1.0)}, // a double comparison stays a double
        {"i > 1", Value::integer(1)},
        {"i E 7", Value::error()},    // "E" is a name here, not ==
        {"i == 7", Value::integer(1)},
        {"i <= 7", Value::integer(1)},
        {"i >= 8", Value::integer(0)},
        {"i % 3", Value::integer(1)},
        {"neg % 3", Value::integer(-1)},
        {"(d * 3) % 2", Value::real(1.5)},
        {"i / 2", Value::integer(3)},
        {"neg / 2", Value::integer(-3)},
        {"d / 0", Value::real(std::numeric_limits<double>::infinity())},
        {"i & 3", Value::integer(3)},
        {"i | 8", Value::integer(15)},
        {"i && 0", Value::integer(0)},
        {"i || 0", Value::integer(1)},
        {"d & 1", Value::error()},
        {"d | 1", Value::error()},
        {"d && 1", Value::error()},
        {"d || 1", Value::error()},
        {"-i", Value::integer(-7)},
        {"-d", Value::real(-2.5)},
        {"-s", Value::error()},
        {"i : d", Value::real(7.0)}, // ":" outside "?" keeps its left value, promoted
        {"nosuchname + 1", Value::error()}, // neither declared nor local
        // Integer division and remainder by zero, and INT_MIN / -1, used to
        // trap the process (SIGFPE); they are error values now.
        {"i / zero", Value::error()},
        {"i % zero", Value::error()},
        {"min / minusone", Value::error()},
        {"min % minusone", Value::integer(0)},
        {"min - 1", Value::integer(std::numeric_limits<std::int32_t>::max())}, // wraps
        {"-min", Value::integer(kMin)},
        {"abs(min)", Value::integer(kMin)},
        {"min * 2", Value::integer(0)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(inScope(c.text), c.expected) << c.text;
}

TEST_F(EvalTest, AssignmentIsAnErrorForGoodAfterItsFirstEvaluation)
{
    NodePtr n = compile("x = 5");
    ASSERT_EQ(n->type(), NodeKind::Operator);
    Value v;
    std::string out = printedBy([&] { v = n->eval(); });
    EXPECT_NE(out.find("Error: Opperator is not one of the many + * - /\n"), std::string::npos) << out;
    EXPECT_EQ(v, Value::error());
    EXPECT_EQ(n->type(), NodeKind::Error);
    EXPECT_EQ(printedBy([&] { v = n->eval(); }), ""); // now simply an error node
    EXPECT_EQ(v, Value::error());
}

TEST_F(EvalTest, ConditionalEvaluatesOnlyTheChosenBranch)
{
    // The unchosen branch is a call that would turn itself into an error
    // node if it were ever evaluated.
    bind("c", Value::integer(1));
    bind("x", Value::integer(0));
    NodePtr n = compile("c ? 10 : atan2(x)");
    const NodePtr& untaken = n->args()[1]->args()[1];
    ASSERT_EQ(untaken->type(), NodeKind::Function);
    Value v;
    printedBy([&] { v = n->evalWithEnvironment(scope.get()); });
    EXPECT_EQ(v, Value::integer(10));
    EXPECT_EQ(untaken->type(), NodeKind::Function);

    bind("c", Value::integer(0));
    EXPECT_EQ(inScope("c ? 10 : 20"), Value::integer(20));
    bind("c", Value::real(0.5)); // the condition's integer value selects
    EXPECT_EQ(inScope("c ? 10 : 20"), Value::integer(20));
    // Only an error node as the condition makes the choice an error. An
    // error value from any other node once did too; it reads as the integer
    // 0, which chooses the else branch (the branch its requests were for).
    EXPECT_EQ(inScope("(1 / 0) ? 10 : 20"), Value::error()); // folded into an error node
    bind("c", Value::error());
    EXPECT_EQ(inScope("c ? 10 : 20"), Value::integer(20));
    bind("c", Value::integer(1));
    EXPECT_EQ(inScope("(c / 0) ? 10 : 20"), Value::integer(20));
    EXPECT_EQ(inScope("c ? 10"), Value::error()); // no ":" to choose from
}

TEST_F(EvalTest, Functions)
{
    bind("x", Value::real(-2.5));
    bind("n", Value::integer(-3));
    bind("s", Value::text("x"));
    const struct {
        const char* text;
        Value expected;
    } cases[] = {
        {"max(1, 2.5, 2)", Value::real(2.5)},
        {"max(1, 3, 2)", Value::integer(3)},
        {"min(1, 2.5, n)", Value::real(-3.0)},
        {"min(4, n)", Value::integer(-3)},
        {"max()", Value::integer(0)},
        {"max(1, \"a\")", Value::error()},
        {"max(1, s)", Value::error()},
        {"max(1, 1 / 0)", Value::error()},
        {"abs(-3)", Value::integer(3)},
        {"abs(n)", Value::integer(3)},
        {"abs(x)", Value::real(2.5)},
        {"abs(s)", Value::error()},
        {"double(n)", Value::real(-3.0)},
        {"int(x)", Value::integer(-2)},
        {"int(\"42abc\")", Value::integer(42)},
        {"double(s)", Value::real(0.0)},
        {"atan2(1, 1)", Value::real(0.7853981633974483)},
        {"atan2(1 / 0, s)", Value::error()},
        {"printf(\"%d/%f\", 3, 1.5)", Value::text("3/1.500000")},
        {"printf(\"n=%d x=%.1f s=%@\", n, x, s)", Value::text("n=-3 x=-2.5 s=x")},
        {"printf(\"%s\", 1 / 0)", Value::text("error")},
        {"printf(\"%d\")", Value::text("0")},
        {"nosuch(n)", Value()}, // unknown names give nothing
        {"1 + nosuch(n)", Value::integer(1)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(inScope(c.text), c.expected) << c.text;
}

TEST_F(EvalTest, WrongArgumentCountTurnsTheCallIntoAnErrorForGood)
{
    bind("y", Value::integer(1));
    for (auto [text, name, count] : {std::tuple{"atan2(y)", "atan2", 1}, std::tuple{"double(y, y)", "double", 2},
                                     std::tuple{"int(y, 1)", "int", 2}, std::tuple{"abs(y, y, y)", "abs", 3}}) {
        NodePtr n = compile(text);
        Value v;
        std::string out = printedBy([&] { v = n->evalWithEnvironment(scope.get()); });
        EXPECT_NE(out.find("Error: " + std::to_string(count) + " args to " + name + "\n"), std::string::npos) << out;
        EXPECT_EQ(v, Value::error()) << text;
        EXPECT_EQ(n->type(), NodeKind::Error) << text;
    }
    // With constant arguments this happens when the call is folded.
    NodePtr folded;
    std::string out = printedBy([&] { folded = expr::Compiler::compile(client, "atan2(1)"); });
    EXPECT_NE(out.find("Error: 1 args to atan2\n"), std::string::npos);
    EXPECT_EQ(folded->type(), NodeKind::Error);
    out = printedBy([&] { folded = expr::Compiler::compile(client, "int()"); });
    EXPECT_NE(out.find("Error: 0 args to int\n"), std::string::npos);
    EXPECT_EQ(folded->type(), NodeKind::Error);
}

TEST_F(EvalTest, APrintfCutAtItsCapSaysSoOncePerCall)
{
    // A label refreshed every second would print the cut every second.
    bind("w", Value::integer(1024));
    std::string format;
    for (int i = 0; i < 100; ++i)
        format += "%*d";
    std::string args;
    for (int i = 0; i < 100; ++i)
        args += ", w, 1";
    NodePtr n = compile("printf(\"" + format + "\"" + args + ")");
    for (int round = 0; round < 3; ++round) {
        Value v;
        std::string out = printedBy([&] { v = n->evalWithEnvironment(scope.get()); });
        EXPECT_EQ(v.stringValue().size(), kMaxOutput);
        EXPECT_EQ(out, round == 0 ? "printf: output cut at 4096 bytes\n" : "") << round;
    }
}

TEST_F(EvalTest, NumericAndGeneralPathsAgree)
{
    // Debug output forces every evaluation through the general path; the
    // same expressions must give the same values both ways.
    bind("a", Value::integer(5));
    bind("b", Value::real(1.25));
    bind("c", Value::integer(-2));
    const char* texts[] = {
        "a / 2",         "a / b",          "(a + b * 2) > 3 ? a : b", "max(a, b, c) * 2.5", "min(a, c) - b",
        "a % c",         "b % 0.5",        "a && c || 0",             "-a * b",             "abs(c) + abs(-b)",
        "int(b) + a",    "double(a) / 4",  "atan2(a, b)",             "a < b",              "b >= 1.25",
        "a == 5 ? c : 9", "a & 6 | 8",     "a : b",                   "a / 0",              "b & 1",
        "nosuch(a) + a", "max()",          "a - -c",
        // A choice on an integer comparison compares in place: every
        // comparison, both outcomes, integer and double branches.
        "c < a ? a : c", "a < c ? a : c",  "a <= 5 ? b : 2.5",        "a >= 6 ? 1 : 2",     "c == -2 ? b : 0.5",
        "a > c ? c : a", "a > 5 ? c : a",  "(a + c) == 3 ? a * c : a / c",              "b > 1 ? a : c",
    };
    for (const char* t : texts) {
        // The first evaluation resolves the names (they turn out to be
        // local), which rebuilds the numeric program; the second runs it.
        NodePtr n = compile(t);
        Value fast;
        printedBy([&] {
            n->evalWithEnvironment(scope.get());
            fast = n->evalWithEnvironment(scope.get());
        });
        client->setDebug(true);
        Value general = inScope(t);
        client->setDebug(false);
        EXPECT_EQ(fast, general) << t;
    }
}

TEST_F(EvalTest, ReadingsOfValues)
{
    NodePtr d = compile("2.75");
    EXPECT_EQ(d->intValue(), 2);
    EXPECT_DOUBLE_EQ(d->doubleValue(), 2.75);
    EXPECT_EQ(d->stringValue(), "2.750000");
    NodePtr s = compile("\"12.5kg\"");
    EXPECT_EQ(s->intValue(), 12);
    EXPECT_DOUBLE_EQ(s->doubleValue(), 12.5);
    NodePtr e = compile("1 / 0");
    EXPECT_EQ(e->intValue(), 0);
    EXPECT_EQ(e->stringValue(), "error");
    EXPECT_EQ(e->string(), "");
    NodePtr none = compile("nosuch(q)");
    EXPECT_EQ(none->intValue(), 0);
    EXPECT_EQ(none->stringValue(), "");
}

TEST_F(EvalTest, DescriptionsNameTheKind)
{
    const struct {
        const char* text;
        const char* head;
    } cases[] = {
        {"v", "<ClientDataRemoteVar: 0x"},
        {"v.e", "<ClientDataStructElement: 0x"},
        {"v[1]", "<ClientDataArray: 0x"},
        {"f(v)", "<ClientDataFunction: 0x"},
        {"3", "<ClientDataInteger: 0x"},
        {"3.5", "<ClientDataDouble: 0x"},
        {"\"t\"", "<ClientDataString: 0x"},
        {"1 / 0", "<ClientDataError: 0x"},
        {"v >= 1", "<ClientDataOperator: 0x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(compile(c.text)->description().rfind(c.head, 0), 0u) << c.text;
    EXPECT_NE(compile("v >= 1")->description().find("opperator=\">=\""), std::string::npos);
    EXPECT_NE(compile("3.5")->description().find("value=\"3.500000e+00\""), std::string::npos);
    EXPECT_NE(compile("v.e")->description().find("element=\"e\""), std::string::npos);
}

} // namespace
