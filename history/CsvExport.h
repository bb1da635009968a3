#pragma once
// Exports traces of one device to a CSV file (format: CsvWriter.h), either
// the window a trend shows or everything kept (memory, and what the
// database holds from before that).
//
//   exportCsv(store, request, [](const CsvResult& r) { r.ok ? tell(r.path) : alert(r.reason); });
//
// The samples are gathered on the main thread; reading older seconds from
// disk, formatting and writing happen on the storage thread, and `done`
// runs on the main thread. A store without a storage thread writes at once.
//
// The file is written whole or not at all, through platform/SafeFileWrite:
// into a temporary file in the target's folder, flushed to disk, then
// renamed over the target. An unwritable folder, a full disk or a target
// that is not a regular file (a folder, a link) gives ok = false with the
// reason, and leaves no partial file behind.
//
// Thread rule: exportCsv on the main thread only.

#include "history/CsvWriter.h"
#include "history/HistoryStore.h"

#include <functional>
#include <string>
#include <vector>

namespace fieldmon::history {

struct CsvTrace {
    SeriesId id;
    std::string name;  // as the header shows it
    std::string units; // may be empty
};

struct CsvRequest {
    std::string deviceName;
    std::int32_t serial = 0;
    std::vector<CsvTrace> traces;
    double from = 0; // timeline seconds: the visible window
    double to = 0;
    bool everything = false; // all that is kept; from and to are ignored
    std::string path;
};

struct CsvResult {
    bool ok = false;
    std::string path;   // absolute, when ok
    std::string reason; // a sentence for the user, when not
    long records = 0;   // header included
};

void exportCsv(HistoryStore& store, CsvRequest request, std::function<void(const CsvResult&)> done);

// Writes what `produce` hands to its sink to `path` as described above.
// Any thread (the storage thread, in exportCsv).
CsvResult writeFileAtomically(const std::string& path, const std::function<long(const CsvSink&)>& produce);

} // namespace fieldmon::history
