#include "expr/Format.h"

#include <gtest/gtest.h>

#include <vector>

using namespace fieldmon::expr;

namespace {

std::string fmt(std::string_view f, std::vector<Value> args = {})
{
    return formatValues(f, args);
}

TEST(Format, ConversionsWithFlagsWidthAndPrecision)
{
    const Value i42 = Value::integer(42);
    const Value d = Value::real(3.14159);
    const Value t = Value::text("abc");
    const struct {
        const char* format;
        std::vector<Value> args;
        const char* out;
    } cases[] = {
        {"%d", {i42}, "42"},
        {"%5d|", {i42}, "   42|"},
        {"%-5d|", {i42}, "42   |"},
        {"%05d", {i42}, "00042"},
        {"%+d", {i42}, "+42"},
        {"%i", {Value::integer(-7)}, "-7"},
        {"%x %X %#x %o", {Value::integer(255), Value::integer(255), Value::integer(255), Value::integer(8)},
         "ff FF 0xff 10"},
        {"%u", {Value::integer(-1)}, "4294967295"},
        {"%c%c", {Value::integer(72), Value::integer(105)}, "Hi"},
        {"%f", {d}, "3.141590"},
        {"%.2f", {d}, "3.14"},
        {"%8.3f|", {d}, "   3.142|"},
        {"%e", {d}, "3.141590e+00"},
        {"%g", {d}, "3.14159"},
        {"%s", {t}, "abc"},
        {"%@", {t}, "abc"},
        {"%5s|%-5s|", {t, t}, "  abc|abc  |"},
        {"%.2s", {t}, "ab"},
        {"%ld %lld %hd %lf", {i42, i42, i42, d}, "42 42 42 3.141590"}, // lengths do not matter
        {"%*d|", {Value::integer(4), i42}, "  42|"},
        {"%-*d|", {Value::integer(4), i42}, "42  |"},
        {"%*d|", {Value::integer(-4), i42}, "42  |"},
        {"%.*f", {Value::integer(1), d}, "3.1"},
        {"100%%", {}, "100%"},
        {"%p", {Value::integer(255)}, "0xff"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fmt(c.format, c.args), c.out) << c.format;
}

TEST(Format, ValuesOfTheWrongKindFormatSensibly)
{
    // A text given to a number conversion, or a number to a text conversion,
    // used to be read as raw memory (a pointer as a number, a number as a
    // pointer). Each conversion now reads the value the way it needs.
    EXPECT_EQ(fmt("%d", {Value::text("12abc")}), "12");
    EXPECT_EQ(fmt("%f", {Value::text("2.5")}), "2.500000");
    EXPECT_EQ(fmt("%s", {Value::integer(3)}), "3");
    EXPECT_EQ(fmt("%@", {Value::real(1.5)}), "1.500000");
    EXPECT_EQ(fmt("%d", {Value::real(2.9)}), "2");
    EXPECT_EQ(fmt("%f", {Value::integer(2)}), "2.000000");
    EXPECT_EQ(fmt("%s|%d", {Value::error(), Value::error()}), "error|0");
    EXPECT_EQ(fmt("%s", {Value()}), "");
}

TEST(Format, HostileFormatsStayInsideTheirArguments)
{
    // Missing arguments format as empty or zero; %n writes nothing but takes
    // its argument; unknown and unfinished conversions are copied.
    EXPECT_EQ(fmt("%d %s %f"), "0  0.000000");
    EXPECT_EQ(fmt("a%nb%d", {Value::integer(1), Value::integer(2)}), "ab2");
    EXPECT_EQ(fmt("%y %"), "%y %");
    EXPECT_EQ(fmt("%5"), "%5");
    EXPECT_EQ(fmt("50%"), "50%");
    // A huge width or precision is capped instead of asking for gigabytes.
    EXPECT_EQ(fmt("%999999999d", {Value::integer(1)}).size(), static_cast<std::size_t>(kMaxWidth));
    EXPECT_EQ(fmt("%.999999999f", {Value::real(1)}).size(), static_cast<std::size_t>(kMaxWidth) + 2);
    EXPECT_EQ(fmt("%*s", {Value::integer(2147483647), Value::text("x")}).size(), static_cast<std::size_t>(kMaxWidth));
    // A format with many conversions and few arguments reads no further:
    // every conversion past the one argument formats as empty or zero.
    std::string many, expected = "x";
    for (int i = 0; i < 400; ++i) {
        many += "%s%d%f%@%c%n";
        expected += "00.000000";
    }
    EXPECT_EQ(fmt(many, {Value::text("x")}), expected);
    EXPECT_EQ(fmt(std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Format, TheWholeTextIsCappedNotOnlyEachConversion)
{
    // Each conversion was capped at 1024 characters, but "%1024d" written
    // 10,800 times still made an 11 MB label text (five of them froze the
    // screen for 25 s). The whole text now ends at kMaxOutput bytes, and the
    // caller learns that it was cut.
    std::string format;
    for (int i = 0; i < 10800; ++i)
        format += "%1024d";
    bool cut = false;
    EXPECT_EQ(formatValues(format, std::vector<Value>{Value::integer(1)}, &cut).size(), kMaxOutput);
    EXPECT_TRUE(cut);
    // Exactly at the cap is not cut; a multi-byte character is not split.
    EXPECT_EQ(formatValues(std::string(kMaxOutput, 'a'), {}, &cut).size(), kMaxOutput);
    EXPECT_FALSE(cut);
    std::string text = formatValues(std::string(kMaxOutput - 1, 'a') + "\xc3\xa9", {}, &cut);
    EXPECT_TRUE(cut);
    EXPECT_EQ(text, std::string(kMaxOutput - 1, 'a'));
}

} // namespace
