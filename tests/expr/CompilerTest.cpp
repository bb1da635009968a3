#include "ExprSupport.h"

#include "expr/Compiler.h"

using namespace fieldmon;
using namespace fieldmon::expr;
using fieldmon::test::ExprTest;
using fieldmon::test::printedBy;

namespace {

using CompilerTest = ExprTest;

TEST_F(CompilerTest, TreeShapesFollowPrecedenceAndLeftAssociation)
{
    // string() prints operators with two arguments as "(l op r)", so it shows
    // the shape the precedence pass built.
    const struct {
        const char* text;
        const char* shape;
    } cases[] = {
        {"a ? b : c", "(a ? (b : c))"},
        {"a + b * c", "(a + (b * c))"},
        {"a * b + c", "((a * b) + c)"},
        {"a - b - c", "((a - b) - c)"},
        {"a / b % c", "((a / b) % c)"},
        {"a < b && c >= d", "((a < b) A (c G d))"},
        {"a == b || c <= d", "((a E b) O (c L d))"},
        {"a & b | c", "((a & b) | c)"},
        {"x = a + 1", "(x = (a + 1))"},
        {"a.b.c", "a.b.c"},
        {"t[i + 1].v", "t[(i + 1)].v"},
        {"t[1][2]", "t[1][2]"},
        {"f(a, g(b, c))", "f(a, g(b, c))"},
        {"speed ", "speed"},
        {"  speed\t\n", "speed"},
        {"a .b", "a.b"},
        {"a[1] .b", "a[1].b"},
        {"f (x)", "f(x)"},
        {"a!=b", "(a! = b)"}, // "!" is an ordinary name character
        {"(a + b) * c", "((a + b) * c)"},
        {"a_1 + b2", "(a_1 + b2)"},
    };
    for (const auto& c : cases) {
        NodePtr n = compile(c.text);
        ASSERT_NE(n, nullptr) << c.text;
        EXPECT_EQ(n->string(), c.shape) << c.text;
    }
}

TEST_F(CompilerTest, NodeKindsOfNamesElementsIndexesAndCalls)
{
    NodePtr e = compile("a.b.c");
    ASSERT_EQ(e->type(), NodeKind::Element);
    EXPECT_EQ(e->elementName(), "c");
    ASSERT_EQ(e->structure()->type(), NodeKind::Element);
    EXPECT_EQ(e->structure()->elementName(), "b");
    EXPECT_EQ(e->structure()->structure()->type(), NodeKind::RemoteVariable);
    EXPECT_EQ(e->structure()->structure()->varName(), "a");

    NodePtr t = compile("t[i + 1].v");
    ASSERT_EQ(t->type(), NodeKind::Element);
    ASSERT_EQ(t->structure()->type(), NodeKind::Index);
    EXPECT_EQ(t->structure()->structure()->varName(), "t");
    EXPECT_EQ(t->structure()->indexNode()->operatorKind(), expr::Operator::Add);

    NodePtr p = compile(R"(printf("%d\n", x))");
    ASSERT_EQ(p->type(), NodeKind::Function);
    EXPECT_EQ(p->varName(), "printf");
    ASSERT_EQ(p->args().size(), 2u);
    EXPECT_EQ(p->args()[0]->type(), NodeKind::String);
    EXPECT_EQ(p->args()[0]->stringValue(), "%d\n"); // a real line feed
    EXPECT_EQ(p->args()[1]->type(), NodeKind::RemoteVariable);

    NodePtr u = compile("-x * 2");
    ASSERT_EQ(u->type(), NodeKind::Operator);
    EXPECT_EQ(u->operatorKind(), expr::Operator::Subtract);
    ASSERT_EQ(u->args().size(), 1u); // unary minus of the product
    EXPECT_EQ(u->args()[0]->string(), "(x * 2)");
}

TEST_F(CompilerTest, NumbersAndConstantFolding)
{
    const struct {
        const char* text;
        Value value;
    } cases[] = {
        {"12", Value::integer(12)},
        {"0x1F", Value::integer(31)},
        {"0xff + 1", Value::integer(256)},
        {"3.25", Value::real(3.25)},
        {".5", Value::real(0.5)},
        {"1 + 2 * 3", Value::integer(7)},
        {"8 - 3 - 2", Value::integer(3)},
        {"-5", Value::integer(-5)},
        {"-2.5 * 2", Value::real(-5.0)},
        {"(1 + 2) * 3", Value::integer(9)},
        {"1 < 2 && 2 <= 2", Value::integer(1)},
        {"3 >= 4 || 1 == 1", Value::integer(1)},
        {"1 ? 10 : 20", Value::integer(10)},
        {"0 ? 10 : 20", Value::integer(20)},
        {"4294967295", Value::integer(-1)}, // the accumulator is 32 bits
        {"max(1, 2.5, 2)", Value::real(2.5)},
        {"nosuchfunction(1)", Value::integer(0)}, // unknown names fold to 0
        {"f()", Value::integer(0)},
    };
    for (const auto& c : cases) {
        NodePtr n = compile(c.text);
        EXPECT_TRUE(n->isConst()) << c.text;
        EXPECT_EQ(static_cast<int>(n->type()), static_cast<int>(c.value.kind())) << c.text;
        EXPECT_EQ(n->eval(), c.value) << c.text;
    }
}

TEST_F(CompilerTest, FoldingTurnsTheNodeIntoAConstantAndSaysSo)
{
    NodePtr n;
    std::string out = printedBy([&] { n = expr::Compiler::compile(client, "1 + 2"); });
    EXPECT_NE(out.find("Becoming int: '<ClientDataOperator: 0x"), std::string::npos) << out;
    EXPECT_NE(out.find("opperator=\"+\""), std::string::npos) << out;
    EXPECT_NE(out.find("Becoming an int\n"), std::string::npos) << out;
    EXPECT_EQ(n->type(), NodeKind::Integer);

    out = printedBy([&] { n = expr::Compiler::compile(client, "\"a\" + 1"); });
    EXPECT_NE(out.find("Becoming an string\n"), std::string::npos) << out;
    EXPECT_EQ(n->stringValue(), "a1");

    out = printedBy([&] { n = expr::Compiler::compile(client, "1 / 0"); });
    EXPECT_NE(out.find("Becoming an error. '"), std::string::npos) << out;
    EXPECT_NE(out.find("Done becoming an error. '<ClientDataError: 0x"), std::string::npos) << out;
    EXPECT_EQ(n->type(), NodeKind::Error);

    // A lone ":" is never folded by itself.
    n = compile("1 : 2");
    EXPECT_EQ(n->type(), NodeKind::Operator);
}

TEST_F(CompilerTest, MalformedTextsGiveTheErrorNodeAndTheirMessage)
{
    const struct {
        const char* text;
        const char* message; // nullptr: the error node without a message of its own
    } cases[] = {
        {"5 -", "Error: Can't do infix math without something on both sides of the opperator.\n"},
        {"* 5", "Error: Can't do infix math without something on both sides of the opperator.\n"},
        {"a b", "Error: No spaces allowed between tokens\n"},
        {"a != b", "Error: No spaces allowed between tokens\n"},
        {"5a", "Error: Bad number.  Found char 'a' in an int\n"},
        {"1.2.3", "Error: Bad number.  Found char '.' in an float\n"},
        {"a..b", "ERROR: 2 '.' follow eachother.  Bad\n"},
        {"a.[1]", "ERROR: .[] is invalid syntax\n"},
        {"a.+b", "ERROR: Can't access the '+' element of the structure.\n"},
        {"a.(b)", "ERROR: Can't access the '(' element of the structure.\n"},
        {"a[1](b)", "ERROR: Can't access the '(' element of the structure.\n"},
        {"a[1", "Error: Brackets don't close out\n"},
        {"(1 + 2", "Error: Found end of string before finding the end of parenthases.\n"},
        {"f(1, 2", "Error: Found end of string before finding the end of parenthases.\n"},
        {"x + -1", nullptr},   // an operator with one argument stays unresolved
        {"(-x) + 1", nullptr}, // a lone "-" that is not first cannot be unary
        {"2(3)", nullptr},     // two entries remain
        {"", nullptr},
        {"\"open", nullptr}, // an open literal is dropped
        {"a += b", nullptr}, // "+=" is dropped, leaving two names
    };
    for (const auto& c : cases) {
        NodePtr n;
        std::string out = printedBy([&] { n = expr::Compiler::compile(client, c.text); });
        ASSERT_NE(n, nullptr) << c.text;
        EXPECT_EQ(n->type(), NodeKind::Error) << c.text;
        if (c.message) {
            EXPECT_NE(out.find(c.message), std::string::npos) << c.text << " printed: " << out;
        }
    }
}

TEST_F(CompilerTest, SecondOperatorCharactersEqualsAndOrAreAlwaysEchoed)
{
    // The pair's second character is written even without debug output,
    // also for pairs that are then dropped.
    EXPECT_EQ(printedBy([&] { expr::Compiler::compile(client, "a <= b"); }), "'='\n");
    EXPECT_EQ(printedBy([&] { expr::Compiler::compile(client, "a && b"); }), "'&'\n");
    EXPECT_EQ(printedBy([&] { expr::Compiler::compile(client, "a || b"); }), "'|'\n");
    NodePtr n;
    EXPECT_EQ(printedBy([&] { n = expr::Compiler::compile(client, "a += b"); }), "'='\n");
    EXPECT_EQ(printedBy([&] { expr::Compiler::compile(client, "a < b"); }), "");
}

TEST_F(CompilerTest, StringLiteralsAndTheirEscapes)
{
    const struct {
        const char* text;
        const char* value;
    } cases[] = {
        {R"("plain")", "plain"},
        {R"("say \"hi\"")", "say \"hi\""},
        {R"("a\nb\tc")", "a\nb\tc"},
        {R"("back\\slash")", "back\\\\slash"}, // other backslashes stay
        {R"("a(b")", "a(b"},
        {R"("")", ""},
    };
    for (const auto& c : cases) {
        NodePtr n = compile(c.text);
        ASSERT_EQ(n->type(), NodeKind::String) << c.text;
        EXPECT_EQ(n->stringValue(), c.value) << c.text;
    }
}

TEST_F(CompilerTest, SplitArgumentsCutsAtTopLevelCommasOnly)
{
    using V = std::vector<std::string>;
    const struct {
        const char* text;
        V pieces;
    } cases[] = {
        {"a, b", V{"a", " b"}},
        {"  a,b  ", V{"a", "b"}},
        {"f(a, b), c", V{"f(a, b)", " c"}},
        {"t[1, 2], c", V{"t[1, 2]", " c"}},
        {R"("x, y", z)", V{R"("x, y")", " z"}},
        {R"("a\", b", c)", V{R"("a\", b")", " c"}},
        {"a, b,", V{"a", " b"}}, // a trailing comma adds no empty piece
        {"a,,b", V{"a", "", "b"}},
        {"", V{}},
        {"   ", V{}},
        {"a, (b", V{"a"}}, // an unclosed rest is dropped
        {"a), b", V{"\"error\""}},
        {"a], b", V{"\"error\""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(expr::Compiler::splitArguments(c.text), c.pieces) << c.text;
    EXPECT_EQ(printedBy([] { expr::Compiler::splitArguments("a)"); }), "Error, wrong number of parenthasees\n");
}

TEST_F(CompilerTest, DebugTraceDoesNotChangeTheResult)
{
    const char* texts[] = {"a + b * c", "t[i + 1].v", "f(1, \"x\")", "0x1F + .5", "a ? b : c", "5 -"};
    for (const char* t : texts) {
        NodePtr quiet = compile(t);
        client->setDebug(true);
        NodePtr traced;
        std::string out = printedBy([&] { traced = expr::Compiler::compile(client, t); });
        client->setDebug(false);
        EXPECT_NE(out.find("Evaluating expression '"), std::string::npos) << t;
        EXPECT_NE(out.find("State = 0 "), std::string::npos) << t;
        EXPECT_EQ(traced->type(), quiet->type()) << t;
        EXPECT_EQ(traced->string(), quiet->string()) << t;
    }
}

TEST_F(CompilerTest, AdversarialTextsAreBoundedNotFatal)
{
    // Deep nesting used to recurse once per parenthesis; beyond the bound
    // the text compiles to the error node instead of exhausting the stack.
    // These texts stay within the length bound, so that the nesting bound is
    // what stops them: the innermost group past it is an error node, which
    // the groups around it pass up; indexes around it stay index nodes over
    // an undeclared array; calls of an unknown function around it fold to 0.
    std::string indexes, calls;
    for (int i = 0; i < 5000; ++i) {
        indexes += "a[";
        calls += "f(";
    }
    indexes += "1" + std::string(5000, ']');
    calls += "x" + std::string(5000, ')');
    const struct {
        std::string text;
        NodeKind kind;
        Value value;
    } deep[] = {
        {std::string(10000, '(') + "1" + std::string(10000, ')'), NodeKind::Error, Value::error()},
        {indexes, NodeKind::Index, Value::error()},
        {calls, NodeKind::Integer, Value::integer(0)},
    };
    for (const auto& d : deep) {
        NodePtr n;
        Value v;
        std::string out = printedBy([&] { v = (n = expr::Compiler::compile(client, d.text))->eval(); });
        EXPECT_NE(out.find("Error: Expression nests too deeply\n"), std::string::npos);
        EXPECT_EQ(n->type(), d.kind) << d.text.substr(0, 8);
        EXPECT_EQ(v, d.value) << d.text.substr(0, 8);
    }

    // Nesting within the bound still works.
    std::string ok = std::string(40, '(') + "x + 1" + std::string(40, ')');
    EXPECT_EQ(compile(ok)->string(), "(x + 1)");

    // A long chain over a name cannot fold, so its tree would be as tall as
    // the chain is long: it is refused beyond the height bound...
    std::string chain = "x";
    for (int i = 0; i < 1000; ++i)
        chain += " + x";
    EXPECT_EQ(compile(chain)->type(), NodeKind::Error);
    // ...while a chain of constants folds as it goes and stays one node.
    std::string ones = "1";
    for (int i = 0; i < 1000; ++i)
        ones += " + 1";
    EXPECT_EQ(compile(ones)->eval(), Value::integer(1001));

    EXPECT_EQ(compile(std::string(Compiler::kMaxLength + 1, '1'))->type(), NodeKind::Error);
    // Text after a NUL is not part of the expression.
    EXPECT_EQ(compile(std::string_view("1 + 2\0garbage", 13))->eval(), Value::integer(3));
}

} // namespace
