#pragma once
// Pieces of Prometheus' text exposition format (version 0.0.4).
//
// Thread rule: pure functions; any thread.

#include <string>
#include <string_view>

namespace fieldmon::gateway {

// Appends a label value between its quotes: backslash, double quote and
// line feed escaped, and bytes that are not valid UTF-8 replaced by
// U+FFFD (label values must be UTF-8, and device names may be anything).
void appendLabelValue(std::string& out, std::string_view value);
// Appends a sample value: shortest round-trip form, "NaN", "+Inf", "-Inf".
void appendSampleValue(std::string& out, double value);

} // namespace fieldmon::gateway
