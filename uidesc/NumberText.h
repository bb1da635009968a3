#pragma once
// What a page shows, read back as a number: a label's text as a number with
// an optional unit after it ("21.5", "12 rpm", "21.5 ˚C", "1663 kW"); none
// for anything else ("10.77.0.12", "Wind 8.0 m/s", "inf", "0x1F"). The
// gateway decides from it whether a label is numeric and what its unit is;
// the trend screen takes a trace's units from it.
//
// Thread rule: any thread.

#include <optional>
#include <string>
#include <string_view>

namespace fieldmon::uidesc {

struct NumberWithUnit {
    double number = 0;
    std::string unit;
};
std::optional<NumberWithUnit> readNumber(const std::string& text);

// The unit a text names around the one number it shows: the word after the
// number ("Load 12.5 t" → "t", "101 bar" → "bar", "Wind 8.0 m/s" → "m/s");
// empty when the text shows no number, more than one ("Hook x 120 y -35"),
// or none is followed by a word.
std::string unitAroundNumber(std::string_view text);

} // namespace fieldmon::uidesc
