#include "gateway/IniFile.h"

#include <sstream>

namespace fieldmon::gateway {

namespace {

std::string trimmed(const std::string& text)
{
    const char* space = " \t\r";
    std::size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return {};
    std::size_t last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

} // namespace

IniParse parseIni(const std::string& text)
{
    IniParse result;
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        std::string line = trimmed(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line.front() == '[' && line.back() == ']')
            continue;
        std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            result.error = std::to_string(number) + ": expected key = value";
            return result;
        }
        std::string key = trimmed(line.substr(0, equals));
        std::string value = trimmed(line.substr(equals + 1));
        if (key.empty()) {
            result.error = std::to_string(number) + ": no key before '='";
            return result;
        }
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        result.entries.push_back({std::move(key), std::move(value), number});
    }
    return result;
}

} // namespace fieldmon::gateway
