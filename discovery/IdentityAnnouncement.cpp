#include "discovery/IdentityAnnouncement.h"

#include <limits>

namespace fieldmon {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Length of the UTF-8 sequence starting at s[i], or 0 if it is not a valid,
// shortest-form sequence of a scalar value.
std::size_t utf8SequenceLength(std::string_view s, std::size_t i)
{
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char lead = byte(i);
    std::size_t len;
    std::uint32_t cp;
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0) {
        len = 2;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        len = 3;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        len = 4;
        cp = lead & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool isValidUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        std::size_t len = utf8SequenceLength(s, i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

} // namespace

std::int32_t parseDecimal(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and stop growing once past the int32 range.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit)
            value = kLimit;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

std::string decodeTextField(std::string_view bytes)
{
    if (isValidUtf8(bytes))
        return std::string(bytes);
    std::string text(bytes);
    for (char& c : text)
        if (static_cast<unsigned char>(c) > 127)
            c = '?';
    return text;
}

IdentityAnnouncement parseIdentityAnnouncement(std::string_view payload)
{
    IdentityAnnouncement id;
    std::size_t start = 0;
    int field = 0;
    // Walk one past the end: the datagram's end ends the last field, just as
    // the terminating 0 byte does in the receive buffer.
    for (std::size_t i = 0; i <= payload.size() && field < 6; ++i) {
        bool end = i == payload.size();
        if (!end && payload[i] != ';' && payload[i] != '\0')
            continue;
        std::string_view value = payload.substr(start, i - start);
        switch (field) {
        case 0: id.platform = decodeTextField(value); break;
        case 1: id.type = decodeTextField(value); break;
        case 2: id.name = decodeTextField(value); break;
        case 3: id.version = parseDecimal(value); break;
        case 4: id.serialNumber = parseDecimal(value); break;
        case 5: id.service = parseDecimal(value) > 0; break;
        }
        ++field;
        start = i + 1;
    }
    return id;
}

} // namespace fieldmon
