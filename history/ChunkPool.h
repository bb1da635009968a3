#pragma once
// The memory of the history's in-memory tiers: fixed-size pieces handed
// out by number, under one budget.
//
//   RawChunk      128 raw samples of one series (12 bytes a sample)
//   SecondBlock   64 seconds of one series' one-second aggregates,
//                 quantised (under 7 bytes a second; see SecondBlock)
//   OpenBlock     the block a series is filling now, at full precision
//
// A piece given back goes on its kind's free list and is handed out again
// before anything new is allocated, so a store that runs full allocates
// nothing more: rings recycle their own oldest pieces, and series that go
// away leave theirs for the next ones. acquire() fails once the budget is
// spent and nothing is free; the store then reclaims (see HistoryStore).
//
// Thread rule: main thread only (owned by the history store).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace fieldmon::history {

constexpr std::uint32_t kNoPiece = UINT32_MAX;

struct RawChunk {
    static constexpr int kSamples = 128;
    static constexpr std::uint32_t kBreakBit = 0x80000000u; // the line breaks before this sample
    static constexpr std::uint32_t kOffsetMask = 0x7fffffffu;
    std::int64_t baseMs = 0; // timeline ms of offset 0
    std::uint32_t count = 0;
    std::uint32_t offsetMs[kSamples]; // from baseMs, with kBreakBit
    double value[kSamples];

    std::int64_t timeAt(std::uint32_t i) const { return baseMs + (offsetMs[i] & kOffsetMask); }
    bool breakAt(std::uint32_t i) const { return (offsetMs[i] & kBreakBit) != 0; }
};

// 64 seconds of aggregates in 424 bytes. Each second's minimum and maximum
// are 16-bit steps of `scale` above `lo` (rounded outward, so a drawn
// envelope never hides a peak); its mean and last are 8-bit fractions of
// the way from that minimum to that maximum. When every number of the block
// is whole and the block spans at most 65,535, the step is 1 and minimum,
// maximum and last come back exact (last is rounded). The disk keeps full
// precision.
struct SecondBlock {
    static constexpr int kSeconds = 64;
    static constexpr std::uint32_t kWholeNumbers = 1u;
    std::int64_t firstSecond = 0; // a multiple of kSeconds
    double lo = 0;
    double scale = 0;
    std::uint64_t present = 0; // seconds with numbers
    std::uint64_t broken = 0;  // seconds the line breaks before
    std::uint32_t flags = 0;
    std::uint16_t qmin[kSeconds];
    std::uint16_t qmax[kSeconds];
    std::uint8_t mean[kSeconds];
    std::uint8_t last[kSeconds];
};

// The block being filled, at full precision until it is quantised.
struct OpenBlock {
    std::int64_t firstSecond = 0;
    std::uint64_t present = 0;
    std::uint64_t broken = 0;
    bool wholeNumbers = true;
    double min[SecondBlock::kSeconds];
    double max[SecondBlock::kSeconds];
    double sum[SecondBlock::kSeconds];
    double last[SecondBlock::kSeconds];
    std::uint32_t count[SecondBlock::kSeconds];
    std::uint8_t kinds[SecondBlock::kSeconds]; // kindFlag() bits of the non-numbers of each second

    void reset(std::int64_t first)
    {
        firstSecond = first;
        present = broken = 0;
        wholeNumbers = true;
        for (auto& k : kinds)
            k = 0;
    }
};

class ChunkPool {
public:
    explicit ChunkPool(std::size_t budgetBytes) : budget_(budgetBytes) {}

    // A piece, or kNoPiece when the budget is spent, nothing is free and
    // the reclaim hook (if any) found nothing to give back either.
    std::uint32_t acquireRaw() { return acquireReclaiming(raw_); }
    std::uint32_t acquireBlock() { return acquireReclaiming(blocks_); }
    std::uint32_t acquireOpen() { return acquireReclaiming(open_); }
    // Without the hook: for a series that can recycle its own pieces instead.
    std::uint32_t tryAcquireRaw() { return acquire(raw_); }
    std::uint32_t tryAcquireBlock() { return acquire(blocks_); }

    // Called when the budget is spent and nothing is free; frees pieces (by
    // evicting a series) and returns true, or returns false when it cannot.
    void setReclaim(std::function<bool()> reclaim) { reclaim_ = std::move(reclaim); }
    void releaseRaw(std::uint32_t h) { raw_.free.push_back(h); }
    void releaseBlock(std::uint32_t h) { blocks_.free.push_back(h); }
    void releaseOpen(std::uint32_t h) { open_.free.push_back(h); }

    RawChunk& raw(std::uint32_t h) { return *raw_.items[h]; }
    const RawChunk& raw(std::uint32_t h) const { return *raw_.items[h]; }
    SecondBlock& block(std::uint32_t h) { return *blocks_.items[h]; }
    const SecondBlock& block(std::uint32_t h) const { return *blocks_.items[h]; }
    OpenBlock& open(std::uint32_t h) { return *open_.items[h]; }
    const OpenBlock& open(std::uint32_t h) const { return *open_.items[h]; }

    // Bytes of every piece ever allocated (free ones included: they stay).
    std::size_t bytes() const { return bytes_; }
    std::size_t budget() const { return budget_; }
    std::size_t piecesInUse() const
    {
        auto used = [](const auto& k) { return k.items.size() - k.free.size() - k.holes.size(); };
        return used(raw_) + used(blocks_) + used(open_);
    }

private:
    template <class T>
    struct Kind {
        std::vector<std::unique_ptr<T>> items; // null at a hole
        std::vector<std::uint32_t> free;       // live pieces nobody uses
        std::vector<std::uint32_t> holes;      // freed for good, index reusable
    };

    template <class T>
    std::uint32_t acquireReclaiming(Kind<T>& kind)
    {
        for (;;) {
            const std::uint32_t h = acquire(kind);
            if (h != kNoPiece || !reclaim_ || !reclaim_())
                return h;
        }
    }

    template <class T>
    std::uint32_t acquire(Kind<T>& kind)
    {
        if (!kind.free.empty()) {
            const std::uint32_t h = kind.free.back();
            kind.free.pop_back();
            return h;
        }
        if (bytes_ + sizeof(T) > budget_)
            giveBackFree(sizeof(T));
        if (bytes_ + sizeof(T) > budget_)
            return kNoPiece;
        bytes_ += sizeof(T);
        if (!kind.holes.empty()) {
            const std::uint32_t h = kind.holes.back();
            kind.holes.pop_back();
            kind.items[h] = std::make_unique<T>();
            return h;
        }
        kind.items.push_back(std::make_unique<T>());
        // Room for every piece to come back, so that a release never allocates.
        if (kind.free.capacity() < kind.items.size()) {
            kind.free.reserve(kind.items.capacity());
            kind.holes.reserve(kind.items.capacity());
        }
        return static_cast<std::uint32_t>(kind.items.size() - 1);
    }

    // Frees idle pieces of every kind until `needed` more bytes fit: a full
    // store whose series changed shape (fewer raw chunks, more blocks)
    // trades one kind for another.
    void giveBackFree(std::size_t needed)
    {
        auto drop = [&](auto& kind) {
            while (!kind.free.empty() && bytes_ + needed > budget_) {
                const std::uint32_t h = kind.free.back();
                kind.free.pop_back();
                kind.items[h].reset();
                kind.holes.push_back(h);
                bytes_ -= sizeof(*kind.items.front().get());
            }
        };
        drop(raw_);
        drop(blocks_);
        drop(open_);
    }

    std::size_t budget_;
    std::size_t bytes_ = 0;
    std::function<bool()> reclaim_;
    Kind<RawChunk> raw_;
    Kind<SecondBlock> blocks_;
    Kind<OpenBlock> open_;
};

} // namespace fieldmon::history
