#include "device/ClientUpdate.h"

#include "expr/Schedulable.h"
#include "platform/Ascii.h"
#include "platform/Check.h"

#include <charconv>
#include <cmath>
#include <string>

namespace fieldmon {

namespace {

using ascii::isDigit;
using ascii::isSpace;

// The leading decimal number of a text: blanks, an optional sign, digits with
// an optional decimal point, an optional exponent. Reading stops at the first
// character that does not fit; no number gives 0. Locale-independent, and
// deliberately without "inf", "nan" or hexadecimal forms: a rate is a plain
// number of seconds.
double leadingNumber(std::string_view text)
{
    std::size_t i = 0, n = text.size();
    while (i < n && isSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    std::size_t start = i, digits = 0;
    while (i < n && isDigit(text[i]))
        ++i, ++digits;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return 0;
    std::size_t mantissaEnd = i;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < n && isDigit(text[j])) {
            while (j < n && isDigit(text[j]))
                ++j;
            mantissaEnd = j;
        }
    }
    double value = 0;
    auto [ptr, ec] = std::from_chars(text.data() + start, text.data() + mantissaEnd, value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // Too large becomes infinite, too small 0, as a C conversion does:
        // with an exponent its sign decides, without one the integer part.
        std::string_view mantissa = text.substr(start, mantissaEnd - start);
        std::size_t e = mantissa.find_first_of("eE");
        bool huge;
        if (e != std::string_view::npos) {
            huge = mantissa[e + 1] != '-';
        } else {
            std::string_view whole = mantissa.substr(0, mantissa.find('.'));
            huge = whole.find_first_not_of('0') != std::string_view::npos;
        }
        value = huge ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

} // namespace

ClientUpdate::Rate ClientUpdate::parseUpdateRate(std::string_view text)
{
    if (text.find("once") != std::string_view::npos)
        return Rate{true, kNever};
    // A blank text has no number: 0, refreshed at every pass. (An element
    // that names no rate at all is bound with "load" by the reader.)
    if (text.find("load") != std::string_view::npos)
        return Rate{false, kNever};
    return Rate{false, leadingNumber(text)};
}

ClientUpdate::ClientUpdate(std::shared_ptr<expr::Schedulable> compiledString, Notifier notifier,
                           RedrawRequest redraw, std::string_view updateRate, double now)
    : compiledString_(std::move(compiledString)), notifier_(std::move(notifier)), redraw_(std::move(redraw)), date_(now)
{
    FM_CHECK(compiledString_ != nullptr, "a binding needs an expression");
    setRawUpdateRate(updateRate);
    previous_ = compiledString_->clientUpdate();
    compiledString_->setClientUpdate(this);
}

ClientUpdate::~ClientUpdate()
{
    if (compiledString_->clientUpdate() == this)
        compiledString_->setClientUpdate(nullptr);
}

void ClientUpdate::setRawUpdateRate(std::string_view text)
{
    supdateRate_ = std::string(text);
    Rate rate = parseUpdateRate(text);
    scheduleOnce_ = rate.scheduleOnce;
    updateRate_ = rate.updateRate;
}

void ClientUpdate::updateTarget()
{
    ++told_;
    if (notifier_)
        notifier_();
    if (whenTold_)
        whenTold_();
}

} // namespace fieldmon
