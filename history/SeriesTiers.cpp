#include "history/SeriesTiers.h"

#include "platform/Check.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <utility>

namespace fieldmon::history {

namespace {

constexpr int kBlock = SecondBlock::kSeconds;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

std::int64_t blockOf(std::int64_t second) { return floorDiv(second, kBlock) * kBlock; }

bool whole(double v) { return v == std::floor(v); }

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

// One pixel column's worth of points, decimated to at most two.
struct Column {
    int count = 0;
    bool broken = false;
    TracePoint first, last, lo, hi;

    void add(double t, double v, bool lineBreak)
    {
        if (lineBreak)
            broken = true;
        if (count == 0) {
            first = last = lo = hi = {t, v};
        } else {
            last = {t, v};
            if (v < lo.v)
                lo = {t, v};
            if (v > hi.v)
                hi = {t, v};
        }
        ++count;
    }
    // Raw samples: as they are when there are two or fewer, else the
    // extremes in the order they came.
    void emitSamples(std::vector<TracePoint>& out) const
    {
        if (count == 0)
            return;
        if (broken)
            out.push_back({first.t, kNaN});
        if (count <= 2) {
            out.push_back(first);
            if (count == 2)
                out.push_back(last);
            return;
        }
        const bool lowFirst = lo.t <= hi.t;
        out.push_back(lowFirst ? lo : hi);
        if (lo.t != hi.t || lo.v != hi.v)
            out.push_back(lowFirst ? hi : lo);
    }
};

} // namespace

SeriesTiers::SeriesTiers(ChunkPool& pool, const TierLimits& limits) : pool_(pool), limits_(limits)
{
    raw_.setLimit(limits_.rawChunks);
    blocks_.setLimit(limits_.blocks);
}

SeriesTiers::~SeriesTiers()
{
    while (!raw_.empty())
        pool_.releaseRaw(raw_.popFront());
    while (!blocks_.empty())
        pool_.releaseBlock(blocks_.popFront());
    if (open_ != kNoPiece)
        pool_.releaseOpen(open_);
}

bool SeriesTiers::breaksBefore(std::int64_t tMs)
{
    const bool after = std::exchange(pendingBreak_, false);
    if (lastNumberMs_ == kNever)
        return after;
    const double dt = static_cast<double>(tMs - lastNumberMs_);
    if (intervalMs_ <= 0) {
        if (dt > 0)
            intervalMs_ = dt;
        return after || dt > 60'000;
    }
    if (dt > 3 * intervalMs_ + 1000) {
        // A silence, or a slower rate: the estimate doubles toward it, so a
        // rate that really changed stops breaking the line after a few samples.
        intervalMs_ = std::min(dt, 2 * intervalMs_);
        return true;
    }
    intervalMs_ = 0.9 * intervalMs_ + 0.1 * dt;
    return after;
}

bool SeriesTiers::appendNumber(std::int64_t tMs, double v, const RowCollector& rows)
{
    const std::int64_t t = lastMs_ == kNever ? tMs : std::max(tMs, lastMs_);
    const bool lineBreak = breaksBefore(t);
    lastMs_ = t;
    lastNumberMs_ = t;
    latestKind_ = SampleKind::Number;
    latestValue_ = v;
    hasNumbers_ = true;
    const bool kept = pushRaw(t, v, lineBreak);
    return pushSecond(t, v, lineBreak, rows) && kept;
}

bool SeriesTiers::appendOther(std::int64_t tMs, SampleKind kind, double v, std::string_view text,
                              const RowCollector& rows)
{
    FM_CHECK(kind != SampleKind::Number, "numbers go through appendNumber");
    const std::int64_t t = lastMs_ == kNever ? tMs : std::max(tMs, lastMs_);
    lastMs_ = t;
    pendingBreak_ = true;
    latestKind_ = kind;
    latestValue_ = v;
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
    OpenBlock* o = ensureOpen(blockOf(floorDiv(t, 1000)), rows);
    if (!o)
        return false;
    o->kinds[floorDiv(t, 1000) - o->firstSecond] |= static_cast<std::uint8_t>(kindFlag(kind));
    return true;
}

bool SeriesTiers::pushRaw(std::int64_t tMs, double v, bool lineBreak)
{
    const std::uint32_t breakBit = lineBreak ? RawChunk::kBreakBit : 0;
    if (!raw_.empty()) {
        RawChunk& c = pool_.raw(raw_.back());
        if (c.count < RawChunk::kSamples && tMs - c.baseMs <= RawChunk::kOffsetMask) {
            c.offsetMs[c.count] = static_cast<std::uint32_t>(tMs - c.baseMs) | breakBit;
            c.value[c.count] = v;
            ++c.count;
            return true;
        }
    }
    // A new chunk. Chunks whose newest sample is too old go first.
    while (!raw_.empty()) {
        const RawChunk& oldest = pool_.raw(raw_.front());
        if (oldest.timeAt(oldest.count - 1) >= tMs - limits_.rawKeepMs)
            break;
        pool_.releaseRaw(raw_.popFront());
        rawComplete_ = false;
    }
    const bool full = !raw_.empty() && raw_.size() >= limits_.rawChunks;
    std::uint32_t h = full ? kNoPiece : pool_.tryAcquireRaw();
    if (h == kNoPiece && (full || raw_.size() >= 2)) {
        // Full, or the budget is spent: the ring goes round.
        h = raw_.popFront();
        rawComplete_ = false;
    }
    if (h == kNoPiece)
        h = pool_.acquireRaw();
    if (h == kNoPiece)
        return false;
    RawChunk& c = pool_.raw(h);
    c.baseMs = tMs;
    c.count = 1;
    c.offsetMs[0] = breakBit;
    c.value[0] = v;
    raw_.pushBack(h);
    return true;
}

OpenBlock* SeriesTiers::ensureOpen(std::int64_t firstSecond, const RowCollector& rows)
{
    if (open_ != kNoPiece) {
        OpenBlock& o = pool_.open(open_);
        if (o.firstSecond >= firstSecond)
            return &o; // times never go back, so never later than this block
        closeOpen(rows);
    }
    const std::uint32_t h = pool_.acquireOpen();
    if (h == kNoPiece)
        return nullptr;
    OpenBlock& o = pool_.open(h);
    o.reset(firstSecond);
    // History read back from disk may have left this very block quantised:
    // it opens again, so that the seconds before and after a restart share it.
    if (!blocks_.empty() && pool_.block(blocks_.back()).firstSecond == firstSecond) {
        const std::uint32_t b = blocks_.popBack();
        unquantise(pool_.block(b), o);
        pool_.releaseBlock(b);
    }
    open_ = h;
    return &o;
}

bool SeriesTiers::pushSecond(std::int64_t tMs, double v, bool lineBreak, const RowCollector& rows)
{
    const std::int64_t second = floorDiv(tMs, 1000);
    OpenBlock* o = ensureOpen(blockOf(second), rows);
    if (!o)
        return false;
    const auto i = static_cast<int>(second - o->firstSecond);
    const std::uint64_t bit = std::uint64_t(1) << i;
    if (!(o->present & bit)) {
        o->present |= bit;
        o->min[i] = o->max[i] = o->sum[i] = o->last[i] = v;
        o->count[i] = 1;
    } else {
        o->min[i] = std::min(o->min[i], v);
        o->max[i] = std::max(o->max[i], v);
        o->sum[i] += v;
        o->last[i] = v;
        ++o->count[i];
    }
    if (lineBreak)
        o->broken |= bit;
    if (!whole(v))
        o->wholeNumbers = false;
    return true;
}

std::uint32_t SeriesTiers::blockForNewest(std::int64_t firstSecond)
{
    // Blocks that ended more than a day before this one go back first.
    while (!blocks_.empty() &&
           pool_.block(blocks_.front()).firstSecond + kBlock <= firstSecond + kBlock - limits_.keepSeconds)
        pool_.releaseBlock(blocks_.popFront());
    if (blocks_.size() >= limits_.blocks)
        return blocks_.popFront();
    std::uint32_t h = pool_.tryAcquireBlock();
    if (h == kNoPiece && blocks_.size() >= 2)
        return blocks_.popFront(); // the budget is spent: this ring stops growing
    if (h == kNoPiece)
        h = pool_.acquireBlock();
    return h;
}

void SeriesTiers::closeOpen(const RowCollector& rows)
{
    OpenBlock& o = pool_.open(open_);
    collectFrom(o, std::numeric_limits<std::int64_t>::max(), rows);
    if (o.present || o.broken) {
        const std::uint32_t b = blockForNewest(o.firstSecond);
        if (b != kNoPiece) {
            quantise(o, pool_.block(b));
            blocks_.pushBack(b);
        }
    }
    pool_.releaseOpen(open_);
    open_ = kNoPiece;
}

void SeriesTiers::collectFrom(const OpenBlock& o, std::int64_t throughSecond, const RowCollector& rows)
{
    if (!rows.rows)
        return;
    const std::int64_t end = std::min(throughSecond, o.firstSecond + kBlock - 1);
    for (int i = 0; i < kBlock; ++i) {
        const std::int64_t s = o.firstSecond + i;
        if (s > end)
            break;
        if (writtenThrough_ != kNever && s <= writtenThrough_)
            continue;
        const std::uint64_t bit = std::uint64_t(1) << i;
        const bool present = (o.present & bit) != 0;
        if (!present && !(o.broken & bit) && !o.kinds[i])
            continue;
        StoredSecond st;
        st.second = s;
        st.wallMs = rows.clock ? rows.clock->wallAt(s * 1000) : s * 1000;
        st.flags = ((o.broken & bit) ? kBreakFlag : 0) | o.kinds[i];
        if (present) {
            st.count = o.count[i];
            st.min = o.min[i];
            st.max = o.max[i];
            st.mean = o.sum[i] / o.count[i];
            st.last = o.last[i];
        }
        rows.rows->push_back({rows.key, st});
    }
    if (writtenThrough_ == kNever || end > writtenThrough_)
        writtenThrough_ = end;
}

void SeriesTiers::collect(std::int64_t throughSecond, const RowCollector& rows)
{
    if (open_ != kNoPiece)
        collectFrom(pool_.open(open_), throughSecond, rows);
}

void SeriesTiers::quantise(const OpenBlock& o, SecondBlock& b)
{
    b.firstSecond = o.firstSecond;
    b.present = o.present;
    b.broken = o.broken;
    b.flags = 0;
    b.lo = 0;
    b.scale = 0;
    if (!o.present)
        return;
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (int i = 0; i < kBlock; ++i) {
        if (o.present & (std::uint64_t(1) << i)) {
            lo = std::min(lo, o.min[i]);
            hi = std::max(hi, o.max[i]);
        }
    }
    const bool exact = o.wholeNumbers && hi - lo <= 65535;
    b.lo = lo;
    // Values stay below kHugeMagnitude, so hi − lo cannot overflow.
    b.scale = exact ? 1.0 : (hi - lo) / 65535.0;
    if (exact)
        b.flags |= SecondBlock::kWholeNumbers;
    auto step = [&](double v, bool up) -> std::uint16_t {
        if (b.scale <= 0)
            return 0;
        const double q = (v - lo) / b.scale;
        return static_cast<std::uint16_t>(std::clamp(up ? std::ceil(q) : std::floor(q), 0.0, 65535.0));
    };
    for (int i = 0; i < kBlock; ++i) {
        if (!(o.present & (std::uint64_t(1) << i)))
            continue;
        b.qmin[i] = step(o.min[i], false);
        b.qmax[i] = step(o.max[i], true);
        const double dmin = lo + b.qmin[i] * b.scale;
        const double span = b.qmax[i] * b.scale - b.qmin[i] * b.scale;
        auto frac = [&](double v) -> std::uint8_t {
            if (span <= 0)
                return 0;
            return static_cast<std::uint8_t>(std::clamp(std::round((v - dmin) / span * 255.0), 0.0, 255.0));
        };
        b.mean[i] = frac(o.sum[i] / o.count[i]);
        b.last[i] = frac(o.last[i]);
    }
}

SeriesTiers::Aggregate SeriesTiers::decode(const SecondBlock& b, int i)
{
    Aggregate a;
    a.min = b.lo + b.qmin[i] * b.scale;
    a.max = b.lo + b.qmax[i] * b.scale;
    const double span = a.max - a.min;
    a.mean = a.min + b.mean[i] / 255.0 * span;
    a.last = a.min + b.last[i] / 255.0 * span;
    if (b.flags & SecondBlock::kWholeNumbers)
        a.last = std::round(a.last);
    return a;
}

void SeriesTiers::unquantise(const SecondBlock& b, OpenBlock& o)
{
    o.present = b.present;
    o.broken = b.broken;
    o.wholeNumbers = (b.flags & SecondBlock::kWholeNumbers) != 0;
    for (int i = 0; i < kBlock; ++i) {
        if (!(b.present & (std::uint64_t(1) << i)))
            continue;
        const Aggregate a = decode(b, i);
        o.min[i] = a.min;
        o.max[i] = a.max;
        o.sum[i] = a.mean;
        o.last[i] = a.last;
        o.count[i] = 1;
    }
}

void SeriesTiers::fill(OpenBlock& o, const StoredSecond& s)
{
    const auto i = static_cast<int>(s.second - o.firstSecond);
    const std::uint64_t bit = std::uint64_t(1) << i;
    if (o.present & bit)
        return;
    o.kinds[i] |= static_cast<std::uint8_t>(s.flags & ~kBreakFlag);
    if (s.flags & kBreakFlag)
        o.broken |= bit;
    if (s.count == 0)
        return;
    o.present |= bit;
    o.min[i] = s.min;
    o.max[i] = s.max;
    o.sum[i] = s.mean * s.count;
    o.last[i] = s.last;
    o.count[i] = s.count;
    if (!whole(s.min) || !whole(s.max) || !whole(s.last))
        o.wholeNumbers = false;
}

std::int64_t SeriesTiers::firstMs() const
{
    std::int64_t first = lastMs_;
    auto firstPresent = [](std::uint64_t present, std::int64_t firstSecond) {
        for (int i = 0; i < kBlock; ++i)
            if (present & (std::uint64_t(1) << i))
                return (firstSecond + i) * 1000;
        return std::numeric_limits<std::int64_t>::max();
    };
    if (!blocks_.empty()) {
        const SecondBlock& b = pool_.block(blocks_.front());
        first = std::min(first, firstPresent(b.present | b.broken, b.firstSecond));
    }
    if (open_ != kNoPiece) {
        const OpenBlock& o = pool_.open(open_);
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

void SeriesTiers::mergeOlder(const std::vector<StoredSecond>& seconds)
{
    if (seconds.empty())
        return;
    const std::int64_t known = empty() ? std::numeric_limits<std::int64_t>::max() : floorDiv(firstMs(), 1000);
    const std::int64_t newest = std::max(empty() ? kNever : floorDiv(lastMs_, 1000), seconds.back().second);
    const std::int64_t oldest = newest - limits_.keepSeconds;
    std::int64_t end = static_cast<std::int64_t>(seconds.size()); // rows [0, end) are older than memory
    while (end > 0 && seconds[static_cast<std::size_t>(end - 1)].second >= known)
        --end;
    if (end == 0)
        return;

    // The newest second read back and the oldest number in memory are far
    // apart (a restart): the line breaks between them.
    const std::int64_t gapMs = (known - seconds[static_cast<std::size_t>(end - 1)].second) * 1000;
    if (!empty() && hasNumbers_ && gapMs > (intervalMs_ > 0 ? 3 * intervalMs_ + 1000 : 60'000))
        breakAtFirstNumber();

    // Scratch for building a block; given back at the end.
    const std::uint32_t scratch = pool_.acquireOpen();
    if (scratch == kNoPiece)
        return;
    OpenBlock& tmp = pool_.open(scratch);
    bool took = false;
    // Newest block first, so each one goes in front of the ones before.
    for (std::int64_t hiIdx = end; hiIdx > 0;) {
        const std::int64_t block = blockOf(seconds[static_cast<std::size_t>(hiIdx - 1)].second);
        std::int64_t loIdx = hiIdx;
        while (loIdx > 0 && blockOf(seconds[static_cast<std::size_t>(loIdx - 1)].second) == block)
            --loIdx;
        auto fillFrom = [&seconds, oldest, from = loIdx, to = hiIdx](OpenBlock& o) {
            for (std::int64_t k = from; k < to; ++k)
                if (seconds[static_cast<std::size_t>(k)].second > oldest)
                    fill(o, seconds[static_cast<std::size_t>(k)]);
        };
        hiIdx = loIdx;
        if (block + kBlock <= oldest)
            break;
        if (open_ != kNoPiece && pool_.open(open_).firstSecond == block) {
            fillFrom(pool_.open(open_));
            took = true;
            continue;
        }
        if (!blocks_.empty() && pool_.block(blocks_.front()).firstSecond == block) {
            SecondBlock& b = pool_.block(blocks_.front());
            tmp.reset(block);
            unquantise(b, tmp);
            fillFrom(tmp);
            quantise(tmp, b);
            took = true;
            continue;
        }
        if (blocks_.size() >= limits_.blocks)
            break;
        const std::uint32_t h = pool_.tryAcquireBlock();
        if (h == kNoPiece)
            break;
        tmp.reset(block);
        fillFrom(tmp);
        quantise(tmp, pool_.block(h));
        blocks_.pushFront(h);
        took = true;
    }
    pool_.releaseOpen(scratch);
    if (!took)
        return;
    rawComplete_ = false;
    const StoredSecond& newestRow = seconds[static_cast<std::size_t>(end - 1)];
    if (writtenThrough_ == kNever || newestRow.second > writtenThrough_)
        writtenThrough_ = newestRow.second;
    if (empty()) {
        lastMs_ = newestRow.second * 1000;
        if (newestRow.count > 0) {
            lastNumberMs_ = lastMs_;
            latestValue_ = newestRow.last;
            hasNumbers_ = true;
        }
    }
    for (std::int64_t k = 0; k < end; ++k)
        if (seconds[static_cast<std::size_t>(k)].count > 0)
            hasNumbers_ = true;
}

void SeriesTiers::breakAtFirstNumber()
{
    auto first = [](std::uint64_t present) { return present ? __builtin_ctzll(present) : -1; };
    std::int64_t second = kNever;
    if (!blocks_.empty()) {
        SecondBlock& b = pool_.block(blocks_.front());
        if (const int i = first(b.present); i >= 0) {
            b.broken |= std::uint64_t(1) << i;
            second = b.firstSecond + i;
        }
    } else if (open_ != kNoPiece) {
        OpenBlock& o = pool_.open(open_);
        if (const int i = first(o.present); i >= 0) {
            o.broken |= std::uint64_t(1) << i;
            second = o.firstSecond + i;
        }
    }
    if (!raw_.empty()) {
        RawChunk& c = pool_.raw(raw_.front());
        if (c.count > 0 && floorDiv(c.timeAt(0), 1000) == second)
            c.offsetMs[0] |= RawChunk::kBreakBit;
    }
}

std::int64_t SeriesTiers::rawFirstMs() const
{
    if (raw_.empty())
        return std::numeric_limits<std::int64_t>::max();
    return pool_.raw(raw_.front()).timeAt(0);
}

bool SeriesTiers::rawCovers(std::int64_t t0Ms) const
{
    if (raw_.empty())
        return false;
    return rawComplete_ || rawFirstMs() <= t0Ms;
}

void SeriesTiers::query(std::int64_t t0, std::int64_t t1, int columns, TraceData& out) const
{
    out.clear();
    if (t1 <= t0 || empty())
        return;
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
        out.marks.push_back({m.tMs / 1000.0, m.kind});
    }
    for (std::size_t i = 0; i < texts_.size(); ++i) {
        const Text& x = texts_[i];
        const bool inForce = x.tMs <= t0 && (i + 1 == texts_.size() || texts_[i + 1].tMs > t0);
        if (inForce || (x.tMs > t0 && x.tMs <= t1))
            out.texts.push_back({x.tMs / 1000.0, x.text});
    }
}

void SeriesTiers::queryRaw(std::int64_t t0, std::int64_t t1, int columns, TraceData& out) const
{
    out.tier = Tier::Raw;
    const double colMs = static_cast<double>(t1 - t0) / columns;
    // The sample before the window and the one after it let the line run
    // to the window's edges.
    bool havePrev = false;
    TracePoint prev;
    Column col;
    long colIndex = -1;
    for (std::size_t c = 0; c < raw_.size(); ++c) {
        const RawChunk& chunk = pool_.raw(raw_[c]);
        if (chunk.timeAt(chunk.count - 1) < t0) {
            havePrev = true;
            prev = {chunk.timeAt(chunk.count - 1) / 1000.0, chunk.value[chunk.count - 1]};
            continue;
        }
        for (std::uint32_t i = 0; i < chunk.count; ++i) {
            const std::int64_t t = chunk.timeAt(i);
            const bool lineBreak = chunk.breakAt(i);
            if (t < t0) {
                havePrev = true;
                prev = {t / 1000.0, chunk.value[i]};
                continue;
            }
            if (colIndex < 0 && havePrev && !lineBreak)
                out.points.push_back(prev);
            if (t > t1) {
                col.emitSamples(out.points);
                col = Column{};
                if (colIndex >= 0 || havePrev) {
                    if (lineBreak)
                        out.points.push_back({t / 1000.0, std::numeric_limits<double>::quiet_NaN()});
                    out.points.push_back({t / 1000.0, chunk.value[i]});
                }
                return;
            }
            const auto k = static_cast<long>(static_cast<double>(t - t0) / colMs);
            if (k != colIndex) {
                col.emitSamples(out.points);
                col = Column{};
                colIndex = k;
            }
            col.add(t / 1000.0, chunk.value[i], lineBreak);
        }
    }
    col.emitSamples(out.points);
}

template <class Fn>
void SeriesTiers::forEachSecond(std::int64_t s0, std::int64_t s1, Fn&& fn) const
{
    auto scanBlock = [&](const SecondBlock& b) {
        if (b.firstSecond + kBlock <= s0 || b.firstSecond > s1)
            return;
        for (int i = 0; i < kBlock; ++i) {
            const std::int64_t s = b.firstSecond + i;
            if (s < s0 || s > s1 || !(b.present & (std::uint64_t(1) << i)))
                continue;
            fn(s, decode(b, i), (b.broken & (std::uint64_t(1) << i)) != 0);
        }
    };
    // Blocks are in time order; skip to the first that can reach s0.
    std::size_t lo = 0;
    std::size_t hi = blocks_.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (pool_.block(blocks_[mid]).firstSecond + kBlock <= s0)
            lo = mid + 1;
        else
            hi = mid;
    }
    for (std::size_t k = lo; k < blocks_.size(); ++k) {
        const SecondBlock& b = pool_.block(blocks_[k]);
        if (b.firstSecond > s1)
            return;
        scanBlock(b);
    }
    if (open_ == kNoPiece)
        return;
    const OpenBlock& o = pool_.open(open_);
    for (int i = 0; i < kBlock; ++i) {
        const std::int64_t s = o.firstSecond + i;
        if (s < s0 || s > s1 || !(o.present & (std::uint64_t(1) << i)))
            continue;
        fn(s, Aggregate{o.min[i], o.max[i], o.sum[i] / o.count[i], o.last[i]},
           (o.broken & (std::uint64_t(1) << i)) != 0);
    }
}

void SeriesTiers::querySeconds(std::int64_t t0, std::int64_t t1, int columns, TraceData& out) const
{
    out.tier = Tier::Seconds;
    const double colMs = std::max(1000.0, static_cast<double>(t1 - t0) / columns);
    long colIndex = LONG_MIN;
    double lo = 0, hi = 0, last = 0;
    bool broken = false;
    auto emit = [&] {
        if (colIndex == LONG_MIN)
            return;
        const double t = (static_cast<double>(t0) + (static_cast<double>(colIndex) + 0.5) * colMs) / 1000.0;
        if (broken)
            out.points.push_back({t, kNaN});
        if (lo == hi) {
            out.points.push_back({t, lo});
            return;
        }
        // Ends on the side the column's last value is on, which keeps the
        // line to the next column short.
        const bool endHigh = last >= (lo + hi) / 2;
        out.points.push_back({t, endHigh ? lo : hi});
        out.points.push_back({t, endHigh ? hi : lo});
    };
    forEachSecond(floorDiv(t0, 1000), floorDiv(t1, 1000), [&](std::int64_t s, const Aggregate& a, bool lineBreak) {
        const double centre = static_cast<double>(s * 1000 + 500);
        const auto k = static_cast<long>(std::floor((centre - static_cast<double>(t0)) / colMs));
        if (k != colIndex) {
            emit();
            colIndex = k;
            lo = a.min;
            hi = a.max;
            broken = lineBreak;
        } else {
            lo = std::min(lo, a.min);
            hi = std::max(hi, a.max);
            broken = broken || lineBreak;
        }
        last = a.last;
    });
    emit();
}

void SeriesTiers::exportSamples(std::int64_t t0, std::int64_t t1, std::vector<ExportSample>& out,
                                std::vector<std::string>& texts) const
{
    const std::size_t from = out.size();
    if (rawCovers(t0)) {
        for (std::size_t c = 0; c < raw_.size(); ++c) {
            const RawChunk& chunk = pool_.raw(raw_[c]);
            for (std::uint32_t i = 0; i < chunk.count; ++i) {
                const std::int64_t t = chunk.timeAt(i);
                if (t >= t0 && t <= t1)
                    out.push_back({.tMs = t, .kind = SampleKind::Number, .value = chunk.value[i]});
            }
        }
    } else {
        forEachSecond(floorDiv(t0, 1000), floorDiv(t1, 1000), [&](std::int64_t s, const Aggregate& a, bool) {
            if (s * 1000 >= t0)
                out.push_back({.tMs = s * 1000, .kind = SampleKind::Number, .value = a.mean});
        });
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

std::optional<LatestSample> SeriesTiers::latest() const
{
    if (empty())
        return std::nullopt;
    LatestSample s;
    s.t = lastMs_ / 1000.0;
    s.kind = latestKind_;
    s.number = latestValue_;
    if (latestKind_ == SampleKind::Text && !texts_.empty())
        s.text = texts_.back().text;
    return s;
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
