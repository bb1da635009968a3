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
// away leave theirs for the next ones. Memory, once taken (in slabs), is
// kept until the store goes. acquire() fails once the budget is
// spent and nothing is free; the store then reclaims (see HistoryStore).
// Raw chunks may take at most a quarter of the budget: raw samples are
// the cheap minutes, the aggregates the day, and a burst of raw samples
// must not leave the day without room.
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
// is whole and the block spans at most 65,535, the step is exactly 1 (a
// step of 1 means exactly that: other blocks never use it) and minimum,
// maximum and last come back exact (last is rounded). The disk keeps full
// precision.
struct SecondBlock {
    static constexpr int kSeconds = 64;
    std::int64_t firstSecond = 0; // a multiple of kSeconds
    double lo = 0;
    double scale = 0;
    std::uint64_t present = 0; // seconds with numbers
    std::uint64_t broken = 0;  // seconds the line breaks before
    std::uint16_t qmin[kSeconds];
    std::uint16_t qmax[kSeconds];
    std::uint8_t mean[kSeconds];
    std::uint8_t last[kSeconds];

    bool wholeNumbers() const { return scale == 1.0; }
};
static_assert(sizeof(SecondBlock) == 424, "a day of blocks per series must stay near 570 KB");

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
    explicit ChunkPool(std::size_t budgetBytes) : budget_(budgetBytes) { raw_.budget = budgetBytes / 4; }

    // A piece, or kNoPiece when the budget is spent, nothing is free and
    // the reclaim hook (if any) found nothing to give back either. The hook
    // is told who asks, so that it never takes the asker's own pieces.
    std::uint32_t acquireRaw(const void* asker) { return acquireReclaiming(raw_, asker); }
    std::uint32_t acquireBlock(const void* asker) { return acquireReclaiming(blocks_, asker); }
    std::uint32_t acquireOpen(const void* asker) { return acquireReclaiming(open_, asker); }
    // Without the hook: for a series that can recycle its own pieces instead.
    std::uint32_t tryAcquireRaw() { return acquire(raw_); }
    std::uint32_t tryAcquireBlock() { return acquire(blocks_); }
    std::uint32_t tryAcquireOpen() { return acquire(open_); }

    // Called when the budget is spent and nothing is free; frees pieces (by
    // evicting a series other than the asker) and returns true, or returns
    // false when it cannot.
    void setReclaim(std::function<bool(const void* asker)> reclaim) { reclaim_ = std::move(reclaim); }
    void releaseRaw(std::uint32_t h) { raw_.free.push_back(h); }
    void releaseBlock(std::uint32_t h) { blocks_.free.push_back(h); }
    void releaseOpen(std::uint32_t h) { open_.free.push_back(h); }

    RawChunk& raw(std::uint32_t h) { return raw_.at(h); }
    const RawChunk& raw(std::uint32_t h) const { return raw_.at(h); }
    SecondBlock& block(std::uint32_t h) { return blocks_.at(h); }
    const SecondBlock& block(std::uint32_t h) const { return blocks_.at(h); }
    OpenBlock& open(std::uint32_t h) { return open_.at(h); }
    const OpenBlock& open(std::uint32_t h) const { return open_.at(h); }

    // Bytes of every slab ever allocated (free pieces included: they stay).
    std::size_t bytes() const { return raw_.bytes + blocks_.bytes + open_.bytes; }
    std::size_t budget() const { return budget_; }
    std::size_t piecesInUse() const
    {
        auto used = [](const auto& k) { return k.made - k.free.size(); };
        return used(raw_) + used(blocks_) + used(open_);
    }

private:
    // Pieces come in slabs of kSlab (about 12 KB), which saves the
    // allocator's per-allocation overhead on a hundred thousand blocks.
    template <class T, std::uint32_t kSlab>
    struct Kind {
        std::vector<std::unique_ptr<T[]>> slabs;
        std::uint32_t made = 0;           // pieces handed out at least once
        std::vector<std::uint32_t> free;  // pieces nobody uses
        std::size_t bytes = 0;            // of the slabs
        std::size_t budget = SIZE_MAX;

        T& at(std::uint32_t h) const { return slabs[h / kSlab][h % kSlab]; }
        static constexpr std::size_t kSlabBytes = sizeof(T) * kSlab;
    };

    template <class K>
    std::uint32_t acquireReclaiming(K& kind, const void* asker)
    {
        for (;;) {
            const std::uint32_t h = acquire(kind);
            if (h != kNoPiece || !reclaim_ || !reclaim_(asker))
                return h;
        }
    }

    template <class T, std::uint32_t kSlab>
    std::uint32_t acquire(Kind<T, kSlab>& kind)
    {
        if (!kind.free.empty()) {
            const std::uint32_t h = kind.free.back();
            kind.free.pop_back();
            return h;
        }
        if (kind.made == kind.slabs.size() * kSlab) {
            const std::size_t add = Kind<T, kSlab>::kSlabBytes;
            if (kind.bytes + add > kind.budget || bytes() + add > budget_)
                return kNoPiece;
            kind.slabs.emplace_back(new T[kSlab]);
            kind.bytes += add;
            // Room for every piece to come back, so that a release never allocates.
            kind.free.reserve(kind.slabs.size() * kSlab);
        }
        return kind.made++;
    }

    std::size_t budget_;
    std::function<bool(const void*)> reclaim_;
    Kind<RawChunk, 8> raw_;
    Kind<SecondBlock, 32> blocks_;
    Kind<OpenBlock, 4> open_;
};

} // namespace fieldmon::history
