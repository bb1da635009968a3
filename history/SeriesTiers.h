#pragma once
// One series in memory: its raw samples for the last minutes, its
// one-second aggregates for the last day, its non-number marks and its text
// changes.
//
// Raw tier: a ring of RawChunks, at most `rawChunks` of them; chunks whose
// samples are all older than `rawKeepMs` go back to the pool.
// Second tier: the block being filled (an OpenBlock, full precision), then
// a ring of quantised SecondBlocks reaching back `keepSeconds`.
// Marks and texts: small rings of their own (a text is kept only when it
// differs from the one before).
//
// Appends take timeline milliseconds that do not go back (an earlier time
// is taken as the latest one, so order is kept). A number's line breaks
// before it when something that was not a number came in between, or when
// it comes after a silence: more than 3 × the usual interval + 1 s (the
// usual interval is a running mean that follows a slower rate within a few
// samples), or more than a minute while no interval is known yet.
//
// Once a series holds its day, an append allocates nothing: the rings
// recycle their oldest pieces.
//
// Thread rule: main thread only (owned by the history store).

#include "history/ChunkPool.h"
#include "history/ClockSegments.h"
#include "history/HandleRing.h"
#include "history/HistoryTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon::history {

struct TierLimits {
    std::size_t rawChunks = 47; // 6,016 samples: ten minutes at 10 Hz
    std::int64_t rawKeepMs = 600'000;
    std::size_t blocks = 1351; // a day of 64-second blocks, and the one it began in
    std::int64_t keepSeconds = 86'400;
    std::size_t marks = 64;
    std::size_t texts = 32;
    std::size_t textBytes = 256; // longer texts are cut (at a character boundary)
};

// Where finished seconds go: nowhere when `rows` is null (no database).
struct RowCollector {
    std::vector<DiskRow>* rows = nullptr;
    std::uint32_t key = 0;
    const ClockSegments* clock = nullptr;
};

class SeriesTiers {
public:
    SeriesTiers(ChunkPool& pool, const TierLimits& limits);
    ~SeriesTiers(); // gives every piece back to the pool

    SeriesTiers(const SeriesTiers&) = delete;
    SeriesTiers& operator=(const SeriesTiers&) = delete;

    // A number (finite, below kHugeMagnitude: the caller classifies).
    // False when no memory was left for it.
    bool appendNumber(std::int64_t tMs, double v, const RowCollector& rows);
    // Anything else; `text` for SampleKind::Text, `v` for Huge. False when
    // no memory was left for it.
    bool appendOther(std::int64_t tMs, SampleKind kind, double v, std::string_view text, const RowCollector& rows);

    // Hands the seconds up to `throughSecond` that have not gone to disk yet
    // to `rows` (a closing block hands over its own as it closes).
    void collect(std::int64_t throughSecond, const RowCollector& rows);

    // Seconds read back from disk, oldest first. Only those older than
    // everything in memory (and within the day kept) are taken.
    void mergeOlder(const std::vector<StoredSecond>& seconds);

    void query(std::int64_t t0Ms, std::int64_t t1Ms, int columns, TraceData& out) const;
    // Every sample in the window (raw when the raw tier covers it, one mean
    // per second otherwise), marks and texts included, in time order.
    // Texts go to `texts`; samples refer to them by index.
    void exportSamples(std::int64_t t0Ms, std::int64_t t1Ms, std::vector<ExportSample>& out,
                       std::vector<std::string>& texts) const;
    std::optional<LatestSample> latest() const;

    bool empty() const { return lastMs_ == kNever; }
    std::int64_t firstMs() const;
    std::int64_t lastMs() const { return lastMs_; }
    bool hasNumbers() const { return hasNumbers_; }
    bool hasTexts() const { return !texts_.empty(); }
    // Memory of its own beyond the pool's pieces (rings of handles, marks, texts).
    std::size_t ownBytes() const;

    static constexpr std::int64_t kNever = INT64_MIN;

private:
    struct Mark {
        std::int64_t tMs;
        double v;
        SampleKind kind;
    };
    struct Text {
        std::int64_t tMs;
        std::string text;
    };
    struct Aggregate {
        double min, max, mean, last;
    };

    bool breaksBefore(std::int64_t tMs);
    bool pushRaw(std::int64_t tMs, double v, bool lineBreak);
    bool pushSecond(std::int64_t tMs, double v, bool lineBreak, const RowCollector& rows);
    OpenBlock* ensureOpen(std::int64_t firstSecond, const RowCollector& rows);
    void closeOpen(const RowCollector& rows);
    void collectFrom(const OpenBlock& o, std::int64_t throughSecond, const RowCollector& rows);
    std::uint32_t blockForNewest(std::int64_t firstSecond);
    static void quantise(const OpenBlock& o, SecondBlock& b);
    static void unquantise(const SecondBlock& b, OpenBlock& o);
    static Aggregate decode(const SecondBlock& b, int i);
    static void fill(OpenBlock& o, const StoredSecond& s);
    void breakAtFirstNumber();
    bool rawCovers(std::int64_t t0Ms) const;
    std::int64_t rawFirstMs() const;
    void queryRaw(std::int64_t t0, std::int64_t t1, int columns, TraceData& out) const;
    void querySeconds(std::int64_t t0, std::int64_t t1, int columns, TraceData& out) const;
    // Calls fn(second, aggregate, broken) for each second with numbers in
    // [s0, s1], oldest first, from the blocks and the open block.
    template <class Fn>
    void forEachSecond(std::int64_t s0, std::int64_t s1, Fn&& fn) const;

    ChunkPool& pool_;
    TierLimits limits_;
    HandleRing raw_;
    bool rawComplete_ = true; // the raw tier holds every number since the series began
    HandleRing blocks_;
    std::uint32_t open_ = kNoPiece;
    std::vector<Mark> marks_;
    std::vector<Text> texts_;

    std::int64_t lastMs_ = kNever;
    std::int64_t lastNumberMs_ = kNever;
    double intervalMs_ = 0; // running mean of the intervals; 0 while unknown
    bool pendingBreak_ = false;
    bool hasNumbers_ = false;
    SampleKind latestKind_ = SampleKind::Number;
    double latestValue_ = 0;
    std::int64_t writtenThrough_ = kNever; // seconds up to this one went to disk
};

} // namespace fieldmon::history
