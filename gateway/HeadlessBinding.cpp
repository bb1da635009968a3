#include "gateway/HeadlessBinding.h"

#include "device/Client.h"
#include "expr/Node.h"
#include "platform/MainLoop.h"
#include "uidesc/ElementTable.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace fieldmon::gateway {

namespace {

// What a label shows for the device's text: "degrees" as "˚" (U+02DA).
std::string withDegreeSigns(std::string text)
{
    static const std::string word = "degrees";
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 2))
        text.replace(at, word.size(), "\xCB\x9A");
    return text;
}

std::string numberText(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}

} // namespace

void HeadlessBinding::updateText()
{
    if (!value)
        return;
    std::string text = withDegreeSigns(value->stringValue());
    std::optional<double> number;
    if (auto read = readNumber(text))
        number = read->number;
    tell(std::move(text), number);
}

void HeadlessBinding::updateNumber()
{
    if (!value)
        return;
    double number = value->doubleValue();
    if (!std::isfinite(number))
        return tell(numberText(number));
    tell(numberText(number), number);
}

void HeadlessBinding::updateState()
{
    auto record = client.lock();
    if (!value || (record && record->loop().now() < holdUntil))
        return;
    // The switch turns only for these states; anything else leaves it as it is.
    const std::string state = value->stringValue();
    if (state == "F" || state == "0")
        on = false;
    else if (state == "C" || state == "1")
        on = true;
    else
        return;
    tell(on ? "ON" : "OFF", on ? 1.0 : 0.0);
}

void HeadlessBinding::updateEnabled()
{
    isEnabled = !enabled || enabled->intValue() != 0;
}

std::string HeadlessBinding::selection() const
{
    std::string text;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (c)
            text += ' ';
        if (selected[c] < columns[c].size())
            text += columns[c][selected[c]];
    }
    return text;
}

std::optional<NumberWithUnit> readNumber(const std::string& text)
{
    const std::string_view t = uidesc::trimmed(text);
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
    std::string_view rest = uidesc::trimmed(std::string_view(end));
    // A unit is one word after the number: no blank, no digit first.
    if (!rest.empty() && (rest.size() > 12 || rest.find_first_of(" \t") != std::string_view::npos ||
                          (rest[0] >= '0' && rest[0] <= '9') || rest[0] == '.' || rest[0] == ','))
        return std::nullopt;
    return NumberWithUnit{number, std::string(rest)};
}

} // namespace fieldmon::gateway
