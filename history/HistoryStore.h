#pragma once
// The history of every value that arrives from the devices: series keyed by
// (device serial, variable name), kept in memory tiers (raw samples for ten
// minutes, one-second aggregates for a day; see SeriesTiers) and, when a
// database path and a storage thread are given, on disk for a week (see
// HistoryDatabase for the schema).
//
// Feeding it (the reply path, once per value that arrived):
//
//   auto id = store.series(serial, "pump.rpm");      // once; cache it
//   store.append(id, loop.now(), wallSeconds, value); // each reply
//
// or store.append(serial, name, ...) which looks the series up each time.
// `mono` must be the main loop's clock (MainLoop::now()); `wall` is the
// wall clock (seconds since 1970, UTC) read at the same moment. Numbers,
// texts (kept only when they change), errors, NaN, ±inf and huge values
// are all appended; only numbers are drawn as numbers (HistoryTypes.h).
//
// Reading it (the trend screen): series' times are timeline seconds
// (HistoryTypes.h); now() is the timeline's present, wallAt(t) its label.
// query() decimates to at most two points per pixel column; seriesOf()
// lists what a device has; exportSamples() gives every sample for a CSV.
//
// Bounds: at most maxSeriesPerDevice series per device; a new one beyond
// that evicts the device's series that was appended to longest ago. All
// series share one memory budget; when it is spent, a series that already
// has pieces recycles its own oldest ones, and a series that has none
// evicts the series, of any device, appended to longest ago. Evicted series
// keep what went to disk. Their handles go stale: append() with a stale
// handle returns false, and series() gives a new handle.
//
// Every second (a timer on the main loop) the numbers that came are folded
// into the one-second aggregates, off the reply path.
//
// Disk: the database is opened on the storage thread. Every second the
// seconds that ended go to the storage thread as one batch, one
// transaction; a batch the queue has no room for is
// dropped and counted. When the file cannot be used (damaged, not a
// database, locked by another program), the store says so once through
// `diagnostic` and keeps its history in memory. loadDevice() reads a
// device's last day back (after a restart), asynchronously.
//
// Destroying the store hands the last seconds, up to the present one, to
// the storage thread; stop the storage thread (Drain) after the store to
// have them written.
//
// Thread rule: main thread only. The store's own jobs run on the storage
// thread and come back through MainLoop::post, guarded by a token the
// destructor drops, so they are ignored once the store is gone.

#include "history/ChunkPool.h"
#include "history/ClockSegments.h"
#include "history/HistoryDatabase.h"
#include "history/HistoryTypes.h"
#include "history/SeriesNames.h"
#include "history/SeriesTiers.h"
#include "platform/MainLoop.h"
#include "platform/StorageThread.h"
#include "variables/Value.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace fieldmon::history {

struct HistoryOptions {
    std::size_t maxSeriesPerDevice = 1000;
    std::size_t memoryBudget = 128u << 20;
    std::size_t rawSamples = 6000;      // per series: ten minutes at 10 Hz
    double rawSeconds = 600;
    double memorySeconds = 86'400;      // the one-second aggregates kept in memory

    std::string databasePath;           // empty: memory only
    double diskSeconds = 7 * 86'400;
    std::uint64_t databaseCap = 256ull << 20;
    std::size_t queueCapacity = 8;      // batches waiting for the storage thread

    // Where the store's diagnostic lines go; standard output when empty.
    std::function<void(const std::string&)> diagnostic;
};

// Two readings of the clocks taken together.
struct ClockReading {
    double mono = 0; // MainLoop::now()
    double wall = 0; // seconds since 1970, UTC
};

class HistoryStore {
public:
    enum class DiskState {
        None,       // no database asked for
        Opening,
        Open,
        MemoryOnly, // the database could not be used; history stays in memory
    };

    struct Stats {
        std::size_t series = 0;
        std::uint64_t evicted = 0;        // series evicted so far
        std::uint64_t samplesLost = 0;    // appends that found no memory, or a stale handle
        std::size_t memoryBytes = 0;      // pieces (free ones included) and series bookkeeping
        std::uint64_t batchesWritten = 0;
        std::uint64_t batchesLost = 0;    // refused by a full queue, or failed on disk
        std::uint64_t secondsWritten = 0; // rows
        DiskState disk = DiskState::None;
    };

    // `storage` may be null (no disk). The clock reading fixes the timeline.
    HistoryStore(platform::MainLoop& loop, platform::StorageThread* storage, HistoryOptions options,
                 ClockReading start);
    ~HistoryStore();

    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Finds or makes the series (a new one may evict another, see above).
    SeriesId series(std::int32_t serial, std::string_view name);
    std::optional<SeriesId> find(std::int32_t serial, std::string_view name) const;

    // False when the handle is stale or no memory was left for the sample.
    // A Value that is nothing (ValueKind::None) is not a sample: ignored.
    bool append(SeriesId id, double mono, double wall, const Value& value);
    // The reply path's cost: inline, and it only writes the sample into the
    // series' raw ring (the second tier catches up once a second, or when
    // read). Times before 1970 (a negative timeline) are not supported.
    bool appendNumber(SeriesId id, double mono, double wall, double value)
    {
        if (id.slot >= slots_.size() || slots_[id.slot].generation != id.generation)
            return lost();
        const double t = mono + anchor_;
        if (!(std::fabs(wall - t - wallOffset_) <= kClockJumpSeconds))
            noteClockJump(t, wall);
        const auto tMs = static_cast<std::int64_t>(t * 1000.0 + 0.5);
        if (!(std::fabs(value) < kHugeMagnitude))
            return appendOther(id.slot, tMs, classifyNumber(value), value, {});
        return slots_[id.slot].tiers->appendNumber(tMs, value) || lost();
    }
    bool appendText(SeriesId id, double mono, double wall, std::string_view text);
    bool appendError(SeriesId id, double mono, double wall);
    bool append(std::int32_t serial, std::string_view name, double mono, double wall, const Value& value);

    // Points of the window [from, to] (timeline seconds) for a plot
    // `columns` pixels wide; empty for a stale handle.
    // (Reading catches the series' second tier up first, hence not const.)
    void query(SeriesId id, double from, double to, int columns, TraceData& out);
    std::optional<LatestSample> latest(SeriesId id) const;
    void exportSamples(SeriesId id, double from, double to, std::vector<ExportSample>& out,
                       std::vector<std::string>& texts);
    std::vector<SeriesInfo> seriesOf(std::int32_t serial) const;
    // The series' name, or empty for a stale handle.
    std::string nameOf(SeriesId id) const;

    double timeline(double mono) const { return mono + anchor_; }
    double now() const { return timeline(loop_.now()); }
    double wallAt(double t) const;

    // Reads the device's last day from disk and merges it in front of what
    // memory holds, when it arrives; `done` (optional) runs on the main
    // thread then, with the number of series that came back.
    void loadDevice(std::int32_t serial, std::function<void(std::size_t)> done = {});

    // Folds the numbers that came since into the seconds of every series,
    // and hands the seconds that ended (all of them, the present one
    // included, when `everything`) to the storage thread. The store's 1 s
    // timer calls it.
    void flush(bool everything = false);

    // Runs `job` on the storage thread with the database (null when there
    // is none or it is unusable), in line after the batches queued before.
    // False when there is no storage thread or its queue had no room.
    bool onStorage(std::function<void(HistoryDatabase*)> job);
    bool hasStorage() const { return queue_.has_value(); }
    platform::MainLoop& loop() const { return loop_; }

    Stats stats() const;
    DiskState diskState() const { return disk_; }

private:
    // A free slot has no `tiers` and a generation no handle carries. The
    // tiers live in the table itself: the reply path reads one slot.
    struct Slot {
        std::uint32_t generation = 0;
        std::optional<SeriesTiers> tiers;
        std::int32_t serial = 0;
        std::uint32_t key = 0; // SeriesNames key
        std::string name;
    };
    static constexpr double kClockJumpSeconds = ClockSegments::kJumpMs / 1000.0;
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(const std::pair<std::int32_t, std::string_view>& k) const;
        std::size_t operator()(const std::pair<std::int32_t, std::string>& k) const
        {
            return (*this)(std::pair<std::int32_t, std::string_view>(k.first, k.second));
        }
    };
    struct KeyEqual {
        using is_transparent = void;
        template <class A, class B>
        bool operator()(const A& a, const B& b) const
        {
            return a.first == b.first && std::string_view(a.second) == std::string_view(b.second);
        }
    };

    Slot* resolve(SeriesId id);
    const Slot* resolve(SeriesId id) const;
    std::uint32_t makeSeries(std::int32_t serial, std::string_view name);
    void evict(std::uint32_t slot);
    bool reclaim(const void* asker);
    RowCollector collector(const Slot& s);
    bool lost()
    {
        ++samplesLost_;
        return false;
    }
    bool appendOther(std::uint32_t slot, std::int64_t tMs, SampleKind kind, double v, std::string_view text);
    void noteClockJump(double t, double wall);
    std::int64_t toMs(double mono) const;
    void noteWall(std::int64_t tMs, double wall);
    void scheduleFlush();
    void pushBatch(std::int64_t nowSecond);
    void say(const std::string& line);
    void diskUnusable(const std::string& reason);
    void merge(std::int32_t serial, std::vector<HistoryDatabase::LoadedSeries>& loaded);

    // Counters the storage thread's jobs update.
    struct DiskCounters {
        std::atomic<std::uint64_t> written{0};
        std::atomic<std::uint64_t> lost{0};
        std::atomic<std::uint64_t> seconds{0};
    };

    platform::MainLoop& loop_;
    platform::StorageThread* storage_;
    HistoryOptions options_;
    TierLimits limits_;
    double anchor_; // timeline = mono + anchor_
    double wallOffset_ = 0; // wall − timeline of the newest clock segment
    ClockSegments clock_;
    ChunkPool pool_;
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> freeSlots_;
    std::unordered_map<std::pair<std::int32_t, std::string>, std::uint32_t, KeyHash, KeyEqual> index_;
    std::unordered_map<std::int32_t, std::vector<std::uint32_t>> devices_;
    std::vector<DiskRow> pending_;
    std::shared_ptr<SeriesNames> names_;
    std::shared_ptr<HistoryDatabase> db_;
    std::shared_ptr<DiskCounters> counters_;
    std::optional<platform::StorageThread::QueueId> queue_;
    DiskState disk_ = DiskState::None;
    bool saidUnusable_ = false;
    bool saidLost_ = false;
    std::uint64_t batchesRefused_ = 0;
    std::uint64_t evicted_ = 0;
    std::uint64_t samplesLost_ = 0;
    std::optional<platform::MainLoop::TimerId> timer_;
    std::shared_ptr<HistoryStore*> self_; // posted callbacks hold it weakly
};

} // namespace fieldmon::history
