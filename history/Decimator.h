#pragma once
// Min/max decimation into pixel columns: whatever comes in, at most two
// points per column go out (plus a NaN point where the line breaks), in
// time order, so that a plot draws the true envelope of a trace from a few
// hundred points.
//
// Raw samples: a column with one or two samples keeps them as they are;
// with more, its lowest and highest sample, in the order they came.
// Seconds (aggregates): a column keeps the lowest minimum and the highest
// maximum, placed at the column's middle, ending on the side of its last
// value so that the line to the next column stays short.
//
// Thread rule: a plain value; any thread.

#include "history/HistoryTypes.h"

#include <cmath>
#include <limits>
#include <vector>

namespace fieldmon::history {

class Decimator {
public:
    // Columns of `columnMs` from `t0Ms`, appending to `out`.
    Decimator(std::int64_t t0Ms, double columnMs, std::vector<TracePoint>& out)
        : t0_(static_cast<double>(t0Ms)), columnMs_(columnMs), out_(out)
    {
    }
    ~Decimator() { finish(); }

    Decimator(const Decimator&) = delete;
    Decimator& operator=(const Decimator&) = delete;

    void sample(std::int64_t tMs, double v, bool lineBreak)
    {
        startColumn(columnOf(static_cast<double>(tMs)), Kind::Samples);
        const TracePoint p{static_cast<double>(tMs) / 1000.0, v};
        broken_ = broken_ || lineBreak;
        if (count_ == 0) {
            first_ = last_ = lo_ = hi_ = p;
        } else {
            last_ = p;
            if (v < lo_.v)
                lo_ = p;
            if (v > hi_.v)
                hi_ = p;
        }
        ++count_;
    }

    void second(std::int64_t second, double min, double max, double last, bool lineBreak)
    {
        startColumn(columnOf(static_cast<double>(second * 1000 + 500)), Kind::Seconds);
        broken_ = broken_ || lineBreak;
        if (count_ == 0) {
            lo_.v = min;
            hi_.v = max;
        } else {
            lo_.v = std::min(lo_.v, min);
            hi_.v = std::max(hi_.v, max);
        }
        last_.v = last;
        ++count_;
    }

    // A point outside the window, drawn as it is (the line to the edge).
    void edge(TracePoint p, bool lineBreak)
    {
        finish();
        if (lineBreak)
            out_.push_back({p.t, std::numeric_limits<double>::quiet_NaN()});
        out_.push_back(p);
    }

    void finish()
    {
        if (count_ == 0)
            return;
        if (kind_ == Kind::Samples)
            emitSamples();
        else
            emitSeconds();
        count_ = 0;
        broken_ = false;
    }

private:
    enum class Kind { Samples, Seconds };

    long columnOf(double tMs) const { return static_cast<long>(std::floor((tMs - t0_) / columnMs_)); }

    void startColumn(long column, Kind kind)
    {
        if (column == column_ && count_ > 0)
            return;
        finish();
        column_ = column;
        kind_ = kind;
    }

    void emitSamples()
    {
        if (broken_)
            out_.push_back({first_.t, std::numeric_limits<double>::quiet_NaN()});
        if (count_ <= 2) {
            out_.push_back(first_);
            if (count_ == 2)
                out_.push_back(last_);
            return;
        }
        const bool lowFirst = lo_.t <= hi_.t;
        out_.push_back(lowFirst ? lo_ : hi_);
        if (lo_.t != hi_.t || lo_.v != hi_.v)
            out_.push_back(lowFirst ? hi_ : lo_);
    }

    void emitSeconds()
    {
        const double t = (t0_ + (static_cast<double>(column_) + 0.5) * columnMs_) / 1000.0;
        if (broken_)
            out_.push_back({t, std::numeric_limits<double>::quiet_NaN()});
        if (lo_.v == hi_.v) {
            out_.push_back({t, lo_.v});
            return;
        }
        const bool endHigh = last_.v >= (lo_.v + hi_.v) / 2;
        out_.push_back({t, endHigh ? lo_.v : hi_.v});
        out_.push_back({t, endHigh ? hi_.v : lo_.v});
    }

    double t0_;
    double columnMs_;
    std::vector<TracePoint>& out_;
    long column_ = 0;
    Kind kind_ = Kind::Samples;
    int count_ = 0;
    bool broken_ = false;
    TracePoint first_, last_, lo_, hi_;
};

} // namespace fieldmon::history
