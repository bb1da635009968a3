#include "sim/DeviceMemory.h"

#include "sim/MemoryFixtures.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace fieldmon::sim;
using fieldmon::sim::test::pointVar;
using fieldmon::sim::test::var;

namespace {

std::string bytesAt(const DeviceMemory& m, std::uint32_t address, std::uint32_t count)
{
    std::string out;
    m.read(address, count, out);
    return out;
}

} // namespace

TEST(DeviceMemory, LaysOutInDeclarationOrderAlignedFromTheBase)
{
    DeviceConfig config;
    config.memoryBase = 0x100;
    config.align = 4;
    config.variables.push_back(VariableSpec{"history", {}, std::nullopt, 5, std::nullopt});
    DeviceMemory m;
    std::vector<std::string> errors;
    m.layout({var("speed", "WORD", 12, 2), var("flag", "BYTE", 3, 1), var("history", "SWORD", 20, 2),
              pointVar("hook", 1), var("late", "int", 40, 4)},
             config, errors);
    EXPECT_TRUE(errors.empty());
    ASSERT_EQ(m.variables().size(), 5u);
    EXPECT_EQ(m.find("speed")->address, 0x100u);
    EXPECT_EQ(m.find("flag")->address, 0x104u);
    EXPECT_EQ(m.find("history")->address, 0x108u); // 5 elements of 2 bytes: up to 0x112
    EXPECT_EQ(m.find("hook")->address, 0x114u);
    EXPECT_EQ(m.find("late")->address, 0x118u);
    EXPECT_EQ(m.addressOfIndex(12), 0x100u);
    EXPECT_EQ(m.addressOfIndex(1), 0x114u);
    EXPECT_EQ(m.addressOfIndex(99), 0u) << "an undeclared index points at the zero area";
}

TEST(DeviceMemory, PinnedAddressesAndProblems)
{
    DeviceConfig config;
    config.variables.push_back(VariableSpec{"a", {}, std::nullopt, 1, 0x2000u});
    config.variables.push_back(VariableSpec{"b", {}, std::nullopt, 1, 0x2001u});
    config.variables.push_back(VariableSpec{"huge", {}, std::nullopt, 4096, 0xFF00u});
    DeviceMemory m;
    std::vector<std::string> errors;
    m.layout({var("a", "WORD", 1, 2), var("b", "WORD", 2, 2), var("huge", "int", 3, 4), var("next", "BYTE", 4, 1)},
             config, errors);
    EXPECT_EQ(m.find("a")->address, 0x2000u);
    EXPECT_EQ(m.find("next")->address, 0x100u) << "pinned variables do not move the running address";
    EXPECT_EQ(m.find("huge")->address, 0u) << "a variable that does not fit gets the zero area";
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("huge"), std::string::npos);
    EXPECT_NE(errors[1].find("overlap"), std::string::npos);
}

TEST(DeviceMemory, EncodesEachTypeLittleEndianInItsUnits)
{
    struct Case {
        const char* type;
        std::uint32_t size;
        SimValue value;
        std::vector<std::uint8_t> bytes;
    };
    const std::map<std::string, int> modes = {{"OFF", 0}, {"ON", 1}, {"FAULT", 7}};
    const std::vector<Case> cases = {
        {"BYTE", 1, {false, -56, {}}, {0xC8}},
        {"char", 1, {false, 65, {}}, {0x41}},
        {"WORD", 2, {false, 65535, {}}, {0xFF, 0xFF}},
        {"SWORD", 2, {false, -1, {}}, {0xFF, 0xFF}},
        {"short", 2, {false, 0x1234, {}}, {0x34, 0x12}},
        {"int", 4, {false, -2, {}}, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"DWORD", 4, {false, 0x01020304, {}}, {4, 3, 2, 1}},
        {"DEC10", 2, {false, 21.5, {}}, {0xD7, 0x00}},         // 215
        {"DEC100", 2, {false, 12.34, {}}, {0xD2, 0x04}},       // 1234
        {"DEC1000", 2, {false, -1.5, {}}, {0x24, 0xFA}},       // -1500
        {"float", 4, {false, 1.0, {}}, {0x00, 0x00, 0x80, 0x3F}},
        {"IP_ADDR", 4, {true, 0, "192.168.1.20"}, {192, 168, 1, 20}},
        {"mode", 1, {true, 0, "FAULT"}, {7}},
        {"mode", 1, {false, 1, {}}, {1}},
        {"WORD", 2, {true, 0, "300"}, {0x2C, 0x01}}, // a number given as text
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> out;
        std::string why;
        ASSERT_TRUE(DeviceMemory::encode(c.type, c.size, modes, c.value, out, why)) << c.type << ": " << why;
        EXPECT_EQ(out, c.bytes) << c.type;
    }
    std::vector<std::uint8_t> out;
    std::string why;
    EXPECT_FALSE(DeviceMemory::encode("IP_ADDR", 4, modes, {true, 0, "not.an.address"}, out, why));
    EXPECT_FALSE(DeviceMemory::encode("mode", 1, modes, {true, 0, "SLEEP"}, out, why));
    EXPECT_FALSE(DeviceMemory::encode("unknown", 0, modes, {false, 1, {}}, out, why)) << "no storage, nothing to write";
}

TEST(DeviceMemory, SetsAndGetsByPath)
{
    DeviceConfig config;
    config.variables.push_back(VariableSpec{"history", {}, std::nullopt, 4, std::nullopt});
    DeviceMemory m;
    std::vector<std::string> errors;
    m.layout({var("temp", "DEC10", 1, 2), pointVar("hook", 2), var("history", "SWORD", 3, 2)}, config, errors);
    std::string why;
    ASSERT_TRUE(m.set("temp", {false, -1.4, {}}, why)) << why;
    EXPECT_EQ(*m.get("temp"), -1.4);
    ASSERT_TRUE(m.set("hook.y", {false, -35, {}}, why)) << why;
    EXPECT_EQ(*m.get("hook.y"), -35);
    EXPECT_EQ(bytesAt(m, m.find("hook")->address + 2, 2), std::string("\xDD\xFF", 2));
    ASSERT_TRUE(m.set("history[3]", {false, 7, {}}, why)) << why;
    EXPECT_EQ(*m.get("history[3]"), 7);
    EXPECT_EQ(*m.get("history[0]"), 0);

    struct Bad {
        const char* path;
        const char* reason;
    };
    for (const Bad& b : std::vector<Bad>{{"nothing", "no variable"},
                                         {"hook", "structure"},
                                         {"hook.z", "no member"},
                                         {"history[4]", "not reserved"},
                                         {"history[1", "missing"}}) {
        std::string w;
        EXPECT_FALSE(m.set(b.path, {false, 1, {}}, w)) << b.path;
        EXPECT_NE(w.find(b.reason), std::string::npos) << b.path << ": " << w;
    }
}

TEST(DeviceMemory, ReadsBeyondTheMemoryAsZeros)
{
    DeviceMemory m;
    const std::uint8_t ff[2] = {0xFF, 0xFF};
    m.write(0xFFFE, ff, 2);
    EXPECT_EQ(bytesAt(m, 0xFFFE, 4), std::string("\xFF\xFF\0\0", 4));
    EXPECT_EQ(bytesAt(m, 0xFFFFFFF0u, 3), std::string(3, '\0'));
    const std::uint8_t more[4] = {1, 2, 3, 4};
    m.write(0xFFFF, more, 4); // writes what fits, nothing past the end
    EXPECT_EQ(m.at(0xFFFF), 1);
}
