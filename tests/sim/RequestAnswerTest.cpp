#include "variables/RequestAnswer.h"

#include "sim/MemoryFixtures.h"

#include <gtest/gtest.h>

using namespace fieldmon;
using namespace fieldmon::sim;
using fieldmon::sim::test::var;

namespace {

std::string le32(std::uint32_t v)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}

// Variables 0..3 and 70 at known addresses; memory 0x100.. holds 0x00,0x01,...
struct Fixture {
    DeviceMemory memory;
    Fixture()
    {
        DeviceConfig config;
        config.memoryBase = 0x100;
        config.align = 4;
        std::vector<std::string> errors;
        memory.layout({var("a", "WORD", 0, 2), var("b", "WORD", 1, 2), var("c", "int", 2, 4), var("d", "BYTE", 3, 1),
                       var("far", "WORD", 70, 2)},
                      config, errors);
        for (std::uint32_t i = 0; i < 64; ++i) {
            const std::uint8_t v = static_cast<std::uint8_t>(i);
            memory.write(0x100 + i, &v, 1);
        }
    }
};

} // namespace

TEST(RequestAnswer, AddressRequestsAnswerEveryVariableOfEachItem)
{
    Fixture f;
    struct Case {
        std::string request;
        std::string payload;
    };
    const std::vector<Case> cases = {
        {"vbA4", le32(0x100)},
        // the example of the protocol: variables 0, 2 and 3
        {"vbA4C8", le32(0x100) + le32(0x108) + le32(0x10C)},
        // a run of four from 0
        {"vcA16", le32(0x100) + le32(0x104) + le32(0x108) + le32(0x10C)},
        // an undeclared index gets the zero area's address
        {"vdZ4", le32(0)},
        {"ve", ""},
        // a count that is no multiple of 4 is padded with zeros
        {"vfA6", le32(0x100) + std::string(2, '\0')},
    };
    for (const Case& c : cases) {
        std::string note;
        auto reply = answerAddressRequest(c.request, f.memory, note);
        ASSERT_TRUE(reply) << c.request;
        EXPECT_EQ(*reply, std::string("V") + c.request[1] + c.payload + std::string(1, '\0')) << c.request;
        EXPECT_TRUE(note.empty()) << c.request << ": " << note;
    }
}

TEST(RequestAnswer, ItemCharactersAboveAsciiArriveAsUtf8OrRawBytes)
{
    Fixture f;
    {
        // Index 200 travels as the byte (65 + 200) mod 256 = 9; a variable
        // declared as 456 shares that low byte.
        DeviceMemory m;
        DeviceConfig config;
        std::vector<std::string> errors;
        m.layout({var("wrapped", "WORD", 456, 2), var("next", "WORD", 201, 2), var("loose", "BYTE",
                  DeclaredVariable::kNoIndex, 1)},
                 config, errors);
        std::string note;
        auto reply = answerAddressRequest(std::string("vb\x09" "8"), m, note);
        EXPECT_EQ(*reply, "Vb" + le32(m.find("wrapped")->address) + le32(m.find("next")->address) + std::string(1, '\0'));
        // A variable without an index is asked for as variable 0.
        reply = answerAddressRequest("vcA4", m, note);
        EXPECT_EQ(*reply, "Vc" + le32(m.find("loose")->address) + std::string(1, '\0'));
        // A run across 255 goes on with the low byte 0.
        reply = answerAddressRequest(std::string("vd\x40" "8"), m, note); // 64 = (65 + 255) mod 256
        EXPECT_EQ(*reply, "Vd" + le32(0) + le32(m.find("loose")->address) + std::string(1, '\0'));
    }
    // Index 70: 65 + 70 = 135, which goes out as the UTF-8 bytes C2 87 or as one raw byte.
    std::string note;
    auto utf8 = answerAddressRequest(std::string("vb\xC2\x87" "4"), f.memory, note);
    auto raw = answerAddressRequest(std::string("vb\x87" "4"), f.memory, note);
    const std::string want = "Vb" + le32(f.memory.find("far")->address) + std::string(1, '\0');
    EXPECT_EQ(*utf8, want);
    EXPECT_EQ(*raw, want);

    // 70 bytes: 65 + 70 = 135 again, in a value item.
    auto value = answerValueRequest(std::string("ab00000100\xC2\x87"), f.memory, note);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->size(), 2u + 70u + 1u);
}

TEST(RequestAnswer, ValueRequestsAnswerExactlyTheBytesAskedFor)
{
    Fixture f;
    auto mem = [&](std::uint32_t at, std::uint32_t n) {
        std::string s;
        f.memory.read(at, n, s);
        return s;
    };
    struct Case {
        std::string request;
        std::string payload;
    };
    const std::vector<Case> cases = {
        {"ab00000100C", mem(0x100, 2)},
        // a merged item: 2 bytes at 0x100 and 2 at 0x104 asked as 6 bytes (gap of 2)
        {"ac00000100G", mem(0x100, 6)},
        {"ad00000100C00000108E", mem(0x100, 2) + mem(0x108, 4)},
        {"ae0000010aA", ""},
        // requests beyond memory return zeros
        {"af0000fffeE", mem(0xFFFE, 2) + std::string(2, '\0')},
        {"agffffffffC", std::string(2, '\0')},
        // upper-case hexadecimal digits are read too
        {"ah0000010AC", mem(0x10A, 2)},
    };
    for (const Case& c : cases) {
        std::string note;
        auto reply = answerValueRequest(c.request, f.memory, note);
        ASSERT_TRUE(reply) << c.request;
        EXPECT_EQ(*reply, std::string("A") + c.request[1] + c.payload + std::string(1, '\0')) << c.request;
    }
}

TEST(RequestAnswer, MalformedItemsEndTheListQuietly)
{
    Fixture f;
    struct Case {
        std::string request;
        bool value;
        std::size_t payload;
    };
    const std::vector<Case> cases = {
        {"vbA4B", false, 4},              // index without count
        {"ab00000100C0000", true, 2},     // short second item
        {"ab0000z100C", true, 0},         // bad hexadecimal digit
        {"ab00000100", true, 0},          // no size character
        {"vbA99999999999999", false, 0},  // absurd count: nothing rather than a huge reply
    };
    for (const Case& c : cases) {
        std::string note;
        auto reply = c.value ? answerValueRequest(c.request, f.memory, note)
                             : answerAddressRequest(c.request, f.memory, note);
        ASSERT_TRUE(reply) << c.request;
        EXPECT_EQ(reply->size(), 3 + c.payload) << c.request;
        EXPECT_FALSE(note.empty()) << c.request;
    }
    std::string note;
    EXPECT_FALSE(answerAddressRequest("v", f.memory, note)) << "no identifier, no answer";
    EXPECT_FALSE(answerValueRequest("a", f.memory, note));
}

TEST(RequestAnswer, ReplyNeverExceedsOneDatagram)
{
    Fixture f;
    std::string request = "ab";
    for (int i = 0; i < 1000; ++i)
        request += "00000100\xC2\x8C"; // 75 bytes each: 75000 in all
    std::string note;
    auto reply = answerValueRequest(request, f.memory, note);
    ASSERT_TRUE(reply);
    EXPECT_LE(reply->size(), kMaxReplyPayload + 3);
    EXPECT_EQ((reply->size() - 3) % 75, 0u) << "whole items only";
    EXPECT_NE(note.find("exceed"), std::string::npos);
}
