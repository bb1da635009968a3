#include "uidesc/NumberText.h"

#include "uidesc/ElementTable.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace fieldmon::uidesc {

std::optional<NumberWithUnit> readNumber(const std::string& text)
{
    const std::string_view t = trimmed(text);
    if (t.empty() || t.size() > 64)
        return std::nullopt;
    const std::string whole(t);
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(whole.c_str(), &end);
    if (end == whole.c_str() || errno == ERANGE || !std::isfinite(number))
        return std::nullopt;
    // strtod reads "inf", "nan" and hexadecimal: a page shows those as words.
    const char first = whole[whole[0] == '-' || whole[0] == '+' ? 1 : 0];
    if (!(first >= '0' && first <= '9') && first != '.')
        return std::nullopt;
    if (whole.find_first_of("xX") < static_cast<std::size_t>(end - whole.c_str()))
        return std::nullopt;
    std::string_view rest = trimmed(std::string_view(end));
    // A unit is one word after the number: no blank, no digit first.
    if (!rest.empty() && (rest.size() > 12 || rest.find_first_of(" \t") != std::string_view::npos ||
                          (rest[0] >= '0' && rest[0] <= '9') || rest[0] == '.' || rest[0] == ','))
        return std::nullopt;
    return NumberWithUnit{number, std::string(rest)};
}

std::string unitAroundNumber(std::string_view text)
{
    std::vector<std::string_view> words;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = text.find_first_not_of(" \t\r\n", at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(text.find_first_of(" \t\r\n", start), text.size());
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    std::optional<std::size_t> number;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto read = readNumber(std::string(words[i]));
        if (!read)
            continue;
        if (number || !read->unit.empty())
            return {}; // a second number, or one glued to a word ("12rpm")
        number = i;
    }
    if (!number || *number + 1 >= words.size())
        return {};
    const std::string_view unit = words[*number + 1];
    if (unit.size() > 12 || (unit[0] >= '0' && unit[0] <= '9'))
        return {};
    return std::string(unit);
}

} // namespace fieldmon::uidesc
