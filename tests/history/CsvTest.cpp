// CSV export: the format, an export through the store and the storage
// thread that reaches back to what only the disk keeps, and targets that
// cannot be written.

#include "history/CsvExport.h"
#include "history/CsvWriter.h"
#include "support/ManualLoop.h"
#include "platform/StorageThread.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace fieldmon;
using namespace fieldmon::history;

namespace {

constexpr std::int64_t kWallMs = 1'700'000'000'000; // 2023-11-14T22:13:20.000Z

std::string tempFolder()
{
    std::string dir = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/csvXXXXXX");
    return mkdtemp(dir.data()) ? dir : std::string();
}

std::string readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST(Csv, Format)
{
    CsvTable table;
    table.deviceName = "Pump \"A\"";
    table.serial = 1207;
    CsvColumn pressure;
    pressure.trace = "pressure";
    pressure.units = "bar";
    auto at = [](std::int64_t ms, SampleKind kind, double v, std::uint32_t text = 0) {
        return ExportSample{.tMs = ms, .wallMs = kWallMs + ms, .kind = kind, .value = v, .text = text};
    };
    pressure.samples = {at(0, SampleKind::Number, 101.25), at(250, SampleKind::Number, 1e-7),
                        at(1000, SampleKind::NaN, 0), at(1500, SampleKind::PlusInfinity, 0),
                        at(1500, SampleKind::MinusInfinity, 0), // the later of two at one time
                        at(2000, SampleKind::Huge, 9.9e37)};
    CsvColumn mode;
    mode.trace = "mode, state";
    mode.texts = {"say \"hi\"", "two\nlines"};
    mode.samples = {at(250, SampleKind::Text, 0, 0), at(1000, SampleKind::Error, 0),
                    at(3000, SampleKind::Text, 0, 1)};
    table.columns = {pressure, mode};

    std::string out;
    const long records = writeCsv(table, [&](std::string_view piece) {
        out += piece;
        return true;
    });
    EXPECT_EQ(records, 7);
    EXPECT_EQ(out, "time (UTC),\"Pump \"\"A\"\" (1207): pressure [bar]\",\"Pump \"\"A\"\" (1207): mode, state\"\r\n"
                   "2023-11-14T22:13:20.000Z,101.25,\r\n"
                   "2023-11-14T22:13:20.250Z,1e-07,\"say \"\"hi\"\"\"\r\n"
                   "2023-11-14T22:13:21.000Z,NaN,error\r\n"
                   "2023-11-14T22:13:21.500Z,-inf,\r\n"
                   "2023-11-14T22:13:22.000Z,9.9e+37,\r\n"
                   "2023-11-14T22:13:23.000Z,,\"two\nlines\"\r\n");
    EXPECT_EQ(isoUtc(-1), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(writeCsv(table, [](std::string_view) { return false; }), -1);
}

TEST(Csv, ExportOfEverythingReachesBackToTheDisk)
{
    // Yesterday's run wrote 100 s of "flow"; today's run has one sample in
    // memory and never loaded the device. "Everything kept" still has all.
    const std::string dir = tempFolder();
    const std::string db = dir + "/history.db";
    const double wall = kWallMs / 1000.0;
    auto run = [&](double monoStart, double wallStart, int seconds, const std::function<void(HistoryStore&)>& then) {
        platform::ManualLoop loop(monoStart);
        platform::StorageThread storage;
        {
            HistoryOptions o;
            o.databasePath = db;
            HistoryStore store(loop, &storage, o, {monoStart, wallStart});
            auto id = store.series(1207, "flow");
            for (int s = 0; s < seconds; ++s) {
                store.appendNumber(id, loop.now(), wallStart + s, s * 2.0);
                loop.advance(1);
                storage.waitIdle(20);
            }
            then(store);
            storage.waitIdle(20);
            loop.runPending();
        }
        storage.stop(platform::StorageThread::Shutdown::Drain);
    };
    run(10, wall, 100, [](HistoryStore&) {});
    CsvResult result;
    run(5, wall + 86'400, 1, [&](HistoryStore& store) {
        CsvRequest req;
        req.deviceName = "Pump";
        req.serial = 1207;
        req.traces = {{*store.find(1207, "flow"), "flow", "l/min"}};
        req.everything = true;
        req.path = dir + "/flow.csv";
        exportCsv(store, req, [&](const CsvResult& r) { result = r; });
    });
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(result.records, 1 + 100 + 1);
    const std::string text = readFile(result.path);
    EXPECT_EQ(text.rfind("time (UTC),Pump (1207): flow [l/min]\r\n2023-11-14T22:13:20.000Z,0\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("2023-11-14T22:14:59.000Z,198\r\n"), std::string::npos);
    EXPECT_NE(text.find("2023-11-15T22:13:20.000Z,0\r\n"), std::string::npos);
}

TEST(Csv, UnwritableTargetsLeaveNoFile)
{
    const std::string dir = tempFolder();
    mkdir((dir + "/a-folder").c_str(), 0755);
    std::ofstream(dir + "/old.csv") << "kept";
    struct Case {
        std::string path;
        const char* reason;
    };
    const Case cases[] = {
        {dir + "/missing/out.csv", "does not exist"},
        {dir + "/a-folder", "not a file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        CsvResult r = writeFileAtomically(c.path, [](const CsvSink& sink) { return sink("a,b\r\n") ? 1L : -1L; });
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;
    }
    // A producer that fails half way leaves the old file as it was.
    CsvResult r = writeFileAtomically(dir + "/old.csv", [](const CsvSink& sink) {
        sink("half");
        return -1L;
    });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(readFile(dir + "/old.csv"), "kept");
    struct stat st{};
    int entries = 0;
    for (const char* name : {"/old.csv", "/a-folder"})
        entries += stat((dir + name).c_str(), &st) == 0;
    EXPECT_EQ(entries, 2);
}

} // namespace
