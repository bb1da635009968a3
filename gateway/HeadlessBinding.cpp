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
    if (auto read = uidesc::readNumber(text))
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

} // namespace fieldmon::gateway
