#pragma once
// Character classes of the protocol's and the documents' ASCII texts. Unlike
// <cctype> they never read the C locale (a device's "1.5" must not turn on
// the user's decimal comma) and take any char, negative ones included.
//
// Thread rule: pure functions, any thread.

namespace fieldmon::ascii {

constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }

constexpr bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Space, tab, newline, vertical tab, form feed, carriage return.
constexpr bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The value of a hexadecimal digit, or -1 for any other character.
constexpr int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace fieldmon::ascii
