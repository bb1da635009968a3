#include "sim/CommandPattern.h"

#include "platform/Ascii.h"

namespace fieldmon::sim {

namespace {

using ascii::isDigit;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Length of an integer at the start of `s` (optional sign), 0 if none.
std::size_t integerLength(std::string_view s)
{
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        ++i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) {
        ++i;
        ++digits;
    }
    return digits ? i : 0;
}

std::size_t numberLength(std::string_view s)
{
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        ++i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (!digits)
        return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t exp = integerLength(s.substr(i + 1));
        if (exp)
            i += 1 + exp;
    }
    return i;
}

} // namespace

std::optional<std::vector<std::string>> matchCommand(std::string_view pattern, std::string_view command)
{
    std::vector<std::string> args;
    std::size_t p = 0;
    std::size_t c = 0;
    while (p < pattern.size()) {
        const char pc = pattern[p];
        if (isBlank(pc)) {
            while (p < pattern.size() && isBlank(pattern[p]))
                ++p;
            if (c >= command.size() || !isBlank(command[c]))
                return std::nullopt;
            while (c < command.size() && isBlank(command[c]))
                ++c;
            continue;
        }
        if (pc == '%' && p + 1 < pattern.size() && pattern[p + 1] != '%') {
            const char conv = pattern[p + 1];
            std::string_view rest = command.substr(c);
            std::size_t len = 0;
            if (conv == 'd')
                len = integerLength(rest);
            else if (conv == 'f')
                len = numberLength(rest);
            else if (conv == 's')
                while (len < rest.size() && !isBlank(rest[len]))
                    ++len;
            else
                return std::nullopt; // an unknown conversion never matches
            if (len == 0)
                return std::nullopt;
            args.emplace_back(rest.substr(0, len));
            c += len;
            p += 2;
            continue;
        }
        if (pc == '%')
            ++p; // "%%"
        if (c >= command.size() || command[c] != pattern[p])
            return std::nullopt;
        ++c;
        ++p;
    }
    if (c != command.size())
        return std::nullopt;
    return args;
}

std::string substitute(std::string_view text, const std::vector<std::string>& args)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '$' && i + 1 < text.size()) {
            const char n = text[i + 1];
            if (n == '$') {
                out += '$';
                ++i;
                continue;
            }
            if (n >= '1' && n <= '9') {
                const std::size_t k = static_cast<std::size_t>(n - '1');
                if (k < args.size())
                    out += args[k];
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string_view commandText(std::string_view datagram)
{
    if (!datagram.empty() && datagram[0] == 'c')
        datagram.remove_prefix(1);
    while (!datagram.empty() &&
           (datagram.back() == '\n' || datagram.back() == '\r' || datagram.back() == ' ' || datagram.back() == '\t' ||
            datagram.back() == '\0'))
        datagram.remove_suffix(1);
    return datagram;
}

} // namespace fieldmon::sim
