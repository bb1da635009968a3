#pragma once
// The gateway's configuration file: one "key = value" a line, '#' or ';'
// starts a comment line, section headers ("[gateway]") are ignored, a
// value may be written in double quotes (kept as written inside). Keys are
// the long option names without the dashes.
//
// Thread rule: pure functions; any thread.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fieldmon::gateway {

struct IniEntry {
    std::string key;
    std::string value;
    int line = 0;
};

struct IniParse {
    std::vector<IniEntry> entries; // in file order
    std::string error;             // "LINE: what is wrong" for the first bad line, or empty
};

IniParse parseIni(const std::string& text);

} // namespace fieldmon::gateway
