#pragma once
// The form of a device event line: an optional "hh:mm:ss " stamp, then the
// event text. The stamp test looks at positions 2, 5 (':') and 8 (' ') only,
// and never past the end of a short line.
//
// Thread rule: pure functions, any thread.

#include <string_view>

namespace fieldmon {

inline bool hasTimeStamp(std::string_view line)
{
    return line.size() >= 9 && line[2] == ':' && line[5] == ':' && line[8] == ' ';
}

// The event text: everything after the stamp, or the whole line without one.
inline std::string_view eventText(std::string_view line)
{
    return hasTimeStamp(line) ? line.substr(9) : line;
}

} // namespace fieldmon
