#include "expr/Format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fieldmon::expr {

namespace {

bool isFlag(char c)
{
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\'';
}

bool isLength(char c)
{
    return c == 'h' || c == 'l' || c == 'L' || c == 'q' || c == 'j' || c == 'z' || c == 't';
}

// One parsed conversion: flags, width and precision as given (after '*' has
// been replaced by its argument), and the conversion character.
struct Spec {
    char flags[8] = {};
    int nflags = 0;
    int width = -1;
    int precision = -1;
    char conversion = 0;
};

int clampWidth(long v)
{
    if (v > kMaxWidth)
        return kMaxWidth;
    if (v < -kMaxWidth)
        return -kMaxWidth;
    return static_cast<int>(v);
}

// Builds a C format for one conversion of our own making: only flags we
// parsed, numbers we clamped and a conversion matching the argument we pass.
std::string cFormat(const Spec& s, const char* length, char conversion)
{
    std::string f = "%";
    f.append(s.flags, static_cast<std::size_t>(s.nflags));
    if (s.width >= 0)
        f += std::to_string(s.width);
    if (s.precision >= 0)
        f += "." + std::to_string(s.precision);
    f += length;
    f += conversion;
    return f;
}

template <typename T>
void appendFormatted(std::string& out, const std::string& format, T value)
{
    char buf[256];
    int n = std::snprintf(buf, sizeof buf, format.c_str(), value);
    if (n < 0)
        return;
    if (n < static_cast<int>(sizeof buf)) {
        out.append(buf, static_cast<std::size_t>(n));
        return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), format.c_str(), value);
    out.append(big.data(), static_cast<std::size_t>(n));
}

void appendText(std::string& out, const Spec& s, std::string_view text)
{
    if (s.precision >= 0 && static_cast<std::size_t>(s.precision) < text.size())
        text = text.substr(0, static_cast<std::size_t>(s.precision));
    std::size_t pad = s.width > 0 && static_cast<std::size_t>(s.width) > text.size()
                          ? static_cast<std::size_t>(s.width) - text.size()
                          : 0;
    bool left = std::memchr(s.flags, '-', static_cast<std::size_t>(s.nflags)) != nullptr;
    if (!left)
        out.append(pad, ' ');
    out.append(text);
    if (left)
        out.append(pad, ' ');
}

void appendConversion(std::string& out, const Spec& s, const Value* arg)
{
    static const Value nothing;
    const Value& v = arg ? *arg : nothing;
    switch (s.conversion) {
    case 'd':
    case 'i':
    case 'D':
        appendFormatted(out, cFormat(s, "", 'd'), v.intValue());
        return;
    case 'o':
    case 'O':
    case 'u':
    case 'U':
    case 'x':
    case 'X': {
        char c = s.conversion == 'O' ? 'o' : s.conversion == 'U' ? 'u' : s.conversion;
        appendFormatted(out, cFormat(s, "", c), static_cast<unsigned>(v.intValue()));
        return;
    }
    case 'c':
    case 'C': {
        // The low byte of the integer reading; a zero byte prints nothing.
        char ch = static_cast<char>(v.intValue());
        if (ch != 0)
            appendText(out, Spec{{}, 0, s.width, -1, 's'}, std::string_view(&ch, 1));
        return;
    }
    case 'p': {
        Spec hexSpec = s;
        hexSpec.precision = -1;
        hexSpec.flags[hexSpec.nflags++] = '#';
        appendFormatted(out, cFormat(hexSpec, "", 'x'), static_cast<unsigned>(v.intValue()));
        return;
    }
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        appendFormatted(out, cFormat(s, "", s.conversion), v.doubleValue());
        return;
    case 's':
    case 'S':
    case '@':
        appendText(out, s, v.stringValue());
        return;
    case 'n': return;
    }
}

bool takesArgument(char c)
{
    return std::strchr("diDoOuUxXcCpfFeEgGaAsS@n", c) != nullptr;
}

// Cuts `out` to kMaxOutput bytes, not inside a UTF-8 sequence.
void cutToLimit(std::string& out)
{
    std::size_t end = kMaxOutput;
    for (int back = 0; back < 3 && end > 0 && (static_cast<unsigned char>(out[end]) & 0xC0) == 0x80; ++back)
        --end;
    out.resize(end);
}

} // namespace

std::string formatValues(std::string_view format, std::span<const Value> args, bool* cut)
{
    if (cut)
        *cut = false;
    std::string out;
    out.reserve(std::min(format.size(), kMaxOutput));
    std::size_t next = 0;
    auto take = [&]() -> const Value* { return next < args.size() ? &args[next++] : nullptr; };

    std::size_t i = 0;
    const std::size_t n = format.size();
    while (i < n) {
        if (out.size() > kMaxOutput) {
            cutToLimit(out);
            if (cut)
                *cut = true;
            return out;
        }
        char c = format[i];
        if (c != '%') {
            std::size_t end = format.find('%', i);
            if (end == std::string_view::npos)
                end = n;
            out.append(format.substr(i, end - i));
            i = end;
            continue;
        }
        const std::size_t start = i++;
        if (i < n && format[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        Spec s;
        while (i < n && isFlag(format[i])) {
            if (s.nflags < 5)
                s.flags[s.nflags++] = format[i];
            ++i;
        }
        if (i < n && format[i] == '*') {
            const Value* w = take();
            int wv = clampWidth(w ? w->intValue() : 0);
            // A negative width from '*' means left adjustment, as in C.
            if (wv < 0) {
                wv = -wv;
                s.flags[s.nflags++] = '-';
            }
            s.width = wv;
            ++i;
        } else {
            long w = -1;
            while (i < n && format[i] >= '0' && format[i] <= '9') {
                w = (w < 0 ? 0 : w) * 10 + (format[i] - '0');
                if (w > kMaxWidth)
                    w = kMaxWidth;
                ++i;
            }
            s.width = static_cast<int>(w);
        }
        if (i < n && format[i] == '.') {
            ++i;
            if (i < n && format[i] == '*') {
                const Value* p = take();
                int pv = p ? clampWidth(p->intValue()) : 0;
                s.precision = pv < 0 ? -1 : pv; // a negative precision counts as none
                ++i;
            } else {
                long p = 0;
                while (i < n && format[i] >= '0' && format[i] <= '9') {
                    p = p * 10 + (format[i] - '0');
                    if (p > kMaxWidth)
                        p = kMaxWidth;
                    ++i;
                }
                s.precision = static_cast<int>(p);
            }
        }
        while (i < n && isLength(format[i]))
            ++i;
        if (i >= n || !takesArgument(format[i])) {
            // Unknown or unfinished: copy the conversion as written.
            std::size_t end = i < n ? i + 1 : n;
            out.append(format.substr(start, end - start));
            i = end;
            continue;
        }
        s.conversion = format[i++];
        appendConversion(out, s, take());
    }
    if (out.size() > kMaxOutput) {
        cutToLimit(out);
        if (cut)
            *cut = true;
    }
    return out;
}

} // namespace fieldmon::expr
