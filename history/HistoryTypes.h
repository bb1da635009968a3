#pragma once
// The small value types of the history: series handles, kinds of samples,
// and what queries hand back.
//
// Times. The history orders and spaces samples by the main loop's
// monotonic clock, shifted so that it reads like wall-clock seconds since
// 1970 when the store starts: the *timeline*. Timeline seconds never go
// back, whatever the wall clock does; labels come from the wall clock
// (HistoryStore::wallAt). Query windows and the times in results are
// timeline seconds.
//
// Thread rule: plain values; any thread.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace fieldmon::history {

// One series of one device, as HistoryStore::series() made it. A handle goes
// stale when its series is evicted (the store is full); calls with a stale
// handle do nothing and say so.
struct SeriesId {
    std::uint32_t slot = UINT32_MAX;
    std::uint32_t generation = 0;
    bool operator==(const SeriesId&) const = default;
};

// What one sample was. Only Number is ever drawn or aggregated as a number;
// the others are kept apart, as marks (or, for texts, as text changes), and
// break the line.
enum class SampleKind : std::uint8_t {
    Number = 0,
    Text = 1,
    Error = 2,
    NaN = 3,
    PlusInfinity = 4,
    MinusInfinity = 5,
    // A magnitude of kHugeMagnitude or more: instruments send such values
    // (9.9e37, 3.4e38) for over-range or as a float's "no value"; drawn as
    // numbers they would flatten every real reading of the trace.
    Huge = 6,
};

constexpr double kHugeMagnitude = 1e37;

inline SampleKind classifyNumber(double v)
{
    if (std::isnan(v))
        return SampleKind::NaN;
    if (std::isinf(v))
        return v > 0 ? SampleKind::PlusInfinity : SampleKind::MinusInfinity;
    if (std::fabs(v) >= kHugeMagnitude)
        return SampleKind::Huge;
    return SampleKind::Number;
}

// A point to draw. A NaN value breaks the line there (a gap, or a sample
// that was not a number).
struct TracePoint {
    double t = 0;
    double v = 0;
};

// A sample that was not a number, drawn as a mark on the time axis.
struct TraceMark {
    double t = 0;
    SampleKind kind = SampleKind::Error;
};

// A text value from the time it was received until the next one.
struct TraceText {
    double t = 0;
    std::string text;
};

// Which memory tier a query read: every raw sample, or the one-second
// aggregates.
enum class Tier : std::uint8_t { None, Raw, Seconds };

// The result of HistoryStore::query. Reused between queries: its vectors
// keep their capacity, so a redraw allocates nothing once warm.
struct TraceData {
    std::vector<TracePoint> points; // at most 2 per pixel column (plus breaks), in time order
    std::vector<TraceMark> marks;   // at most one per pixel column
    std::vector<TraceText> texts;   // the text in force at the window's start, then each change
    Tier tier = Tier::None;
    void clear()
    {
        points.clear();
        marks.clear();
        texts.clear();
        tier = Tier::None;
    }
};

// The newest sample of a series.
struct LatestSample {
    double t = 0;
    SampleKind kind = SampleKind::Number;
    double number = 0;  // when kind is Number (or Huge: the value itself)
    std::string text;   // when kind is Text
};

// A series of a device, as the "+" list of the trend screen shows it.
struct SeriesInfo {
    SeriesId id;
    std::string name;
    double first = 0; // timeline seconds of the oldest and newest sample kept in memory
    double last = 0;
    bool hasNumbers = false;
    bool hasTexts = false;
};

// One sample for an export, in timeline milliseconds. From the raw tier a
// sample as received; from the aggregates one per second (its mean), at
// the start of the second.
struct ExportSample {
    std::int64_t tMs = 0;
    std::int64_t wallMs = 0;  // its label
    SampleKind kind = SampleKind::Number;
    double value = 0;         // Number and Huge
    std::uint32_t text = 0;   // Text: index into the export's text list
};

// One second of one series as it goes to disk and comes back from it.
struct StoredSecond {
    std::int64_t second = 0; // timeline second
    std::int64_t wallMs = 0; // wall clock at the start of the second, ms since 1970 (UTC)
    std::uint32_t count = 0; // numbers in the second; min..last mean nothing when 0
    double min = 0;
    double max = 0;
    double mean = 0;
    double last = 0;
    // Bit 0: the line breaks before this second. Bit k (1..6): a sample of
    // SampleKind k arrived in this second.
    std::uint32_t flags = 0;
};

// A second on its way to disk, with the key of its series (SeriesNames).
struct DiskRow {
    std::uint32_t key = 0;
    StoredSecond second;
};

constexpr std::uint32_t kBreakFlag = 1u;
constexpr std::uint32_t kindFlag(SampleKind k) { return 1u << static_cast<unsigned>(k); }

} // namespace fieldmon::history
