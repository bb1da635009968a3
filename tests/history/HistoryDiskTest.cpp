// The history on disk, with the real storage thread: a restart shows
// yesterday, damaged and locked files, a disk that fills during a batch,
// the week kept and the size cap.

#include "history/CsvExport.h"
#include "history/HistoryStore.h"
#include "support/ManualLoop.h"
#include "platform/StorageThread.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>

using namespace fieldmon;
using namespace fieldmon::history;

namespace {

constexpr double kWall = 1'700'000'000.0;

std::string tempFolder()
{
    std::string dir = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/historyXXXXXX");
    if (!mkdtemp(dir.data()))
        return {};
    return dir;
}

std::vector<std::string> filesIn(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.' || (std::string(e->d_name) != "." && std::string(e->d_name) != ".."))
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A run of the app: a main loop on a virtual clock, the storage thread and
// the store, with the diagnostic lines kept.
struct AppRun {
    platform::ManualLoop loop;
    platform::StorageThread storage;
    std::vector<std::string> said;
    std::unique_ptr<HistoryStore> store;
    double monoAtStart;
    double wallAtStart;

    AppRun(const std::string& path, double mono, double wall, HistoryOptions o = {})
        : loop(mono), monoAtStart(mono), wallAtStart(wall)
    {
        o.databasePath = path;
        o.diagnostic = [this](const std::string& line) { said.push_back(line); };
        store = std::make_unique<HistoryStore>(loop, &storage, std::move(o), ClockReading{mono, wall});
        settle();
    }
    ~AppRun()
    {
        store.reset();
        storage.stop(platform::StorageThread::Shutdown::Drain);
    }
    // Lets the storage thread finish and hands its answers to the main thread.
    void settle()
    {
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(storage.waitIdle(20));
            loop.runPending();
        }
    }
    // `seconds` of samples, every series once a second, the clocks moving
    // together; the store's timer flushes as the loop advances.
    void feed(const std::vector<SeriesId>& ids, int seconds, const std::function<double(int, int)>& value)
    {
        for (int s = 0; s < seconds; ++s) {
            for (std::size_t k = 0; k < ids.size(); ++k) {
                const double mono = loop.now();
                store->appendNumber(ids[k], mono, wallAtStart + (mono - monoAtStart), value(s, static_cast<int>(k)));
            }
            loop.advance(1.0);
            // Real time would give the storage thread its second; virtual
            // time waits for it, so that the queue never overflows here.
            EXPECT_TRUE(storage.waitIdle(20));
        }
    }
};

TEST(HistoryDisk, RestartShowsYesterday)
{
    const std::string dir = tempFolder();
    ASSERT_FALSE(dir.empty());
    const std::string path = dir + "/history.db";
    {
        AppRun first(path, 500.0, kWall);
        EXPECT_EQ(first.store->diskState(), HistoryStore::DiskState::Open);
        auto flow = first.store->series(1207, "flow");
        auto mode = first.store->series(1207, "pump.mode");
        first.feed({flow, mode}, 600, [](int s, int k) { return k == 0 ? s * 0.5 : s % 7; });
        first.settle();
        auto st = first.store->stats();
        // At most one transaction a second.
        EXPECT_GE(st.batchesWritten, 590u);
        EXPECT_LE(st.batchesWritten, 601u);
        EXPECT_EQ(st.batchesLost, 0u);
    } // the last seconds go with the store; the storage thread drains

    // Twenty hours later, after a reboot: the monotonic clock starts again.
    AppRun second(path, 3.0, kWall + 20 * 3600);
    auto fresh = second.store->series(1207, "flow"); // the reply path got there first
    second.store->appendNumber(fresh, 3.0, kWall + 20 * 3600, 99);
    std::size_t came = 0;
    second.store->loadDevice(1207, [&](std::size_t n) { came = n; });
    second.settle();
    EXPECT_EQ(came, 2u);
    auto infos = second.store->seriesOf(1207);
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].name, "flow");
    EXPECT_NEAR(infos[0].first, kWall, 1);

    TraceData d;
    const double now = second.store->now();
    second.store->query(fresh, now - 86'400, now, 320, d);
    EXPECT_EQ(d.tier, Tier::Seconds);
    ASSERT_GE(d.points.size(), 3u);
    EXPECT_NEAR(d.points.front().t, kWall, 300);
    EXPECT_NEAR(d.points.front().v, 0, 0.01);
    // Yesterday's 0..299.5, a gap of twenty hours, then today's 99.
    double top = 0;
    for (const TracePoint& p : d.points)
        if (p.t < kWall + 3600)
            top = std::max(top, p.v);
    EXPECT_NEAR(top, 299.5, 0.01);
    EXPECT_TRUE(std::isnan(d.points[d.points.size() - 2].v));
    EXPECT_EQ(d.points.back().v, 99);
    EXPECT_NEAR(second.store->wallAt(kWall + 100), kWall + 100, 1e-3);
    EXPECT_TRUE(second.said.empty());
}

TEST(HistoryDisk, DamagedOrLockedFileKeepsHistoryInMemoryAndSaysSoOnce)
{
    struct Case {
        const char* story;
        std::function<void(const std::string& path, sqlite3** holder)> prepare;
        const char* reason;
    };
    const Case cases[] = {
        {"not a database",
         [](const std::string& path, sqlite3**) {
             std::ofstream(path) << std::string(8192, 'x');
         },
         "damaged"},
        {"a database whose pages were overwritten",
         [](const std::string& path, sqlite3**) {
             {
                 AppRun run(path, 10, kWall);
                 run.feed({run.store->series(1, "a")}, 5, [](int s, int) { return s; });
             }
             std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(4096);
             f << std::string(16384, '\x5a');
         },
         "damaged"},
        {"locked by another program",
         [](const std::string& path, sqlite3** holder) {
             sqlite3_open(path.c_str(), holder);
             sqlite3_exec(*holder, "PRAGMA locking_mode=EXCLUSIVE; CREATE TABLE other(x); BEGIN EXCLUSIVE;", nullptr,
                          nullptr, nullptr);
         },
         "locked"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.story);
        const std::string dir = tempFolder();
        const std::string path = dir + "/history.db";
        sqlite3* holder = nullptr;
        c.prepare(path, &holder);
        {
            AppRun run(path, 10, kWall);
            auto id = run.store->series(1, "a");
            run.feed({id}, 10, [](int s, int) { return s + 100; });
            run.store->loadDevice(1);
            run.settle();
            EXPECT_EQ(run.store->diskState(), HistoryStore::DiskState::MemoryOnly);
            ASSERT_EQ(run.said.size(), 1u);
            EXPECT_NE(run.said[0].find(c.reason), std::string::npos) << run.said[0];
            EXPECT_NE(run.said[0].find(path), std::string::npos);
            TraceData d;
            run.store->query(id, run.store->now() - 60, run.store->now(), 320, d);
            ASSERT_EQ(d.points.size(), 10u);
            EXPECT_EQ(d.points.back().v, 109);
        }
        sqlite3_close(holder);
    }
}

// Runs `body` in a child process that has a tmpfs of `bytes` mounted on
// `dir`, in a mount namespace of its own (as root, or in a user namespace).
// Returns "" when body returned "", the failure, or "skip: ..." when no
// namespace could be made.
std::string onSmallDisk(const std::string& dir, std::size_t bytes, const std::function<std::string()>& body)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        auto finish = [&](const std::string& message, int code) {
            if (!message.empty() && write(pipeFds[1], message.data(), message.size()) < 0)
                code = 3;
            _exit(code);
        };
        const uid_t uid = getuid();
        const gid_t gid = getgid();
        if (unshare(CLONE_NEWNS) != 0) {
            if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
                finish("skip: cannot make a mount namespace", 77);
            std::ofstream("/proc/self/setgroups") << "deny";
            std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
            std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
        }
        if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            finish("skip: cannot make mounts private", 77);
        const std::string size = "size=" + std::to_string(bytes);
        if (mount("tmpfs", dir.c_str(), "tmpfs", 0, size.c_str()) != 0)
            finish("skip: cannot mount a tmpfs", 77);
        const std::string failure = body();
        finish(failure, failure.empty() ? 0 : 1);
    }
    close(pipeFds[1]);
    std::string message;
    char buf[512];
    ssize_t n;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0)
        message.append(buf, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return "";
    return message.empty() ? "the child failed" : message;
}

TEST(HistoryDisk, DiskFillsDuringABatch)
{
    // The batch that meets the full disk is rolled back and counted; the
    // file keeps every batch before it, whole; an export to the full disk
    // fails and leaves nothing behind.
    const std::string dir = tempFolder();
    const std::string result = onSmallDisk(dir, 512 * 1024, [&]() -> std::string {
        std::ofstream(dir + "/filler") << std::string(64 * 1024, 'f');
        const std::string path = dir + "/history.db";
        HistoryStore::Stats st;
        std::vector<std::string> said;
        CsvResult csv;
        {
            AppRun run(path, 10, kWall);
            std::vector<SeriesId> ids;
            for (int k = 0; k < 200; ++k)
                ids.push_back(run.store->series(5, "v" + std::to_string(k)));
            for (int round = 0; round < 300 && run.store->stats().batchesLost == 0; ++round) {
                run.feed(ids, 1, [](int, int k) { return k * 1.25; });
                run.settle();
            }
            st = run.store->stats();
            said = run.said;
            CsvRequest req;
            req.deviceName = "Pump";
            req.serial = 5;
            req.traces = {{ids[0], "v0", ""}, {ids[1], "v1", ""}};
            req.everything = true;
            req.path = dir + "/export.csv";
            exportCsv(*run.store, req, [&](const CsvResult& r) { csv = r; });
            run.settle();
        }
        if (st.batchesLost == 0)
            return "the disk never filled";
        if (st.batchesWritten == 0)
            return "nothing was written before the disk filled";
        if (said.size() != 1 || said[0].find("not written") == std::string::npos)
            return "expected one line about the lost batch, got " + std::to_string(said.size());
        if (csv.ok || csv.reason.find("full") == std::string::npos)
            return "the export should have failed for a full disk: " + csv.reason;
        for (const std::string& name : filesIn(dir))
            if (name.find("export") != std::string::npos)
                return "the failed export left " + name;

        std::remove((dir + "/filler").c_str()); // room to open the file again
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        std::string check;
        sqlite3_exec(
            db, "PRAGMA integrity_check",
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) += values[0];
                return 0;
            },
            &check, nullptr);
        sqlite3_int64 rows = -1;
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM seconds", -1, &s, nullptr);
        if (sqlite3_step(s) == SQLITE_ROW)
            rows = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
        sqlite3_close(db);
        if (check != "ok")
            return "integrity check: " + check;
        if (rows != static_cast<sqlite3_int64>(st.secondsWritten))
            return "rows on disk " + std::to_string(rows) + " != rows of committed batches " +
                   std::to_string(st.secondsWritten);
        return "";
    });
    if (result.rfind("skip:", 0) == 0)
        GTEST_SKIP() << result;
    EXPECT_EQ(result, "");
}

TEST(HistoryDisk, KeepsTheWeekWithinTheCap)
{
    struct Case {
        const char* story;
        double diskSeconds;
        std::uint64_t cap;
        int seconds;
        int series;
    };
    const Case cases[] = {
        // Retention: seconds older than the span kept go (checked each minute).
        {"kept span", 300, 256ull << 20, 900, 2},
        // Cap: the oldest go first, the newest stay.
        {"size cap", 7 * 86'400, 256 * 1024, 1800, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.story);
        const std::string dir = tempFolder();
        const std::string path = dir + "/history.db";
        HistoryOptions o;
        o.diskSeconds = c.diskSeconds;
        o.databaseCap = c.cap;
        std::int64_t oldest = 0, newest = 0, now = 0;
        {
            AppRun run(path, 10, kWall, o);
            std::vector<SeriesId> ids;
            for (int k = 0; k < c.series; ++k)
                ids.push_back(run.store->series(9, "v" + std::to_string(k)));
            run.feed(ids, c.seconds, [](int s, int k) { return s * 1.001 + k; });
            run.settle();
            EXPECT_EQ(run.store->stats().batchesLost, 0u);
            now = static_cast<std::int64_t>(run.store->now());
        }
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, "SELECT MIN(t), MAX(t) FROM seconds", -1, &s, nullptr);
        ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
        oldest = sqlite3_column_int64(s, 0);
        newest = sqlite3_column_int64(s, 1);
        sqlite3_finalize(s);
        sqlite3_close(db);
        EXPECT_GE(newest, now - 2);
        if (c.diskSeconds < 86'400) {
            EXPECT_GE(oldest, now - c.diskSeconds - 61);
        } else {
            EXPECT_GT(oldest, now - c.seconds + 60) << "nothing was trimmed";
            struct stat st{};
            ASSERT_EQ(stat(path.c_str(), &st), 0);
            EXPECT_LE(static_cast<std::uint64_t>(st.st_size), c.cap * 12 / 10);
        }
    }
}

} // namespace
