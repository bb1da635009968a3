#include "history/CsvExport.h"

#include "platform/SafeFileWrite.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace fieldmon::history {

namespace {

std::string reasonFor(int error, const std::string& path)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return "The disk is full; " + path + " was not written.";
    case EACCES:
    case EPERM:
    case EROFS:
        return "The folder of " + path + " cannot be written to.";
    case ENOENT:
    case ENOTDIR:
        return "The folder of " + path + " does not exist.";
    default:
        return path + " could not be written: " + std::strerror(error) + ".";
    }
}

// Older seconds from disk, in front of what memory gave, as one mean per
// second (or the kind of what arrived, for seconds without numbers).
void prependStored(const std::vector<StoredSecond>& stored, CsvColumn& column)
{
    std::vector<ExportSample> older;
    older.reserve(stored.size());
    for (const StoredSecond& s : stored) {
        ExportSample e;
        e.tMs = s.second * 1000;
        e.wallMs = s.wallMs;
        if (s.count > 0) {
            e.value = s.mean;
        } else {
            const std::uint32_t kinds = s.flags & ~kBreakFlag & ~kindFlag(SampleKind::Text);
            if (!kinds)
                continue;
            e.kind = static_cast<SampleKind>(__builtin_ctz(kinds));
        }
        older.push_back(e);
    }
    older.insert(older.end(), column.samples.begin(), column.samples.end());
    column.samples.swap(older);
}

} // namespace

CsvResult writeFileAtomically(const std::string& path, const std::function<long(const CsvSink&)>& produce)
{
    // The user chose the name: any regular file there may be replaced.
    static const platform::FileKind kAnyFile{"a file", [](std::string_view) { return true; }};
    long records = -1;
    const platform::SafeWriteResult written = platform::writeFileSafely(
        path,
        [&](const platform::ByteSink& sink) {
            records = produce(sink);
            return records >= 0;
        },
        kAnyFile, true);
    CsvResult r;
    if (!written.ok()) {
        r.reason = written.outcome == platform::SafeWriteResult::Outcome::NotRegular
                       ? path + " is not a file that can be replaced."
                       : reasonFor(written.error ? written.error : EIO, path);
        return r;
    }
    char resolved[PATH_MAX];
    r.path = realpath(written.path.c_str(), resolved) ? resolved : written.path;
    r.ok = true;
    r.records = records;
    return r;
}

void exportCsv(HistoryStore& store, CsvRequest request, std::function<void(const CsvResult&)> done)
{
    // Gathered here, on the main thread: the memory tiers are its own.
    auto table = std::make_shared<CsvTable>();
    table->deviceName = request.deviceName;
    table->serial = request.serial;
    // "Everything": far enough either way, and still whole milliseconds in
    // 64 bits (the tiers' times).
    const double from = request.everything ? -1e15 : request.from;
    const double to = request.everything ? 1e15 : request.to;
    std::vector<std::string> names;
    for (const CsvTrace& trace : request.traces) {
        CsvColumn column;
        column.trace = trace.name;
        column.units = trace.units;
        store.exportSamples(trace.id, from, to, column.samples, column.texts);
        table->columns.push_back(std::move(column));
        names.push_back(store.nameOf(trace.id));
    }

    const std::string path = request.path;
    const bool everything = request.everything;
    const std::int32_t serial = request.serial;
    auto write = [table, path, everything, serial, names](HistoryDatabase* db) {
        if (everything && db) {
            for (std::size_t c = 0; c < table->columns.size(); ++c) {
                CsvColumn& column = table->columns[c];
                const std::int64_t firstInMemory =
                    column.samples.empty() ? INT64_MAX : column.samples.front().tMs / 1000;
                std::vector<StoredSecond> stored;
                if (!names[c].empty() &&
                    db->read(serial, names[c], INT64_MIN / 2, firstInMemory - 1, stored).status ==
                        HistoryDatabase::Status::Ok)
                    prependStored(stored, column);
            }
        }
        return writeFileAtomically(path, [&](const CsvSink& sink) { return writeCsv(*table, sink); });
    };

    platform::MainLoop& loop = store.loop();
    if (!store.hasStorage()) {
        // No storage thread (a tool, a test): write now.
        const CsvResult r = write(nullptr);
        if (done)
            done(r);
        return;
    }
    const bool queued = store.onStorage([write, done, &loop](HistoryDatabase* db) {
        CsvResult r = write(db);
        loop.post([done, r] {
            if (done)
                done(r);
        });
    });
    if (queued)
        return;
    CsvResult busy;
    busy.reason = "History is busy writing; try the export again in a moment.";
    loop.post([done, busy] {
        if (done)
            done(busy);
    });
}

} // namespace fieldmon::history
