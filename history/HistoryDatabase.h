#pragma once
// The history on disk: one SQLite file of one-second aggregates, written in
// batches by the storage thread.
//
// Schema (version 1):
//
//   PRAGMA locking_mode = EXCLUSIVE;  -- one app writes it; a second one finds it locked
//   PRAGMA journal_mode = WAL;        -- a batch appends to the log; readers never block it
//   PRAGMA synchronous = NORMAL;      -- a power cut may lose the last batches, never the file
//
//   CREATE TABLE meta(
//     key   TEXT PRIMARY KEY,
//     value INTEGER NOT NULL
//   ) WITHOUT ROWID;                  -- 'schema' = 1; 'last_t' = newest second written
//
//   CREATE TABLE series(
//     id     INTEGER PRIMARY KEY,
//     serial INTEGER NOT NULL,        -- the device's serial number
//     name   TEXT NOT NULL,           -- the variable: "flow", "pump.rpm", "level[3]"
//     UNIQUE(serial, name)
//   );
//
//   CREATE TABLE seconds(
//     series         INTEGER NOT NULL,  -- series.id
//     t              INTEGER NOT NULL,  -- timeline second (see below)
//     wall_offset_ms INTEGER NOT NULL,  -- wall clock at the second's start, in ms, minus t × 1000
//     n              INTEGER NOT NULL,  -- numbers received in the second
//     min  REAL,                        -- NULL when n = 0
//     max  REAL,                        -- max, mean, last: NULL when equal to min
//     mean REAL,
//     last REAL,
//     flags INTEGER NOT NULL,           -- bit 0: the line breaks before this second;
//                                       -- bits 1..6: a text, error, NaN, +inf, −inf, huge value arrived
//     PRIMARY KEY(t, series)
//   ) WITHOUT ROWID;
//
// The key leads with time so that a batch (every series' newest second)
// lands at the end of one B-tree: a transaction writes a few pages, not a
// page per series, and dropping the oldest seconds is one range delete.
// Reading one device's day back is one pass over that day's rows.
//
// Timeline seconds read like Unix time but never go back: a run whose
// clock starts before the newest second on disk is shifted forward past it
// (`shift`), so keys never collide and order is kept across runs, whatever
// the wall clock did. Labels come from wall_offset_ms.
//
// Upkeep: seconds older than the kept span (7 days by default) are deleted
// once a minute, in a batch's own transaction; when the file's pages in use
// pass the size cap, the oldest seconds go first, an eighth of the span at
// a time, until it is below 90 % of the cap. A hard page limit 10 % above
// the cap stops a runaway batch (the batch is lost, then the trim runs).
//
// Failures: a file that is not a database, is damaged or is locked by
// another program makes the database unusable (the store keeps its history
// in memory); a full disk or a failed write loses one batch, which is
// rolled back whole, and the next batch tries again.
//
// Thread rule: storage thread only (made on any thread; every call after
// that on the storage thread).

#include "history/HistoryTypes.h"
#include "history/SeriesNames.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace fieldmon::history {

class HistoryDatabase {
public:
    struct Settings {
        std::string path;
        std::int64_t keepSeconds = 7 * 86'400;
        std::uint64_t sizeCap = 256ull << 20;
    };

    enum class Status {
        Ok,
        Unusable, // not a database, damaged, locked, cannot be created: never again this run
        BatchLost, // the disk (or the hard page limit) is full, or a write failed: this batch is lost
    };
    struct Outcome {
        Status status = Status::Ok;
        std::string reason; // for a diagnostic line, when not Ok
    };

    struct Batch {
        std::vector<DiskRow> rows;
        std::int64_t nowSecond = 0; // timeline, for the upkeep
    };

    struct LoadedSeries {
        std::string name;
        std::vector<StoredSecond> seconds; // oldest first
    };

    HistoryDatabase(Settings settings, std::shared_ptr<const SeriesNames> names);
    ~HistoryDatabase();

    HistoryDatabase(const HistoryDatabase&) = delete;
    HistoryDatabase& operator=(const HistoryDatabase&) = delete;

    // Opens (or makes) the file and takes its lock. `startSecond` is the
    // timeline second the run began at.
    Outcome open(std::int64_t startSecond);
    bool usable() const { return db_ != nullptr; }

    Outcome write(const Batch& batch);

    // The seconds of every series of `serial` from `fromSecond` on. An empty
    // list when there are none; Unusable when reading found the file damaged.
    Outcome load(std::int32_t serial, std::int64_t fromSecond, std::vector<LoadedSeries>& out);
    // One series' seconds in [fromSecond, toSecond].
    Outcome read(std::int32_t serial, const std::string& name, std::int64_t fromSecond, std::int64_t toSecond,
                 std::vector<StoredSecond>& out);

    // Pages in use × page size: what the cap limits.
    std::uint64_t usedBytes();
    std::int64_t shift() const { return shift_; }

private:
    Outcome fail(int rc, const char* what);
    Outcome failOpen(int rc, const char* what);
    bool exec(const char* sql);
    sqlite3_stmt* prepare(const char* sql);
    std::int64_t seriesId(std::uint32_t key, bool& ok);
    bool deleteBefore(std::int64_t t);
    bool trimToCap(std::int64_t nowT);
    void close();

    Settings settings_;
    std::shared_ptr<const SeriesNames> names_;
    sqlite3* db_ = nullptr;
    std::int64_t shift_ = 0;
    std::int64_t lastUpkeep_ = INT64_MIN;
    std::unordered_map<std::uint32_t, std::int64_t> ids_; // series keys → series.id
    sqlite3_stmt* insertSecond_ = nullptr;
    sqlite3_stmt* insertSeries_ = nullptr;
    sqlite3_stmt* selectSeries_ = nullptr;
};

} // namespace fieldmon::history
