#include "gateway/TopicEscape.h"

#include <cstdint>

namespace fieldmon::gateway {

namespace {

constexpr std::size_t longestLevel = 128;
constexpr std::size_t keptBeforeHash = 110;
constexpr char hexDigits[] = "0123456789ABCDEF";

bool isAlnum(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::uint64_t fnv1a(std::string_view text)
{
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

// Escapes every byte that `keep` refuses as `marker` + two hex digits; a
// result past the length limit is cut (never inside an escape) and given
// the marker twice and the name's hash.
template <typename Keep>
std::string escapeWith(std::string_view name, char marker, Keep keep)
{
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) {
        if (keep(c)) {
            out += static_cast<char>(c);
            continue;
        }
        out += marker;
        out += hexDigits[c >> 4];
        out += hexDigits[c & 0xF];
    }
    if (out.size() <= longestLevel)
        return out;
    std::size_t cut = keptBeforeHash;
    // Step back over a partly kept escape (a marker within the last two bytes).
    for (std::size_t back = 1; back <= 2; ++back) {
        if (out[cut - back] == marker) {
            cut -= back;
            break;
        }
    }
    out.resize(cut);
    out += marker;
    out += marker;
    std::uint64_t hash = fnv1a(name);
    for (int shift = 60; shift >= 0; shift -= 4)
        out += hexDigits[(hash >> shift) & 0xF];
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string escapeTopicLevel(std::string_view name)
{
    if (name.empty())
        return "~";
    return escapeWith(name, '~', [](unsigned char c) { return isAlnum(c) || c == '_' || c == '-' || c == '.'; });
}

std::optional<std::string> unescapeTopicLevel(std::string_view level)
{
    if (level == "~")
        return std::string();
    std::string out;
    for (std::size_t i = 0; i < level.size(); ++i) {
        if (level[i] != '~') {
            out += level[i];
            continue;
        }
        if (i + 2 >= level.size())
            return std::nullopt;
        int high = hexValue(level[i + 1]);
        int low = hexValue(level[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string homeAssistantId(std::string_view name)
{
    if (name.empty())
        return "_";
    return escapeWith(name, '_', [](unsigned char c) { return isAlnum(c) || c == '-'; });
}

bool isValidTopicPrefix(std::string_view prefix)
{
    if (prefix.empty() || prefix.front() == '$' || prefix.front() == '/' || prefix.back() == '/')
        return false;
    char previous = 0;
    for (unsigned char c : prefix) {
        if (c <= 0x20 || c >= 0x7F || c == '+' || c == '#')
            return false;
        if (c == '/' && previous == '/')
            return false;
        previous = static_cast<char>(c);
    }
    return true;
}

} // namespace fieldmon::gateway
