#pragma once
// Traces as CSV (RFC 4180: fields separated by commas, records ended by
// CR LF, a field with a comma, a quote or a line break quoted, quotes
// doubled).
//
// The first record is the header: "time (UTC)", then one field per trace
// naming the device and the trace, "Pump A (1207): pressure [bar]" (the
// units part only when the trace has units). Then one record per distinct
// time, oldest first: the time as ISO-8601 UTC with milliseconds
// ("2024-05-01T12:34:56.789Z") and, per trace, its sample at that time, or
// an empty field. Numbers are written in the shortest form that reads
// back to the same double; values that are not numbers as "NaN", "inf",
// "-inf" and "error"; texts as they are. When one trace has two samples at
// the same time, the later one is written.
//
// Records are ordered by the timeline, so after the wall clock was set back
// the times in the first field go back too, and no sample is lost.
//
// Thread rule: a function of its arguments; any thread.

#include "history/HistoryTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon::history {

struct CsvColumn {
    std::string trace;
    std::string units;
    std::vector<ExportSample> samples; // in time order
    std::vector<std::string> texts;    // what Text samples refer to
};

struct CsvTable {
    std::string deviceName;
    std::int32_t serial = 0;
    std::vector<CsvColumn> columns;
};

// Called with successive pieces of the file; returning false stops the
// writing (a write failed), and writeCsv returns false.
using CsvSink = std::function<bool(std::string_view)>;

// The records written, header included; -1 when the sink refused.
long writeCsv(const CsvTable& table, const CsvSink& sink);

// "2024-05-01T12:34:56.789Z"
std::string isoUtc(std::int64_t wallMs);

} // namespace fieldmon::history
