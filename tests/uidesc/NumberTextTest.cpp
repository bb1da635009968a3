// Numbers read back from what a page shows: the gateway's numeric labels
// and units, and the trend screen's units.
#include "uidesc/NumberText.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace fieldmon::uidesc {
namespace {

TEST(ReadNumber, ANumberWithAtMostOneUnitWord)
{
    struct Case {
        const char* text;
        std::optional<double> number;
        const char* unit;
    };
    for (const Case& c : std::initializer_list<Case>{{"21.5", 21.5, ""},
                                                     {" 1663 kW", 1663, "kW"},
                                                     {"-3e2 rpm", -300, "rpm"},
                                                     {"10.77.0.12", std::nullopt, ""},
                                                     {"Wind 8.0 m/s", std::nullopt, ""},
                                                     {"8 m / s", std::nullopt, ""},
                                                     {"inf", std::nullopt, ""},
                                                     {"0x1F", std::nullopt, ""},
                                                     {"12 345", std::nullopt, ""},
                                                     {"", std::nullopt, ""}}) {
        auto read = readNumber(c.text);
        EXPECT_EQ(read.has_value(), c.number.has_value()) << c.text;
        if (read && c.number) {
            EXPECT_DOUBLE_EQ(read->number, *c.number) << c.text;
            EXPECT_EQ(read->unit, c.unit) << c.text;
        }
    }
}

TEST(UnitAroundNumber, TheWordAfterTheOneNumberAText)
{
    for (const auto& [text, unit] : std::initializer_list<std::pair<const char*, const char*>>{
             {"Load 12.5 t", "t"},
             {"101 bar", "bar"},
             {"Wind 8.0 m/s", "m/s"},
             {"  -3 kW  ", "kW"},
             {"1207", ""},              // a number alone
             {"Hook x 120 y -35", ""}, // two numbers: whose unit?
             {"Drive 0.10 0.20", ""},
             {"12rpm", ""},             // glued: not a number and a word
             {"10.77.0.12", ""},
             {"Service mode is off", ""},
             {"", ""}}) {
        EXPECT_EQ(unitAroundNumber(text), unit) << text;
    }
}

} // namespace
} // namespace fieldmon::uidesc
