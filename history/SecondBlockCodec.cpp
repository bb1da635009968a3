#include "history/SecondBlockCodec.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace fieldmon::history {

namespace {
constexpr int kBlock = SecondBlock::kSeconds;
bool has(std::uint64_t bits, int i) { return (bits >> i) & 1u; }
} // namespace

void quantise(const OpenBlock& o, SecondBlock& b)
{
    b.firstSecond = o.firstSecond;
    b.present = o.present;
    b.broken = o.broken;
    b.lo = 0;
    b.scale = 0;
    if (!o.present)
        return;
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (int i = 0; i < kBlock; ++i) {
        if (has(o.present, i)) {
            lo = std::min(lo, o.min[i]);
            hi = std::max(hi, o.max[i]);
        }
    }
    const bool exact = o.wholeNumbers && hi - lo <= 65535;
    b.lo = lo;
    // Numbers stay below kHugeMagnitude, so hi − lo cannot overflow. A step
    // of exactly 1 says "whole numbers": other blocks step just past it.
    b.scale = exact ? 1.0 : (hi - lo) / 65535.0;
    if (!exact && b.scale == 1.0)
        b.scale = std::nextafter(1.0, 2.0);
    auto step = [&](double v, bool up) -> std::uint16_t {
        if (b.scale <= 0)
            return 0;
        const double q = (v - lo) / b.scale;
        return static_cast<std::uint16_t>(std::clamp(up ? std::ceil(q) : std::floor(q), 0.0, 65535.0));
    };
    for (int i = 0; i < kBlock; ++i) {
        if (!has(o.present, i))
            continue;
        b.qmin[i] = step(o.min[i], false);
        b.qmax[i] = step(o.max[i], true);
        // Fractions of the decoded span, so that decoding adds no error of its own.
        const double dmin = lo + b.qmin[i] * b.scale;
        const double span = b.qmax[i] * b.scale - b.qmin[i] * b.scale;
        auto fraction = [&](double v) -> std::uint8_t {
            if (span <= 0)
                return 0;
            return static_cast<std::uint8_t>(std::clamp(std::round((v - dmin) / span * 255.0), 0.0, 255.0));
        };
        b.mean[i] = fraction(o.sum[i] / o.count[i]);
        b.last[i] = fraction(o.last[i]);
    }
}

Aggregate decode(const SecondBlock& b, int i)
{
    Aggregate a;
    a.min = b.lo + b.qmin[i] * b.scale;
    a.max = b.lo + b.qmax[i] * b.scale;
    const double span = a.max - a.min;
    a.mean = a.min + b.mean[i] / 255.0 * span;
    a.last = a.min + b.last[i] / 255.0 * span;
    if (b.wholeNumbers())
        a.last = std::round(a.last);
    return a;
}

void unquantise(const SecondBlock& b, OpenBlock& o)
{
    o.reset(b.firstSecond);
    o.present = b.present;
    o.broken = b.broken;
    o.wholeNumbers = b.wholeNumbers();
    for (int i = 0; i < kBlock; ++i) {
        if (!has(b.present, i))
            continue;
        const Aggregate a = decode(b, i);
        o.min[i] = a.min;
        o.max[i] = a.max;
        o.sum[i] = a.mean;
        o.last[i] = a.last;
        o.count[i] = 1;
    }
}

} // namespace fieldmon::history
