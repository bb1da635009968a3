#include "variables/Value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace fieldmon {

ValueKind Value::kind() const
{
    switch (data_.index()) {
    case 1: return ValueKind::Integer;
    case 2: return ValueKind::Double;
    case 3: return ValueKind::String;
    case 4: return ValueKind::Error;
    }
    return ValueKind::None;
}

std::int32_t truncateToInt(double d)
{
    if (std::isnan(d))
        return 0;
    if (d >= 2147483647.0)
        return std::numeric_limits<std::int32_t>::max();
    if (d <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(d);
}

std::int32_t leadingInt(std::string_view s)
{
    // atoi semantics without its undefined behaviour on overflow.
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    long long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > 2147483648LL)
            v = 2147483648LL;
    }
    if (negative)
        v = -v;
    if (v > std::numeric_limits<std::int32_t>::max())
        v = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(v);
}

double leadingDouble(std::string_view s)
{
    std::string copy(s.substr(0, std::min<std::size_t>(s.size(), 4096)));
    return std::strtod(copy.c_str(), nullptr);
}

std::int32_t Value::intValue() const
{
    switch (data_.index()) {
    case 1: return asInt();
    case 2: return truncateToInt(asDouble());
    case 3: return leadingInt(asText());
    }
    return 0;
}

double Value::doubleValue() const
{
    switch (data_.index()) {
    case 1: return asInt();
    case 2: return asDouble();
    case 3: return leadingDouble(asText());
    }
    return 0.0;
}

std::string Value::stringValue() const
{
    char buf[512];
    switch (data_.index()) {
    case 1:
        std::snprintf(buf, sizeof buf, "%d", asInt());
        return buf;
    case 2: {
        int n = std::snprintf(buf, sizeof buf, "%f", asDouble());
        if (n >= static_cast<int>(sizeof buf)) {
            std::string big(static_cast<std::size_t>(n) + 1, '\0');
            std::snprintf(big.data(), big.size(), "%f", asDouble());
            big.resize(static_cast<std::size_t>(n));
            return big;
        }
        return buf;
    }
    case 3: return asText();
    case 4: return "error";
    }
    return {};
}

} // namespace fieldmon
