#include "history/HistoryDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>

namespace fieldmon::history {

namespace {

constexpr int kSchemaVersion = 1;
constexpr int kBusyMs = 200;

// Statements finalised when they go out of scope.
struct Statement {
    sqlite3_stmt* s = nullptr;
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &s, nullptr); }
    ~Statement() { sqlite3_finalize(s); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return s != nullptr; }
};

// Failures that lose one batch but leave the file as it was: the disk is
// full, or a write failed (and may not fail next time).
bool losesOnlyTheBatch(int rc)
{
    const int base = rc & 0xff;
    return base == SQLITE_FULL || base == SQLITE_IOERR;
}

void bindOrNull(sqlite3_stmt* s, int i, bool null, double v)
{
    if (null)
        sqlite3_bind_null(s, i);
    else
        sqlite3_bind_double(s, i, v);
}

StoredSecond readRow(sqlite3_stmt* s, std::int64_t shift)
{
    // Columns: t, wall_offset_ms, n, min, max, mean, last, flags.
    StoredSecond r;
    r.second = sqlite3_column_int64(s, 0) - shift;
    r.wallMs = sqlite3_column_int64(s, 1) + sqlite3_column_int64(s, 0) * 1000;
    r.count = static_cast<std::uint32_t>(sqlite3_column_int64(s, 2));
    r.flags = static_cast<std::uint32_t>(sqlite3_column_int64(s, 7));
    if (r.count == 0)
        return r;
    r.min = sqlite3_column_double(s, 3);
    auto orMin = [&](int col) { return sqlite3_column_type(s, col) == SQLITE_NULL ? r.min : sqlite3_column_double(s, col); };
    r.max = orMin(4);
    r.mean = orMin(5);
    r.last = orMin(6);
    return r;
}

} // namespace

HistoryDatabase::HistoryDatabase(Settings settings, std::shared_ptr<const SeriesNames> names)
    : settings_(std::move(settings)), names_(std::move(names))
{
}

HistoryDatabase::~HistoryDatabase() { close(); }

void HistoryDatabase::close()
{
    sqlite3_finalize(insertSecond_);
    sqlite3_finalize(insertSeries_);
    sqlite3_finalize(selectSeries_);
    insertSecond_ = insertSeries_ = selectSeries_ = nullptr;
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
    ids_.clear();
}

HistoryDatabase::Outcome HistoryDatabase::fail(int rc, const char* what)
{
    Outcome o;
    o.status = losesOnlyTheBatch(rc) ? Status::BatchLost : Status::Unusable;
    const int base = rc & 0xff;
    if (base == SQLITE_BUSY || base == SQLITE_LOCKED)
        o.reason = "it is locked by another program";
    else if (base == SQLITE_NOTADB || base == SQLITE_CORRUPT)
        o.reason = "the file is damaged or not a history database";
    else if (base == SQLITE_FULL)
        o.reason = "the disk is full";
    else
        o.reason = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    if (o.status == Status::Unusable)
        close();
    return o;
}

HistoryDatabase::Outcome HistoryDatabase::failOpen(int rc, const char* what)
{
    // Whatever stops the opening makes the file unusable for this run.
    Outcome o = fail(rc, what);
    o.status = Status::Unusable;
    close();
    return o;
}

bool HistoryDatabase::exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

HistoryDatabase::Outcome HistoryDatabase::open(std::int64_t startSecond)
{
    int rc = sqlite3_open_v2(settings_.path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK)
        return failOpen(rc, "cannot open it");
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyMs);
    // The schema in one write transaction: taking the write lock here (and,
    // in exclusive mode, keeping it) is what tells a second app the file
    // is in use.
    const char* setup = "PRAGMA locking_mode = EXCLUSIVE;"
                        "PRAGMA journal_mode = WAL;"
                        "PRAGMA synchronous = NORMAL;"
                        "PRAGMA journal_size_limit = 4194304;"
                        "BEGIN IMMEDIATE;"
                        "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;"
                        "CREATE TABLE IF NOT EXISTS series(id INTEGER PRIMARY KEY, serial INTEGER NOT NULL,"
                        " name TEXT NOT NULL, UNIQUE(serial, name));"
                        "CREATE TABLE IF NOT EXISTS seconds(series INTEGER NOT NULL, t INTEGER NOT NULL,"
                        " wall_offset_ms INTEGER NOT NULL, n INTEGER NOT NULL, min REAL, max REAL, mean REAL,"
                        " last REAL, flags INTEGER NOT NULL, PRIMARY KEY(t, series)) WITHOUT ROWID;"
                        "INSERT OR IGNORE INTO meta VALUES('schema', 1);"
                        "COMMIT;";
    char* message = nullptr;
    rc = sqlite3_exec(db_, setup, nullptr, nullptr, &message);
    sqlite3_free(message);
    if (rc != SQLITE_OK) {
        return failOpen(rc, "cannot set it up");
    }
    {
        Statement version(db_, "SELECT value FROM meta WHERE key = 'schema'");
        rc = version ? sqlite3_step(version.s) : sqlite3_errcode(db_);
        if (rc != SQLITE_ROW)
            return failOpen(rc, "cannot read it");
        if (sqlite3_column_int(version.s, 0) != kSchemaVersion) {
            close();
            return {Status::Unusable, "it was written by another version"};
        }
        Statement last(db_, "SELECT value FROM meta WHERE key = 'last_t'");
        rc = last ? sqlite3_step(last.s) : sqlite3_errcode(db_);
        if (rc == SQLITE_ROW)
            shift_ = std::max<std::int64_t>(0, sqlite3_column_int64(last.s, 0) + 1 - startSecond);
        else if (rc != SQLITE_DONE)
            return failOpen(rc, "cannot read it");
    }
    // The hard limit: 10 % above the cap, so upkeep trims before it bites.
    {
        Statement pageSize(db_, "PRAGMA page_size");
        if (pageSize && sqlite3_step(pageSize.s) == SQLITE_ROW) {
            const auto bytes = static_cast<std::uint64_t>(sqlite3_column_int64(pageSize.s, 0));
            const std::uint64_t pages = std::max<std::uint64_t>(16, settings_.sizeCap / bytes * 11 / 10);
            const std::string sql = "PRAGMA max_page_count = " + std::to_string(pages);
            exec(sql.c_str());
        }
    }
    insertSecond_ = prepare("INSERT OR REPLACE INTO seconds VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    insertSeries_ = prepare("INSERT OR IGNORE INTO series(serial, name) VALUES(?1, ?2)");
    selectSeries_ = prepare("SELECT id FROM series WHERE serial = ?1 AND name = ?2");
    if (!insertSecond_ || !insertSeries_ || !selectSeries_)
        return failOpen(sqlite3_errcode(db_), "cannot prepare its statements");
    return {};
}

sqlite3_stmt* HistoryDatabase::prepare(const char* sql)
{
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    return s;
}

std::int64_t HistoryDatabase::seriesId(std::uint32_t key, bool& ok)
{
    ok = true;
    if (auto it = ids_.find(key); it != ids_.end())
        return it->second;
    SeriesNames::Name name;
    if (!names_->lookup(key, name)) {
        ok = false; // cannot happen: keys come from the same table
        return 0;
    }
    for (sqlite3_stmt* s : {insertSeries_, selectSeries_}) {
        sqlite3_reset(s);
        sqlite3_bind_int64(s, 1, name.serial);
        sqlite3_bind_text(s, 2, name.name.data(), static_cast<int>(name.name.size()), SQLITE_STATIC);
    }
    int rc = sqlite3_step(insertSeries_);
    sqlite3_reset(insertSeries_);
    if (rc != SQLITE_DONE) {
        ok = false;
        return rc;
    }
    rc = sqlite3_step(selectSeries_);
    if (rc != SQLITE_ROW) {
        sqlite3_reset(selectSeries_);
        ok = false;
        return rc;
    }
    const std::int64_t id = sqlite3_column_int64(selectSeries_, 0);
    sqlite3_reset(selectSeries_);
    ids_.emplace(key, id);
    return id;
}

HistoryDatabase::Outcome HistoryDatabase::write(const Batch& batch)
{
    if (!db_)
        return {Status::Unusable, "it is not open"};
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return fail(rc, "cannot begin a batch");
    auto rollback = [&](int code, const char* what) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        ids_.clear(); // series rows of this batch are gone with it
        Outcome o = fail(code, what);
        // At the hard page limit only deleting makes room again.
        if (o.status == Status::BatchLost && usedBytes() > settings_.sizeCap * 9 / 10)
            trimToCap(batch.nowSecond + shift_);
        return o;
    };
    std::int64_t newest = INT64_MIN;
    for (const DiskRow& row : batch.rows) {
        bool ok = false;
        const std::int64_t id = seriesId(row.key, ok);
        if (!ok)
            return rollback(static_cast<int>(id), "cannot add a series");
        const StoredSecond& s = row.second;
        const std::int64_t t = s.second + shift_;
        newest = std::max(newest, t);
        sqlite3_stmt* st = insertSecond_;
        sqlite3_reset(st);
        sqlite3_bind_int64(st, 1, id);
        sqlite3_bind_int64(st, 2, t);
        sqlite3_bind_int64(st, 3, s.wallMs - s.second * 1000);
        sqlite3_bind_int64(st, 4, s.count);
        const bool none = s.count == 0;
        bindOrNull(st, 5, none, s.min);
        bindOrNull(st, 6, none || s.max == s.min, s.max);
        bindOrNull(st, 7, none || s.mean == s.min, s.mean);
        bindOrNull(st, 8, none || s.last == s.min, s.last);
        sqlite3_bind_int64(st, 9, s.flags);
        rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc != SQLITE_DONE)
            return rollback(rc, "cannot write a second");
    }
    if (newest != INT64_MIN) {
        Statement last(db_, "INSERT OR REPLACE INTO meta VALUES('last_t', MAX(?1, COALESCE((SELECT value FROM meta "
                            "WHERE key = 'last_t'), ?1)))");
        sqlite3_bind_int64(last.s, 1, newest);
        rc = sqlite3_step(last.s);
        if (rc != SQLITE_DONE)
            return rollback(rc, "cannot write a batch");
    }
    const std::int64_t nowT = batch.nowSecond + shift_;
    if (lastUpkeep_ == INT64_MIN || nowT - lastUpkeep_ >= 60) {
        lastUpkeep_ = nowT;
        if (!deleteBefore(nowT - settings_.keepSeconds))
            return rollback(sqlite3_errcode(db_), "cannot delete old seconds");
    }
    rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return rollback(rc, "cannot commit a batch");
    if (usedBytes() > settings_.sizeCap && !trimToCap(nowT))
        return fail(sqlite3_errcode(db_), "cannot trim it to its size");
    return {};
}

bool HistoryDatabase::deleteBefore(std::int64_t t)
{
    Statement del(db_, "DELETE FROM seconds WHERE t < ?1");
    if (!del)
        return false;
    sqlite3_bind_int64(del.s, 1, t);
    return sqlite3_step(del.s) == SQLITE_DONE;
}

bool HistoryDatabase::trimToCap(std::int64_t nowT)
{
    for (int round = 0; round < 64 && usedBytes() > settings_.sizeCap * 9 / 10; ++round) {
        Statement min(db_, "SELECT MIN(t) FROM seconds");
        if (!min || sqlite3_step(min.s) != SQLITE_ROW || sqlite3_column_type(min.s, 0) == SQLITE_NULL)
            return true; // nothing left to give
        const std::int64_t oldest = sqlite3_column_int64(min.s, 0);
        const std::int64_t cut = oldest + std::max<std::int64_t>(60, (nowT - oldest) / 8);
        if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            return false;
        if (!deleteBefore(cut) || sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return false;
        }
    }
    return true;
}

std::uint64_t HistoryDatabase::usedBytes()
{
    if (!db_)
        return 0;
    auto pragma = [&](const char* sql) -> std::int64_t {
        Statement s(db_, sql);
        return s && sqlite3_step(s.s) == SQLITE_ROW ? sqlite3_column_int64(s.s, 0) : 0;
    };
    const std::int64_t pages = pragma("PRAGMA page_count") - pragma("PRAGMA freelist_count");
    return static_cast<std::uint64_t>(std::max<std::int64_t>(0, pages) * pragma("PRAGMA page_size"));
}

HistoryDatabase::Outcome HistoryDatabase::read(std::int32_t serial, const std::string& name, std::int64_t fromSecond,
                                               std::int64_t toSecond, std::vector<StoredSecond>& out)
{
    if (!db_)
        return {Status::Unusable, "it is not open"};
    Statement s(db_, "SELECT t, wall_offset_ms, n, min, max, mean, last, flags FROM seconds WHERE t >= ?3 AND t <= ?4"
                     " AND series = (SELECT id FROM series WHERE serial = ?1 AND name = ?2) ORDER BY t");
    if (!s)
        return fail(sqlite3_errcode(db_), "cannot read it");
    sqlite3_bind_int64(s.s, 1, serial);
    sqlite3_bind_text(s.s, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_int64(s.s, 3, fromSecond <= INT64_MIN / 2 ? fromSecond : fromSecond + shift_);
    sqlite3_bind_int64(s.s, 4, toSecond >= INT64_MAX / 2 ? toSecond : toSecond + shift_);
    int rc;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW)
        out.push_back(readRow(s.s, shift_));
    if (rc != SQLITE_DONE)
        return fail(rc, "cannot read it");
    return {};
}

HistoryDatabase::Outcome HistoryDatabase::load(std::int32_t serial, std::int64_t fromSecond,
                                               std::vector<LoadedSeries>& out)
{
    if (!db_)
        return {Status::Unusable, "it is not open"};
    // One pass along the time key over the span; the rows of other devices
    // are skipped. Seconds come oldest first, so each series' list is in order.
    Statement s(db_, "SELECT t, wall_offset_ms, n, min, max, mean, last, flags, series FROM seconds"
                     " WHERE t >= ?2 AND series IN (SELECT id FROM series WHERE serial = ?1) ORDER BY t");
    Statement names(db_, "SELECT id, name FROM series WHERE serial = ?1");
    if (!s || !names)
        return fail(sqlite3_errcode(db_), "cannot read it");
    std::unordered_map<std::int64_t, std::size_t> where; // series.id → index in out
    const std::size_t first = out.size();
    sqlite3_bind_int64(names.s, 1, serial);
    int rc;
    while ((rc = sqlite3_step(names.s)) == SQLITE_ROW) {
        where.emplace(sqlite3_column_int64(names.s, 0), out.size());
        out.push_back({std::string(reinterpret_cast<const char*>(sqlite3_column_text(names.s, 1)),
                                   static_cast<std::size_t>(sqlite3_column_bytes(names.s, 1))),
                       {}});
    }
    if (rc != SQLITE_DONE)
        return fail(rc, "cannot read it");
    sqlite3_bind_int64(s.s, 1, serial);
    sqlite3_bind_int64(s.s, 2, fromSecond + shift_);
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW) {
        auto it = where.find(sqlite3_column_int64(s.s, 8));
        if (it != where.end())
            out[it->second].seconds.push_back(readRow(s.s, shift_));
    }
    if (rc != SQLITE_DONE)
        return fail(rc, "cannot read it");
    out.erase(std::remove_if(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
                             [](const LoadedSeries& l) { return l.seconds.empty(); }),
              out.end());
    return {};
}

} // namespace fieldmon::history
