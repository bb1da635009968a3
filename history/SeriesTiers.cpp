#include "history/SeriesTiers.h"

#include "history/Decimator.h"
#include "platform/Check.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace fieldmon::history {

namespace {

constexpr int kBlock = SecondBlock::kSeconds;

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

std::int64_t secondOf(std::int64_t ms) { return floorDiv(ms, 1000); }
std::int64_t blockOf(std::int64_t second) { return floorDiv(second, kBlock) * kBlock; }
bool has(std::uint64_t bits, int i) { return (bits >> i) & 1u; }
std::uint64_t bit(int i) { return std::uint64_t(1) << i; }

// Cuts a text to at most `limit` bytes without splitting a UTF-8 character.
std::string_view cut(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return text.substr(0, n);
}

} // namespace

SeriesTiers::SeriesTiers(ChunkPool& pool, const TierLimits& limits) : pool_(&pool), limits_(limits)
{
    raw_.setLimit(limits_.rawChunks);
    blocks_.setLimit(limits_.blocks);
}

SeriesTiers::SeriesTiers(SeriesTiers&& o) noexcept
    : current_(std::exchange(o.current_, nullptr)), currentBase_(o.currentBase_), lastMs_(o.lastMs_),
      currentCount_(std::exchange(o.currentCount_, 0)), pendingBreak_(o.pendingBreak_), latestKind_(o.latestKind_),
      pool_(o.pool_), limits_(o.limits_), rows_(o.rows_), raw_(std::move(o.raw_)), rawComplete_(o.rawComplete_),
      foldedChunk_(std::exchange(o.foldedChunk_, 0)), foldedSample_(std::exchange(o.foldedSample_, 0)),
      blocks_(std::move(o.blocks_)), open_(std::exchange(o.open_, kNoPiece)),
      openBlock_(std::exchange(o.openBlock_, nullptr)), marks_(std::move(o.marks_)), texts_(std::move(o.texts_)),
      latestOther_(o.latestOther_), hasNumbers_(o.hasNumbers_), loadedLast_(o.loadedLast_),
      lastNumberMs_(o.lastNumberMs_), intervalMs_(o.intervalMs_), writtenThrough_(o.writtenThrough_)
{
}

SeriesTiers::~SeriesTiers()
{
    while (!raw_.empty())
        pool_->releaseRaw(raw_.popFront());
    while (!blocks_.empty())
        pool_->releaseBlock(blocks_.popFront());
    if (open_ != kNoPiece)
        pool_->releaseOpen(open_);
}

// --- Appending ------------------------------------------------------------

void SeriesTiers::releaseOldestChunk()
{
    catchUp(); // nothing goes before it is folded in
    const std::uint32_t h = raw_.popFront();
    if (&pool_->raw(h) == current_) {
        current_ = nullptr;
        currentCount_ = 0;
    }
    pool_->releaseRaw(h);
    rawComplete_ = false;
    if (raw_.empty()) {
        foldedChunk_ = 0;
        foldedSample_ = 0;
    } else if (foldedChunk_ > 0) {
        --foldedChunk_;
    }
}

bool SeriesTiers::appendInNewChunk(std::int64_t t, double v)
{
    syncCount();
    // Chunks whose newest sample is too old go first.
    while (!raw_.empty()) {
        const RawChunk& oldest = pool_->raw(raw_.front());
        if (oldest.timeAt(oldest.count - 1) >= t - limits_.rawKeepMs)
            break;
        releaseOldestChunk();
    }
    const bool full = !raw_.empty() && raw_.size() >= limits_.rawChunks;
    std::uint32_t h = full ? kNoPiece : pool_->tryAcquireRaw();
    if (h == kNoPiece && (full || raw_.size() >= 2)) {
        // Full, or the budget is spent: the ring goes round.
        releaseOldestChunk();
        h = pool_->tryAcquireRaw(); // the one just given back
    }
    if (h == kNoPiece)
        h = pool_->acquireRaw(this);
    if (h == kNoPiece)
        return false;
    RawChunk& c = pool_->raw(h);
    c.baseMs = t;
    c.count = 1;
    c.offsetMs[0] = pendingBreak_;
    c.value[0] = v;
    raw_.pushBack(h);
    current_ = &c;
    currentBase_ = t;
    currentCount_ = 1;
    pendingBreak_ = 0;
    lastMs_ = t;
    latestKind_ = SampleKind::Number;
    hasNumbers_ = true;
    return true;
}

bool SeriesTiers::appendOther(std::int64_t tMs, SampleKind kind, double v, std::string_view text)
{
    FM_CHECK(kind != SampleKind::Number, "numbers go through appendNumber");
    catchUp(); // the numbers before it go in first
    const std::int64_t t = tMs < lastMs_ ? lastMs_ : tMs;
    lastMs_ = t;
    pendingBreak_ = RawChunk::kBreakBit;
    latestKind_ = kind;
    latestOther_ = v;
    if (kind == SampleKind::Text) {
        text = cut(text, limits_.textBytes);
        if (!texts_.empty() && texts_.back().text == text)
            return true; // unchanged: not kept
        if (texts_.size() >= limits_.texts)
            texts_.erase(texts_.begin());
        texts_.push_back({t, std::string(text)});
    } else {
        if (marks_.size() >= limits_.marks)
            marks_.erase(marks_.begin());
        marks_.push_back({t, v, kind});
    }
    // The second remembers what kinds it saw, for the disk.
    OpenBlock* o = ensureOpen(blockOf(secondOf(t)));
    if (!o)
        return false;
    o->kinds[secondOf(t) - o->firstSecond] |= static_cast<std::uint8_t>(kindFlag(kind));
    return true;
}

// --- Folding raw samples into seconds --------------------------------------

bool SeriesTiers::breaksBefore(std::int64_t t)
{
    if (lastNumberMs_ == kNever) {
        lastNumberMs_ = t;
        return false;
    }
    const double dt = static_cast<double>(t - lastNumberMs_);
    lastNumberMs_ = t;
    if (intervalMs_ <= 0) {
        if (dt > 0)
            intervalMs_ = dt;
        return dt > 60'000;
    }
    if (dt > 3 * intervalMs_ + 1000) {
        // A silence, or a slower rate: the estimate doubles toward it, so a
        // rate that really changed stops breaking the line after a few samples.
        intervalMs_ = std::min(dt, 2 * intervalMs_);
        return true;
    }
    intervalMs_ = 0.9 * intervalMs_ + 0.1 * dt;
    return false;
}

void SeriesTiers::catchUp()
{
    syncCount();
    while (foldedChunk_ < raw_.size()) {
        RawChunk& c = pool_->raw(raw_[foldedChunk_]);
        for (; foldedSample_ < c.count; ++foldedSample_) {
            const std::int64_t t = c.timeAt(foldedSample_);
            const bool silence = breaksBefore(t);
            if (silence)
                c.offsetMs[foldedSample_] |= RawChunk::kBreakBit;
            fold(t, c.value[foldedSample_], silence || c.breakAt(foldedSample_));
        }
        if (foldedChunk_ + 1 == raw_.size())
            return; // at the end of the newest chunk, which may still grow
        ++foldedChunk_;
        foldedSample_ = 0;
    }
}

void SeriesTiers::fold(std::int64_t t, double v, bool lineBreak)
{
    const std::int64_t second = t >= 0 ? t / 1000 : secondOf(t);
    OpenBlock* o = openBlock_;
    if (!o || static_cast<std::uint64_t>(second - o->firstSecond) >= kBlock) {
        o = ensureOpen(blockOf(second));
        if (!o)
            return; // no memory for the block: the second tier misses this sample
    }
    const auto i = static_cast<int>(second - o->firstSecond);
    if (!has(o->present, i)) {
        o->present |= bit(i);
        o->min[i] = o->max[i] = o->sum[i] = o->last[i] = v;
        o->count[i] = 1;
    } else {
        o->min[i] = v < o->min[i] ? v : o->min[i];
        o->max[i] = v > o->max[i] ? v : o->max[i];
        o->sum[i] += v;
        o->last[i] = v;
        ++o->count[i];
    }
    if (lineBreak)
        o->broken |= bit(i);
    if (o->wholeNumbers && !isWhole(v))
        o->wholeNumbers = false;
}

OpenBlock* SeriesTiers::ensureOpen(std::int64_t firstSecond)
{
    if (open_ != kNoPiece) {
        OpenBlock& o = pool_->open(open_);
        if (o.firstSecond >= firstSecond)
            return &o; // times never go back, so never later than this block
        closeOpen();
    }
    std::uint32_t h = pool_->tryAcquireOpen();
    while (h == kNoPiece && releaseFoldedChunk())
        h = pool_->tryAcquireOpen();
    if (h == kNoPiece)
        h = pool_->acquireOpen(this);
    if (h == kNoPiece)
        return nullptr;
    OpenBlock& o = pool_->open(h);
    o.reset(firstSecond);
    // History read back from disk may have left this very block quantised:
    // it opens again, so that the seconds before and after a restart share it.
    if (!blocks_.empty() && pool_->block(blocks_.back()).firstSecond == firstSecond) {
        const std::uint32_t b = blocks_.popBack();
        unquantise(pool_->block(b), o);
        pool_->releaseBlock(b);
    }
    open_ = h;
    openBlock_ = &o;
    return &o;
}

bool SeriesTiers::releaseFoldedChunk()
{
    if (foldedChunk_ == 0 || raw_.size() < 2)
        return false;
    pool_->releaseRaw(raw_.popFront());
    --foldedChunk_;
    rawComplete_ = false;
    return true;
}

std::uint32_t SeriesTiers::blockForNewest(std::int64_t firstSecond)
{
    // Blocks that ended more than a day before this one go back first.
    while (!blocks_.empty() &&
           pool_->block(blocks_.front()).firstSecond + kBlock <= firstSecond + kBlock - limits_.keepSeconds)
        pool_->releaseBlock(blocks_.popFront());
    if (blocks_.size() >= limits_.blocks)
        return blocks_.popFront();
    std::uint32_t h = pool_->tryAcquireBlock();
    if (h == kNoPiece && blocks_.size() >= 2)
        return blocks_.popFront(); // the budget is spent: this ring stops growing
    // The budget is spent and this series has no day to recycle yet: its
    // own oldest raw samples make room before anyone else's series does.
    while (h == kNoPiece && releaseFoldedChunk())
        h = pool_->tryAcquireBlock();
    if (h == kNoPiece)
        h = pool_->acquireBlock(this);
    return h;
}

void SeriesTiers::closeOpen()
{
    OpenBlock& o = pool_->open(open_);
    collectFrom(o, std::numeric_limits<std::int64_t>::max());
    if (o.present || o.broken) {
        const std::uint32_t b = blockForNewest(o.firstSecond);
        if (b != kNoPiece) {
            quantise(o, pool_->block(b));
            blocks_.pushBack(b);
        }
    }
    pool_->releaseOpen(open_);
    open_ = kNoPiece;
    openBlock_ = nullptr;
}

// --- Disk -----------------------------------------------------------------

void SeriesTiers::collectFrom(const OpenBlock& o, std::int64_t throughSecond)
{
    if (!rows_.rows)
        return;
    const std::int64_t end = std::min(throughSecond, o.firstSecond + kBlock - 1);
    for (int i = 0; i < kBlock; ++i) {
        const std::int64_t s = o.firstSecond + i;
        if (s > end)
            break;
        if (writtenThrough_ != kNever && s <= writtenThrough_)
            continue;
        const bool present = has(o.present, i);
        if (!present && !has(o.broken, i) && !o.kinds[i])
            continue;
        StoredSecond st;
        st.second = s;
        st.wallMs = rows_.clock ? rows_.clock->wallAt(s * 1000) : s * 1000;
        st.flags = (has(o.broken, i) ? kBreakFlag : 0) | o.kinds[i];
        if (present) {
            st.count = o.count[i];
            st.min = o.min[i];
            st.max = o.max[i];
            st.mean = o.sum[i] / o.count[i];
            st.last = o.last[i];
        }
        rows_.rows->push_back({rows_.key, st});
    }
    if (writtenThrough_ == kNever || end > writtenThrough_)
        writtenThrough_ = end;
}

void SeriesTiers::collect(std::int64_t throughSecond)
{
    catchUp();
    if (open_ != kNoPiece)
        collectFrom(pool_->open(open_), throughSecond);
}

void SeriesTiers::fill(OpenBlock& o, const StoredSecond& s)
{
    const auto i = static_cast<int>(s.second - o.firstSecond);
    if (has(o.present, i))
        return;
    o.kinds[i] |= static_cast<std::uint8_t>(s.flags & ~kBreakFlag);
    if (s.flags & kBreakFlag)
        o.broken |= bit(i);
    if (s.count == 0)
        return;
    o.present |= bit(i);
    o.min[i] = s.min;
    o.max[i] = s.max;
    o.sum[i] = s.mean * s.count;
    o.last[i] = s.last;
    o.count[i] = s.count;
    if (!isWhole(s.min) || !isWhole(s.max) || !isWhole(s.last))
        o.wholeNumbers = false;
}

void SeriesTiers::breakAtFirstNumber()
{
    syncCount();
    auto first = [](std::uint64_t present) { return present ? __builtin_ctzll(present) : -1; };
    std::int64_t second = kNever;
    if (!blocks_.empty()) {
        SecondBlock& b = pool_->block(blocks_.front());
        if (const int i = first(b.present); i >= 0) {
            b.broken |= bit(i);
            second = b.firstSecond + i;
        }
    } else if (open_ != kNoPiece) {
        OpenBlock& o = pool_->open(open_);
        if (const int i = first(o.present); i >= 0) {
            o.broken |= bit(i);
            second = o.firstSecond + i;
        }
    }
    if (!raw_.empty()) {
        RawChunk& c = pool_->raw(raw_.front());
        if (c.count > 0 && secondOf(c.timeAt(0)) == second)
            c.offsetMs[0] |= RawChunk::kBreakBit;
    }
}

void SeriesTiers::mergeOlder(const std::vector<StoredSecond>& seconds)
{
    if (seconds.empty())
        return;
    catchUp();
    const std::int64_t known = empty() ? std::numeric_limits<std::int64_t>::max() : secondOf(firstMs());
    const std::int64_t newest = std::max(empty() ? kNever : secondOf(lastMs_), seconds.back().second);
    const std::int64_t oldest = newest - limits_.keepSeconds;
    std::size_t end = seconds.size(); // rows [0, end) are older than memory
    while (end > 0 && seconds[end - 1].second >= known)
        --end;
    if (end == 0)
        return;

    // The newest second read back and the oldest number in memory are far
    // apart (a restart): the line breaks between them.
    // (With nothing in memory `known` is a sentinel: no gap to measure.)
    if (!empty() && hasNumbers_) {
        const std::int64_t gapMs = (known - seconds[end - 1].second) * 1000;
        if (gapMs > (intervalMs_ > 0 ? 3 * intervalMs_ + 1000 : 60'000))
            breakAtFirstNumber();
    }

    // Scratch for building a block; given back at the end.
    const std::uint32_t scratch = pool_->acquireOpen(this);
    if (scratch == kNoPiece)
        return;
    OpenBlock& tmp = pool_->open(scratch);
    bool took = false;
    // Newest block first, so each one goes in front of the ones before.
    for (std::size_t hiIdx = end; hiIdx > 0;) {
        const std::int64_t block = blockOf(seconds[hiIdx - 1].second);
        std::size_t loIdx = hiIdx;
        while (loIdx > 0 && blockOf(seconds[loIdx - 1].second) == block)
            --loIdx;
        auto fillFrom = [&seconds, oldest, from = loIdx, to = hiIdx](OpenBlock& o) {
            for (std::size_t k = from; k < to; ++k)
                if (seconds[k].second > oldest)
                    fill(o, seconds[k]);
        };
        hiIdx = loIdx;
        if (block + kBlock <= oldest)
            break;
        if (open_ != kNoPiece && pool_->open(open_).firstSecond == block) {
            fillFrom(pool_->open(open_));
            took = true;
            continue;
        }
        if (!blocks_.empty() && pool_->block(blocks_.front()).firstSecond == block) {
            SecondBlock& b = pool_->block(blocks_.front());
            unquantise(b, tmp);
            fillFrom(tmp);
            quantise(tmp, b);
            took = true;
            continue;
        }
        if (blocks_.size() >= limits_.blocks)
            break;
        const std::uint32_t h = pool_->tryAcquireBlock();
        if (h == kNoPiece)
            break;
        tmp.reset(block);
        fillFrom(tmp);
        quantise(tmp, pool_->block(h));
        blocks_.pushFront(h);
        took = true;
    }
    pool_->releaseOpen(scratch);
    if (!took)
        return;
    rawComplete_ = false;
    const StoredSecond& newestRow = seconds[end - 1];
    if (writtenThrough_ == kNever || newestRow.second > writtenThrough_)
        writtenThrough_ = newestRow.second;
    for (std::size_t k = 0; k < end; ++k)
        hasNumbers_ = hasNumbers_ || seconds[k].count > 0;
    if (empty()) {
        lastMs_ = newestRow.second * 1000;
        lastNumberMs_ = lastMs_; // the first sample of this run comes after a silence
        loadedLast_ = newestRow.last;
    }
}

// --- Reading --------------------------------------------------------------

std::int64_t SeriesTiers::firstMs() const
{
    std::int64_t first = lastMs_;
    auto firstPresent = [](std::uint64_t present, std::int64_t firstSecond) {
        return present ? (firstSecond + __builtin_ctzll(present)) * 1000 : std::numeric_limits<std::int64_t>::max();
    };
    if (!blocks_.empty()) {
        const SecondBlock& b = pool_->block(blocks_.front());
        first = std::min(first, firstPresent(b.present | b.broken, b.firstSecond));
    }
    if (open_ != kNoPiece) {
        const OpenBlock& o = pool_->open(open_);
        first = std::min(first, firstPresent(o.present | o.broken, o.firstSecond));
    }
    if (!raw_.empty())
        first = std::min(first, rawFirstMs());
    if (!marks_.empty())
        first = std::min(first, marks_.front().tMs);
    if (!texts_.empty())
        first = std::min(first, texts_.front().tMs);
    return first;
}

std::optional<LatestSample> SeriesTiers::latest() const
{
    if (empty())
        return std::nullopt;
    LatestSample s;
    s.t = static_cast<double>(lastMs_) / 1000.0;
    s.kind = latestKind_;
    if (latestKind_ == SampleKind::Number)
        s.number = current_ && currentCount_ > 0 ? current_->value[currentCount_ - 1] : loadedLast_;
    else
        s.number = latestOther_;
    if (latestKind_ == SampleKind::Text && !texts_.empty())
        s.text = texts_.back().text;
    return s;
}

std::int64_t SeriesTiers::rawFirstMs() const
{
    if (raw_.empty())
        return std::numeric_limits<std::int64_t>::max();
    return pool_->raw(raw_.front()).timeAt(0);
}

bool SeriesTiers::rawCovers(std::int64_t t0Ms) const
{
    if (raw_.empty())
        return false;
    return rawComplete_ || rawFirstMs() <= t0Ms;
}

void SeriesTiers::query(std::int64_t t0, std::int64_t t1, int columns, TraceData& out)
{
    out.clear();
    if (t1 <= t0 || empty())
        return;
    catchUp();
    columns = std::max(columns, 1);
    if (rawCovers(t0))
        queryRaw(t0, t1, columns, out);
    else
        querySeconds(t0, t1, columns, out);

    const double colMs = static_cast<double>(t1 - t0) / columns;
    long lastColumn = -1;
    for (const Mark& m : marks_) {
        if (m.tMs < t0 || m.tMs > t1)
            continue;
        const auto col = static_cast<long>(static_cast<double>(m.tMs - t0) / colMs);
        if (col == lastColumn)
            continue;
        lastColumn = col;
        out.marks.push_back({static_cast<double>(m.tMs) / 1000.0, m.kind});
    }
    for (std::size_t i = 0; i < texts_.size(); ++i) {
        const Text& x = texts_[i];
        const bool inForce = x.tMs <= t0 && (i + 1 == texts_.size() || texts_[i + 1].tMs > t0);
        if (inForce || (x.tMs > t0 && x.tMs <= t1))
            out.texts.push_back({static_cast<double>(x.tMs) / 1000.0, x.text});
    }
}

void SeriesTiers::queryRaw(std::int64_t t0, std::int64_t t1, int columns, TraceData& out) const
{
    syncCount();
    out.tier = Tier::Raw;
    Decimator columnsOut(t0, static_cast<double>(t1 - t0) / columns, out.points);
    // The sample before the window and the one after it let the line run
    // to the window's edges.
    TracePoint before;
    bool haveBefore = false;
    bool inside = false;
    for (std::size_t c = 0; c < raw_.size(); ++c) {
        const RawChunk& chunk = pool_->raw(raw_[c]);
        if (chunk.timeAt(chunk.count - 1) < t0) {
            before = {static_cast<double>(chunk.timeAt(chunk.count - 1)) / 1000.0, chunk.value[chunk.count - 1]};
            haveBefore = true;
            continue;
        }
        for (std::uint32_t i = 0; i < chunk.count; ++i) {
            const std::int64_t t = chunk.timeAt(i);
            const TracePoint p{static_cast<double>(t) / 1000.0, chunk.value[i]};
            if (t < t0) {
                before = p;
                haveBefore = true;
                continue;
            }
            if (!inside && haveBefore && !chunk.breakAt(i))
                columnsOut.edge(before, false);
            if (t > t1) {
                if (inside || haveBefore)
                    columnsOut.edge(p, chunk.breakAt(i));
                return;
            }
            inside = true;
            haveBefore = false;
            columnsOut.sample(t, chunk.value[i], chunk.breakAt(i));
        }
    }
}

std::size_t SeriesTiers::firstBlockReaching(std::int64_t s0) const
{
    // Blocks are in time order: a binary search for the first whose seconds
    // reach s0.
    std::size_t lo = 0;
    std::size_t hi = blocks_.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (pool_->block(blocks_[mid]).firstSecond + kBlock <= s0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

template <class Fn>
void SeriesTiers::forEachSecond(std::int64_t s0, std::int64_t s1, Fn&& fn) const
{
    const std::size_t lo = firstBlockReaching(s0);
    for (std::size_t k = lo; k < blocks_.size(); ++k) {
        const SecondBlock& b = pool_->block(blocks_[k]);
        if (b.firstSecond > s1)
            return;
        for (int i = 0; i < kBlock; ++i) {
            const std::int64_t s = b.firstSecond + i;
            if (s >= s0 && s <= s1 && has(b.present, i))
                fn(s, decode(b, i), has(b.broken, i));
        }
    }
    if (open_ == kNoPiece)
        return;
    const OpenBlock& o = pool_->open(open_);
    for (int i = 0; i < kBlock; ++i) {
        const std::int64_t s = o.firstSecond + i;
        if (s >= s0 && s <= s1 && has(o.present, i))
            fn(s, Aggregate{o.min[i], o.max[i], o.sum[i] / o.count[i], o.last[i]}, has(o.broken, i));
    }
}

void SeriesTiers::querySeconds(std::int64_t t0, std::int64_t t1, int columns, TraceData& out) const
{
    out.tier = Tier::Seconds;
    // Never narrower than a second: the tier has nothing finer.
    const double columnMs = std::max(1000.0, static_cast<double>(t1 - t0) / columns);
    Decimator columnsOut(t0, columnMs, out.points);
    const std::int64_t s0 = secondOf(t0);
    const std::int64_t s1 = secondOf(t1);
    auto columnOf = [&](std::int64_t second) {
        return static_cast<long>(std::floor((static_cast<double>(second * 1000 + 500 - t0)) / columnMs));
    };
    // A block that falls inside the window adds its own extremes to one
    // column: its minimum is `lo`, its maximum the highest step, and only
    // its last second needs decoding. That spares a day's trace 86,400
    // decodes. It goes whole to the column of its middle when it lies in
    // one column, or when a column is four blocks wide or more (then it is
    // out of place by a quarter of a column at most, never more than a pixel).
    const bool wideColumns = columnMs >= 4.0 * kBlock * 1000;
    auto wholeBlock = [&](const SecondBlock& b) {
        if (b.firstSecond < s0 || b.firstSecond + kBlock - 1 > s1 || !b.present)
            return false;
        if (!wideColumns && columnOf(b.firstSecond) != columnOf(b.firstSecond + kBlock - 1))
            return false;
        std::uint16_t top = 0;
        for (int i = 0; i < kBlock; ++i)
            if (has(b.present, i))
                top = std::max(top, b.qmax[i]);
        const int lastSecond = 63 - __builtin_clzll(b.present);
        const Aggregate last = decode(b, lastSecond);
        columnsOut.second(b.firstSecond + kBlock / 2, b.lo, b.lo + top * b.scale, last.last, b.broken != 0);
        return true;
    };
    const std::size_t lo = firstBlockReaching(s0);
    for (std::size_t k = lo; k < blocks_.size(); ++k) {
        const SecondBlock& b = pool_->block(blocks_[k]);
        if (b.firstSecond > s1)
            break;
        if (wholeBlock(b))
            continue;
        for (int i = 0; i < kBlock; ++i) {
            const std::int64_t s = b.firstSecond + i;
            if (s >= s0 && s <= s1 && has(b.present, i)) {
                const Aggregate a = decode(b, i);
                columnsOut.second(s, a.min, a.max, a.last, has(b.broken, i));
            }
        }
    }
    if (open_ == kNoPiece)
        return;
    const OpenBlock& o = pool_->open(open_);
    for (int i = 0; i < kBlock; ++i) {
        const std::int64_t s = o.firstSecond + i;
        if (s >= s0 && s <= s1 && has(o.present, i))
            columnsOut.second(s, o.min[i], o.max[i], o.last[i], has(o.broken, i));
    }
}

void SeriesTiers::exportSamples(std::int64_t t0, std::int64_t t1, std::vector<ExportSample>& out,
                                std::vector<std::string>& texts)
{
    catchUp();
    const std::size_t from = out.size();
    // Every raw sample the window holds, and before the raw tier's first
    // one, the seconds' means: a window reaching past the raw tier must not
    // lose the raw samples it does hold.
    if (!rawCovers(t0)) {
        const std::int64_t rawFirst = rawFirstMs();
        forEachSecond(secondOf(t0), secondOf(std::min(t1, rawFirst == std::numeric_limits<std::int64_t>::max()
                                                              ? t1
                                                              : rawFirst - 1)),
                      [&](std::int64_t s, const Aggregate& a, bool) {
                          // A second the raw tier reaches into is left to it.
                          if (s * 1000 >= t0 && s * 1000 <= t1 &&
                              (raw_.empty() || s * 1000 + 1000 <= rawFirst))
                              out.push_back({.tMs = s * 1000, .kind = SampleKind::Number, .value = a.mean});
                      });
    }
    for (std::size_t c = 0; c < raw_.size(); ++c) {
        const RawChunk& chunk = pool_->raw(raw_[c]);
        for (std::uint32_t i = 0; i < chunk.count; ++i) {
            const std::int64_t t = chunk.timeAt(i);
            if (t >= t0 && t <= t1)
                out.push_back({.tMs = t, .kind = SampleKind::Number, .value = chunk.value[i]});
        }
    }
    for (const Mark& m : marks_)
        if (m.tMs >= t0 && m.tMs <= t1)
            out.push_back({.tMs = m.tMs, .kind = m.kind, .value = m.v});
    for (const Text& x : texts_) {
        if (x.tMs < t0 || x.tMs > t1)
            continue;
        texts.push_back(x.text);
        out.push_back({.tMs = x.tMs, .kind = SampleKind::Text, .text = static_cast<std::uint32_t>(texts.size() - 1)});
    }
    std::stable_sort(out.begin() + static_cast<std::ptrdiff_t>(from), out.end(),
                     [](const ExportSample& a, const ExportSample& b) { return a.tMs < b.tMs; });
}

std::size_t SeriesTiers::ownBytes() const
{
    std::size_t n = sizeof(*this) + raw_.bytes() + blocks_.bytes() + marks_.capacity() * sizeof(Mark) +
                    texts_.capacity() * sizeof(Text);
    for (const Text& x : texts_)
        if (x.text.capacity() > 15)
            n += x.text.capacity() + 1;
    return n;
}

} // namespace fieldmon::history
