#include "variables/RemoteData.h"
#include "platform/Diagnostics.h"
#include "variables/RemoteDataRequest.h"

#include "StoreFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace fieldmon;
using fieldmon::test::bytes;
using fieldmon::test::RecordingStore;
using fieldmon::test::reply;

namespace {

std::vector<std::uint8_t> floatBytes(float f)
{
    std::uint8_t b[4];
    std::memcpy(b, &f, 4); // the test machine is little-endian, like the devices
    return {b[0], b[1], b[2], b[3]};
}

} // namespace

TEST(RemoteData, ReadingsByType)
{
    struct Case {
        const char* type;
        std::vector<std::uint8_t> data;
        std::int32_t size;
        std::int32_t asInt;
        double asDouble;
        expr::Value value;
    };
    const Case cases[] = {
        {"DEC100", bytes({0xD2, 0x04}), 2, 12, 12.34, expr::Value::real(12.34)},
        // Half the divisor is added before truncating toward zero.
        {"DEC10", bytes({0xF2, 0xFF}), 2, 0, -1.4, expr::Value::real(-1.4)},
        {"DEC10", bytes({0xE7, 0xFF}), 2, -2, -2.5, expr::Value::real(-2.5)},
        {"DEC1000", bytes({0xDC, 0x05}), 2, 2, 1.5, expr::Value::real(1.5)},
        {"BYTE", bytes({0xC8}), 1, -56, -56.0, expr::Value::integer(-56)},
        {"char", bytes({0x7F}), 1, 127, 127.0, expr::Value::integer(127)},
        {"WORD", bytes({0xFF, 0xFF}), 2, 65535, 65535.0, expr::Value::integer(65535)},
        {"unsigned short", bytes({0x34, 0x12}), 2, 0x1234, 0x1234, expr::Value::integer(0x1234)},
        {"SWORD", bytes({0xFF, 0xFF}), 2, -1, -1.0, expr::Value::integer(-1)},
        {"short", bytes({0x00, 0x80}), 2, -32768, -32768.0, expr::Value::integer(-32768)},
        {"signed short", bytes({0xFE, 0xFF}), 2, -2, -2.0, expr::Value::integer(-2)},
        {"int", bytes({0x12, 0x34, 0x56, 0x78}), 4, 0x78563412, 0x78563412, expr::Value::integer(0x78563412)},
        {"DWORD", bytes({0xFF, 0xFF, 0xFF, 0xFF}), 4, -1, -1.0, expr::Value::integer(-1)},
        {"float", floatBytes(3.75f), 4, 3, 3.75, expr::Value::real(3.75)},
        {"float", floatBytes(-2.5f), 4, -2, -2.5, expr::Value::real(-2.5)},
        {"IP_ADDR", bytes({192, 168, 1, 20}), 4, -1, -1.0, expr::Value::text("192.168.1.20")},
        {"size_t", bytes({8, 0, 0, 0}), 4, -1, -1.0, expr::Value::error()},
        {" enumElement", bytes({1}), 1, -1, -1.0, expr::Value::error()},
    };
    RecordingStore s;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        auto v = s.var(c.type, 0, 0x100);
        ASSERT_EQ(v->size(), c.size);
        v->storeData(c.data.data(), c.size);
        EXPECT_EQ(v->intValue(), c.asInt);
        EXPECT_DOUBLE_EQ(v->doubleValue(), c.asDouble);
        expr::Value got = v->defaultClientDataRepresentation();
        EXPECT_EQ(got.kind(), c.value.kind());
        if (c.value.kind() == expr::Kind::Double)
            EXPECT_DOUBLE_EQ(got.asDouble(), c.value.asDouble());
        else
            EXPECT_EQ(got, c.value);
    }
}

TEST(RemoteData, UnknownTypeWarnsAndReadsAsNothing)
{
    RecordingStore s;
    platform::DiagnosticCapture diagnostics;
    auto v = s.var("bogus", 0, 0x100);
    EXPECT_EQ(diagnostics.take(), "Warning:Unknown type 'bogus'\n");
    EXPECT_EQ(v->size(), 0);
    v->storeData(nullptr, 0);
    EXPECT_FALSE(v->invalid());
    EXPECT_EQ(v->intValue(), -1);
    EXPECT_EQ(v->doubleValue(), -1.0);
    EXPECT_TRUE(v->defaultClientDataRepresentation().isError());
}

TEST(RemoteData, FloatOutsideTheIntRangeReadsClamped)
{
    // A device float of 1e20 or NaN once went through a plain cast to int,
    // which C++ leaves undefined (UBSan flags it); it now clamps like the
    // expression language does.
    RecordingStore s;
    auto v = s.var("float", 0, 0);
    auto big = floatBytes(1e20f);
    v->storeData(big.data(), 4);
    EXPECT_EQ(v->intValue(), 2147483647);
    auto nan = floatBytes(std::nanf(""));
    v->storeData(nan.data(), 4);
    EXPECT_EQ(v->intValue(), 0);
    EXPECT_TRUE(std::isnan(v->doubleValue()));
}

TEST(RemoteData, EnumerationReadsAsEnumeratorName)
{
    RecordingStore s;
    s.store.parseVariableDeclaration("(enum) mode { OFF; ON; FAULT = 7; SERVICE; }; (mode) m = 1;");
    auto m = s.store.variableNamed("m");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->size(), 1);
    m->setRealAddress(0x40);

    auto store = [&](int b) {
        auto d = bytes({b});
        m->storeData(d.data(), 1);
    };
    store(7);
    EXPECT_EQ(m->defaultClientDataRepresentation(), expr::Value::text("FAULT"));
    EXPECT_EQ(m->intValue(), 7);
    EXPECT_EQ(m->doubleValue(), 7.0);
    store(8);
    EXPECT_EQ(m->defaultClientDataRepresentation(), expr::Value::text("SERVICE"));

    store(9);
    platform::DiagnosticCapture diagnostics;
    EXPECT_TRUE(m->defaultClientDataRepresentation().isError());
    EXPECT_EQ(diagnostics.take(), "Hmm. Can't find the type\n");
}

TEST(RemoteData, StructureVariableReadsAsError)
{
    RecordingStore s;
    s.store.parseVariableDeclaration("(struct) pt { (WORD) x = 0; (WORD) y = 2; }; (pt) p = 3;");
    auto p = s.store.variableNamed("p");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->size(), 4);
    EXPECT_EQ(p->intValue(), -1);
    EXPECT_TRUE(p->defaultClientDataRepresentation().isError());
}

TEST(RemoteData, AddressAndValidity)
{
    RecordingStore s;
    auto v = s.var("WORD");
    EXPECT_FALSE(v->isReady());
    EXPECT_TRUE(v->invalid());
    auto addr = bytes({0x78, 0x56, 0x34, 0x12});
    v->setAddress(addr.data());
    EXPECT_EQ(v->realAddress(), 0x12345678);
    EXPECT_TRUE(v->hasAddress());
    EXPECT_TRUE(v->invalid()); // an address alone is no value
    auto val = bytes({1, 0});
    v->storeData(val.data(), 2);
    EXPECT_FALSE(v->invalid());
    v->invalidate();
    EXPECT_TRUE(v->invalid());
    // Before any value arrives, the buffer reads as zero bytes.
    auto fresh = s.var("DWORD", 1, 0);
    EXPECT_EQ(fresh->intValue(), 0);
    EXPECT_TRUE(fresh->data().empty());
}

TEST(RemoteData, TempidCountsEveryCreation)
{
    auto a = RemoteData::create(nullptr);
    auto b = RemoteData::create(nullptr);
    EXPECT_EQ(b->tempid(), a->tempid() + 1);
}

TEST(RemoteData, SizesAreClamped)
{
    RecordingStore s;
    auto v = s.var("BYTE");
    v->setSize(-5);
    EXPECT_EQ(v->size(), 0);
    v->setSize(2000000000);
    EXPECT_EQ(v->size(), RemoteData::kMaxStorageSize);
    EXPECT_TRUE(v->data().empty()); // nothing allocated before a value arrives
}

TEST(RemoteData, RequestTexts)
{
    RecordingStore s;
    struct Case {
        std::int32_t index;
        std::string text;
    };
    // The index character is one byte, (65 + index) mod 256, never UTF-8.
    const Case cases[] = {
        {0, "A4"},
        {3, "D4"},
        {62, "\x7f" "4"},
        {100, "\xa5" "4"},
        {190, "\xff" "4"},
        {191, std::string(1, '\0') + "4"},
        {200, "\x09" "4"},
        {RemoteData::kNoIndex, "A4"}, // the low byte of -1000000000 is 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        auto r = s.var("WORD", c.index)->addressRequest();
        EXPECT_EQ(r.request(), c.text);
        EXPECT_TRUE(r.isBase());
        EXPECT_EQ(r.index(), c.index);
        EXPECT_EQ(r.size(), 4);
        EXPECT_FALSE(r.ready());
    }

    // varRequest without an address falls back to the address request.
    auto noAddress = s.var("WORD", 5)->varRequest();
    EXPECT_TRUE(noAddress.isBase());
    EXPECT_EQ(noAddress.request(), "F4");

    auto word = s.var("WORD", 5, 4660)->varRequest();
    EXPECT_FALSE(word.isBase());
    EXPECT_EQ(word.request(), "00001234C");
    EXPECT_EQ(word.address(), 4660);
    EXPECT_EQ(word.size(), 2);
    EXPECT_TRUE(word.ready());

    // Addresses print as 32-bit unsigned hex.
    EXPECT_EQ(s.var("BYTE", 1, -16)->varRequest().request(), "fffffff0B");
}

TEST(RemoteData, ArrayElements)
{
    RecordingStore s;
    auto w = s.var("WORD", 2);
    EXPECT_EQ(w->arrayElement(3), nullptr); // no address yet: nothing to derive from
    EXPECT_TRUE(w->elements().empty());

    w->setRealAddress(4096);
    auto e3 = w->arrayElement(3);
    ASSERT_TRUE(e3);
    EXPECT_EQ(e3->realAddress(), 4102);
    EXPECT_EQ(e3->type(), "WORD");
    EXPECT_EQ(e3->size(), 2);
    EXPECT_EQ(e3->varIndex(), 2);
    EXPECT_EQ(w->elements().at("3"), e3);
    EXPECT_EQ(w->arrayElement(3), e3);
    EXPECT_EQ(w->arrayElement(0), w);
    EXPECT_EQ(w->arrayElement(-4), w);

    // An element keeps its address when the parent's changes.
    w->setRealAddress(8192);
    EXPECT_EQ(w->arrayElement(3)->realAddress(), 4102);
    EXPECT_EQ(w->arrayElement(1)->realAddress(), 8194);
}

TEST(RemoteData, ElementCacheEvictsOnlyWhatNobodyElseHolds)
{
    // Past 1,024 cached elements every resolve once made a fresh element: the
    // reply went into the object the request held while the expression read
    // a new, invalid one and asked again forever. Now the cache evicts, but
    // never an element that something else (an expression, a request) holds.
    const auto cap = static_cast<std::int32_t>(RemoteData::kMaxCachedElements);
    RecordingStore s;
    auto w = s.var("BYTE", 0, 0);
    auto held = w->arrayElement(7);
    for (std::int32_t k = 1; k <= 3 * cap; ++k) {
        auto e = w->arrayElement(k);
        ASSERT_EQ(e->realAddress(), k);
        ASSERT_EQ(w->arrayElement(k).get(), e.get()) << k;
        ASSERT_LE(w->elements().size(), RemoteData::kMaxCachedElements);
    }
    EXPECT_EQ(w->arrayElement(7).get(), held.get());

    // An element whose request is out keeps its object, so the reply lands
    // where the next resolve looks.
    auto far = w->arrayElement(5 * cap);
    s.store.requests().queue(far->varRequest());
    s.store.requests().submitRequests();
    far.reset();
    for (std::int32_t k = 1; k <= 2 * cap; ++k)
        w->arrayElement(k);
    s.store.requests().handleValueReply(reply('A', 'b', bytes({42})));
    EXPECT_FALSE(w->arrayElement(5 * cap)->invalid());
    EXPECT_EQ(w->arrayElement(5 * cap)->intValue(), 42);
}

TEST(RemoteData, StructureElements)
{
    RecordingStore s;
    s.store.parseVariableDeclaration("(struct) pt { (WORD) x = 0; (DWORD) y = 2; }; (pt) p = 1; (WORD) plain = 2;");
    auto p = s.store.variableNamed("p");
    EXPECT_EQ(p->structureElement("y"), nullptr); // not ready

    p->setRealAddress(0x200);
    auto y = p->structureElement("y");
    ASSERT_TRUE(y);
    EXPECT_EQ(y->realAddress(), 0x202);
    EXPECT_EQ(y->type(), "DWORD");
    EXPECT_EQ(y->size(), 4);
    EXPECT_EQ(y->name(), "y");
    EXPECT_EQ(p->elements().at("y"), y);
    EXPECT_EQ(p->structureElement("y"), y);
    EXPECT_EQ(p->structureElement("z"), nullptr);

    auto plain = s.store.variableNamed("plain");
    plain->setRealAddress(0x10);
    EXPECT_EQ(plain->structureType(), nullptr);
    EXPECT_EQ(plain->structureElement("x"), nullptr);
}

TEST(RemoteData, DescriptionAndDump)
{
    RecordingStore s;
    auto v = s.var("WORD", 7, 0x20);
    std::string d = v->description();
    EXPECT_NE(d.find("type='WORD'"), std::string::npos);
    EXPECT_NE(d.find("index='7' name='v7' invalid='YES' address='0x20'"), std::string::npos);

    s.store.parseVariableDeclaration("(struct) pt { (WORD) x = 0; }; (pt) p;");
    platform::DiagnosticCapture diagnostics;
    s.store.printRemoteData();
    EXPECT_EQ(diagnostics.take(), "(pt) struct\n    (WORD) x\n(pt) p\n");
}
