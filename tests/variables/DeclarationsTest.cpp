#include "variables/DeclarationParser.h"
#include "variables/VariableStore.h"

#include "platform/Diagnostics.h"

#include "StoreFixture.h"

#include <gtest/gtest.h>

#include <random>

using namespace fieldmon;
using fieldmon::test::RecordingStore;

TEST(Declarations, SingleVariables)
{
    struct Case {
        const char* text;
        const char* name;
        const char* type;
        std::int32_t index;
    };
    const Case cases[] = {
        {"count = 4;", "count", "BYTE", 4},
        // No parentheses: the type is BYTE and the name ends at the blank.
        {"WORD a;", "WORD", "BYTE", RemoteData::kNoIndex},
        {"(WORD) b = 3;", "b", "WORD", 3},
        {"(DEC10) temp=7;", "temp", "DEC10", 7},
        {"(int) x;", "x", "int", RemoteData::kNoIndex},
        {"(WORD) = 5;", "", "WORD", 5},
        {"a;", "a", "BYTE", RemoteData::kNoIndex},
        {"\n  z ;", "z", "BYTE", RemoteData::kNoIndex},
        {"( unsigned short ) u = 12abc;", "u", "unsigned short", 12},
        {"(WORD)\tw\t=\t -3 ;", "w", "WORD", -3},
        {"x=;", "x", "BYTE", 0},
        {"(WORD) big = 99999999999;", "big", "WORD", 2147483647},
        // A type definition without a body is a variable of that type word.
        {"(struct) s = 4;", "s", "struct", 4},
        {"(enum) e;", "e", "enum", RemoteData::kNoIndex},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        RecordingStore s;
        platform::DiagnosticCapture diagnostics;
        s.store.parseVariableDeclaration(c.text);
        ASSERT_EQ(s.store.varDict().size(), 1u);
        auto v = s.store.variableNamed(c.name);
        ASSERT_TRUE(v);
        EXPECT_EQ(v->type(), c.type);
        EXPECT_EQ(v->varIndex(), c.index);
        EXPECT_TRUE(v->base());
        EXPECT_FALSE(v->isReady());
    }
}

TEST(Declarations, StatementsThatDeclareNothing)
{
    // An unclosed type once reached the table under a missing name; such
    // statements, like blank ones, now declare nothing.
    for (const char* text : {"", "   ;  ;", "(WORD x;", "(WORD);", "a; b", "b"}) {
        SCOPED_TRACE(text);
        RecordingStore s;
        s.store.parseVariableDeclaration(text);
        for (const auto& [name, v] : s.store.varDict())
            EXPECT_EQ(name, "a");
    }
}

TEST(Declarations, Split)
{
    platform::DiagnosticCapture diagnostics;
    EXPECT_EQ(VariableStore::splitVariables("a; b"), std::vector<std::string>{"a"});
    EXPECT_EQ(VariableStore::splitVariables("  x {a; b}; c;\n"), (std::vector<std::string>{"x {a; b}", " c"}));
    EXPECT_EQ(diagnostics.take(), "");

    EXPECT_EQ(VariableStore::splitVariables("} a; }}"), std::vector<std::string>{"} a"});
    EXPECT_EQ(diagnostics.take(), "Syntax error: found too many '}' s\n"
                                  "Syntax error: found too many '}' s\n"
                                  "Syntax error: found too many '}' s\n");
}

TEST(Declarations, Structure)
{
    RecordingStore s;
    s.store.parseVariableDeclaration("(struct) pt { (WORD) x = 0; (WORD) y = 2; }; (pt) p = 1;");
    auto pt = s.store.typeNamed("pt");
    ASSERT_TRUE(pt);
    EXPECT_EQ(pt->name(), "struct");
    EXPECT_EQ(pt->size(), 4);
    ASSERT_EQ(pt->elements().size(), 2u);
    EXPECT_EQ(pt->elements().at("y")->varIndex(), 2);
    EXPECT_FALSE(pt->elements().at("y")->base());
    EXPECT_EQ(s.store.variableNamed("p")->size(), 4);
    EXPECT_EQ(s.store.varDict().count("x"), 0u);

    s.store.parseVariableDeclaration("(struct) pt { (WORD) x = 0; (size_t) size = 8; (WORD) y = 2; };");
    EXPECT_EQ(s.store.typeNamed("pt")->size(), 8);
    EXPECT_EQ(s.store.typeNamed("pt")->elements().count("size"), 0u);
}

TEST(Declarations, StructureSizeIsBounded)
{
    // A document declaring a 2 GB structure must not make its variables
    // allocate (or overflow the size arithmetic).
    RecordingStore s;
    s.store.parseVariableDeclaration("(struct) big { (size_t) size = 2000000000; }; (big) a;"
                                     "(struct) neg { (size_t) size = -7; }; (neg) b;");
    EXPECT_EQ(s.store.variableNamed("a")->size(), RemoteData::kMaxStorageSize);
    EXPECT_EQ(s.store.variableNamed("b")->size(), 0);
}

TEST(Declarations, Enumeration)
{
    auto check = [](const char* keyword) {
        SCOPED_TRACE(keyword);
        RecordingStore s;
        s.store.parseVariableDeclaration(std::string("(") + keyword + ") mode { OFF; ON; FAULT = 7; SERVICE; };");
        auto mode = s.store.typeNamed("mode");
        ASSERT_TRUE(mode);
        EXPECT_EQ(mode->name(), " enum");
        EXPECT_EQ(mode->size(), 1);
        std::map<std::string, std::string> got;
        for (const auto& [key, e] : mode->elements()) {
            EXPECT_EQ(e->type(), " enumElement");
            got[key] = e->name();
        }
        EXPECT_EQ(got, (std::map<std::string, std::string>{{"0", "OFF"}, {"1", "ON"}, {"7", "FAULT"}, {"8", "SERVICE"}}));
        EXPECT_TRUE(s.store.varDict().empty());
    };
    check("enum");
    check("wheel");

    // Counting on past the largest int wraps rather than overflowing; the
    // later of two equal values wins.
    RecordingStore s;
    s.store.parseVariableDeclaration("(enum) e { A = 2147483647; B; C = 1; D = 1; };");
    const auto& el = s.store.typeNamed("e")->elements();
    EXPECT_EQ(el.at("-2147483648")->name(), "B");
    EXPECT_EQ(el.at("1")->name(), "D");
}

TEST(Declarations, TypeMustComeBeforeItsVariables)
{
    RecordingStore s;
    platform::DiagnosticCapture diagnostics;
    s.store.parseVariableDeclaration("(pt) early; (struct) pt { (WORD) x = 0; }; (pt) late;");
    EXPECT_EQ(diagnostics.take(), "Warning:Unknown type 'pt'\n");
    EXPECT_EQ(s.store.variableNamed("early")->size(), 0);
    EXPECT_EQ(s.store.variableNamed("late")->size(), 2);
}

TEST(Declarations, LaterEntriesReplaceEarlierOnes)
{
    RecordingStore s;
    s.store.parseVariableDeclaration("(WORD) v = 1;");
    s.store.parseVariableDeclaration("(int) v = 2;");
    EXPECT_EQ(s.store.varDict().size(), 1u);
    EXPECT_EQ(s.store.variableNamed("v")->type(), "int");
    EXPECT_EQ(s.store.variableNamed("v")->varIndex(), 2);
}

TEST(Declarations, BodyEndsAtTheFirstClosingBrace)
{
    RecordingStore s;
    platform::DiagnosticCapture diagnostics;
    // The inner '{' does not nest: the body is "(WORD) a = 0; {" ... up to the first '}'.
    s.store.parseVariableDeclaration("(struct) s { (WORD) a = 0; { (WORD) b = 2; } };");
    auto t = s.store.typeNamed("s");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->elements().count("a"), 1u);
    EXPECT_EQ(t->elements().count("b"), 0u);
}

TEST(Declarations, StateMachinePieces)
{
    auto st = DeclarationParser::parse("(struct) pt { x; } { y; }", false);
    EXPECT_EQ(st.type, "struct");
    EXPECT_EQ(st.name, "pt");
    EXPECT_EQ(st.body, "y;"); // a later pair of braces replaces the body
    EXPECT_FALSE(st.index);

    st = DeclarationParser::parse("(enum) e = 3 { A; }", false);
    EXPECT_EQ(st.index, "3 { A; }");
    EXPECT_FALSE(st.body); // '=' after the name: a variable, no body
}

TEST(Declarations, HostileTextParsesToSomethingDefined)
{
    RecordingStore s;
    platform::DiagnosticCapture diagnostics;
    // Deep brace nesting, unbalanced both ways.
    s.store.parseVariableDeclaration(std::string(200000, '{') + "a;" + std::string(100000, '}'));
    s.store.parseVariableDeclaration(std::string(100000, '}') + "b;");
    // Megabytes of noise made of the characters the grammar cares about.
    std::mt19937 rng(7);
    const char alphabet[] = "(){}=; \t\nabcWORDstructenum0123456789";
    std::string noise(2 << 20, ' ');
    for (auto& c : noise)
        c = alphabet[rng() % (sizeof alphabet - 1)];
    s.store.parseVariableDeclaration(noise);
    EXPECT_EQ(s.store.varDict().count("a"), 0u);
    EXPECT_EQ(s.store.varDict().count("b"), 1u);
    // Every variable came from its own statement, so there are fewer than
    // the text has semicolons.
    EXPECT_LT(s.store.varDict().size(), noise.size() / 10);
}
