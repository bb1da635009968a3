#pragma once
// One series in memory: its raw samples for the last minutes, its
// one-second aggregates for the last day, its non-number marks and its text
// changes.
//
// Raw tier: a ring of RawChunks, at most `rawChunks` of them; chunks whose
// samples are all older than `rawKeepMs` go back to the pool. It is also
// the journal the second tier is built from: appending a number only
// writes it into the ring (the reply path's cost), and catchUp() (the
// store calls it once a second) folds the samples that came since into the
// seconds, finds silences and marks the breaks. Everything that reads the
// second tier or the breaks catches up first, and a chunk is never
// recycled before it was folded in.
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
// Once a series holds its day, appending allocates nothing: the rings
// recycle their oldest pieces.
//
// Thread rule: main thread only (owned by the history store).

#include "history/ChunkPool.h"
#include "history/ClockSegments.h"
#include "history/HandleRing.h"
#include "history/HistoryTypes.h"
#include "history/SecondBlockCodec.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon::history {

struct TierLimits {
    std::size_t rawChunks = 47; // 6,016 samples: ten minutes at 10 Hz
    std::int64_t rawKeepMs = 600'000;
    std::size_t blocks = 1352; // a day of 64-second blocks, and the ones at its ends
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
    static constexpr std::int64_t kNever = INT64_MIN;

    SeriesTiers(ChunkPool& pool, const TierLimits& limits);
    ~SeriesTiers(); // gives every piece back to the pool

    // Where seconds go once they are done (see RowCollector).
    void setRows(const RowCollector& rows) { rows_ = rows; }

    // Moved when the store's table of series grows; the source is left
    // holding nothing.
    SeriesTiers(SeriesTiers&& other) noexcept;
    SeriesTiers(const SeriesTiers&) = delete;
    SeriesTiers& operator=(const SeriesTiers&) = delete;
    SeriesTiers& operator=(SeriesTiers&&) = delete;

    // A number (finite, below kHugeMagnitude: the caller classifies). False
    // when no memory was left for it. Inline: this is the reply path. It
    // reads only this object's first fields and writes into the chunk.
    bool appendNumber(std::int64_t tMs, double v)
    {
        const std::int64_t t = tMs < lastMs_ ? lastMs_ : tMs;
        if (current_ && currentCount_ < RawChunk::kSamples && t - currentBase_ <= RawChunk::kOffsetMask) {
            current_->offsetMs[currentCount_] = static_cast<std::uint32_t>(t - currentBase_) | pendingBreak_;
            current_->value[currentCount_] = v;
            ++currentCount_; // the chunk's own count catches up in syncCount()
            pendingBreak_ = 0;
            lastMs_ = t;
            latestKind_ = SampleKind::Number;
            return true;
        }
        return appendInNewChunk(t, v);
    }
    // Anything else; `text` for SampleKind::Text, `v` for Huge. False when
    // no memory was left for it.
    bool appendOther(std::int64_t tMs, SampleKind kind, double v, std::string_view text);

    // Folds the numbers appended since the last call into the second tier.
    void catchUp();

    // Catches up, then hands the seconds up to `throughSecond` that have not
    // gone to disk yet to the rows (a closing block hands over its own as it
    // closes).
    void collect(std::int64_t throughSecond);

    // Seconds read back from disk, oldest first. Only those older than
    // everything in memory (and within the day kept) are taken.
    void mergeOlder(const std::vector<StoredSecond>& seconds);

    // Both catch up first (hence not const).
    void query(std::int64_t t0Ms, std::int64_t t1Ms, int columns, TraceData& out);
    // Every sample in the window (raw when the raw tier covers it, one mean
    // per second otherwise), marks and texts included, in time order.
    // Texts go to `texts`; samples refer to them by index.
    void exportSamples(std::int64_t t0Ms, std::int64_t t1Ms, std::vector<ExportSample>& out,
                       std::vector<std::string>& texts);
    std::optional<LatestSample> latest() const;

    bool empty() const { return lastMs_ == kNever; }
    std::int64_t firstMs() const;
    std::int64_t lastMs() const { return lastMs_; }
    bool hasNumbers() const { return hasNumbers_; }
    bool hasTexts() const { return !texts_.empty(); }
    // Memory of its own beyond the pool's pieces (rings of handles, marks, texts).
    std::size_t ownBytes() const;

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

    bool appendInNewChunk(std::int64_t tMs, double v);
    // The newest chunk's count, which appends keep only in currentCount_.
    void syncCount() const
    {
        if (current_)
            current_->count = currentCount_;
    }
    bool breaksBefore(std::int64_t tMs);
    void fold(std::int64_t tMs, double v, bool lineBreak);
    OpenBlock* ensureOpen(std::int64_t firstSecond);
    void closeOpen();
    void collectFrom(const OpenBlock& o, std::int64_t throughSecond);
    std::uint32_t blockForNewest(std::int64_t firstSecond);
    void releaseOldestChunk();
    // Gives back the oldest raw chunk when it is folded in and not the only one.
    bool releaseFoldedChunk();
    void breakAtFirstNumber();
    static void fill(OpenBlock& o, const StoredSecond& s);
    bool rawCovers(std::int64_t t0Ms) const;
    std::int64_t rawFirstMs() const;
    void queryRaw(std::int64_t t0, std::int64_t t1, int columns, TraceData& out) const;
    void querySeconds(std::int64_t t0, std::int64_t t1, int columns, TraceData& out) const;
    // Calls fn(second, aggregate, broken) for each second with numbers in
    // [s0, s1], oldest first, from the blocks and the open block.
    template <class Fn>
    void forEachSecond(std::int64_t s0, std::int64_t s1, Fn&& fn) const;
    // The index of the first 64-second block whose seconds reach `s0`.
    std::size_t firstBlockReaching(std::int64_t s0) const;

    // What appendNumber touches, first, so that it is one cache line.
    RawChunk* current_ = nullptr; // the newest chunk, where appends go
    std::int64_t currentBase_ = 0;    // its baseMs
    std::int64_t lastMs_ = kNever;
    std::uint32_t currentCount_ = 0;  // its count
    std::uint32_t pendingBreak_ = 0;  // RawChunk::kBreakBit after a non-number
    SampleKind latestKind_ = SampleKind::Number;

    ChunkPool* pool_;
    TierLimits limits_;
    RowCollector rows_;
    HandleRing raw_;
    bool rawComplete_ = true;     // the raw tier holds every number since the series began
    // Catch-up position: chunk `foldedChunk_` of the ring (from the front),
    // sample `foldedSample_` in it, is the first not folded in yet.
    std::size_t foldedChunk_ = 0;
    std::uint32_t foldedSample_ = 0;
    HandleRing blocks_;
    std::uint32_t open_ = kNoPiece;
    OpenBlock* openBlock_ = nullptr; // the piece open_ names
    std::vector<Mark> marks_;
    std::vector<Text> texts_;

    double latestOther_ = 0; // the value of the latest non-number (Huge)
    bool hasNumbers_ = false;
    double loadedLast_ = 0; // the latest number when it came from disk

    // The catch-up's own state.
    std::int64_t lastNumberMs_ = kNever;
    double intervalMs_ = 0; // running mean of the intervals; 0 while unknown
    std::int64_t writtenThrough_ = kNever; // seconds up to this one went to disk
};

} // namespace fieldmon::history
