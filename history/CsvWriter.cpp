#include "history/CsvWriter.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace fieldmon::history {

namespace {

void appendField(std::string& out, std::string_view field)
{
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void appendNumber(std::string& out, double v)
{
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, ec == std::errc() ? end : buf);
}

void appendCell(std::string& out, const CsvColumn& column, const ExportSample& s)
{
    switch (s.kind) {
    case SampleKind::Number:
    case SampleKind::Huge:
        appendNumber(out, s.value);
        return;
    case SampleKind::Text:
        if (s.text < column.texts.size())
            appendField(out, column.texts[s.text]);
        return;
    case SampleKind::Error:
        out += "error";
        return;
    case SampleKind::NaN:
        out += "NaN";
        return;
    case SampleKind::PlusInfinity:
        out += "inf";
        return;
    case SampleKind::MinusInfinity:
        out += "-inf";
        return;
    }
}

} // namespace

std::string isoUtc(std::int64_t wallMs)
{
    std::int64_t seconds = wallMs / 1000;
    std::int64_t ms = wallMs % 1000;
    if (ms < 0) {
        ms += 1000;
        --seconds;
    }
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return buf;
}

long writeCsv(const CsvTable& table, const CsvSink& sink)
{
    std::string out;
    out.reserve(1 << 16);
    auto drain = [&](bool always) {
        if (!always && out.size() < (1 << 15))
            return true;
        const bool ok = sink(out);
        out.clear();
        return ok;
    };

    out += "time (UTC)";
    for (const CsvColumn& c : table.columns) {
        std::string name = table.deviceName + " (" + std::to_string(table.serial) + "): " + c.trace;
        if (!c.units.empty())
            name += " [" + c.units + "]";
        out += ',';
        appendField(out, name);
    }
    out += "\r\n";
    long records = 1;

    // A merge of the columns by time: each has a cursor.
    std::vector<std::size_t> at(table.columns.size(), 0);
    for (;;) {
        std::int64_t t = INT64_MAX;
        std::int64_t wall = 0;
        for (std::size_t c = 0; c < table.columns.size(); ++c) {
            const auto& samples = table.columns[c].samples;
            if (at[c] < samples.size() && samples[at[c]].tMs < t) {
                t = samples[at[c]].tMs;
                wall = samples[at[c]].wallMs;
            }
        }
        if (t == INT64_MAX)
            break;
        out += isoUtc(wall);
        for (std::size_t c = 0; c < table.columns.size(); ++c) {
            out += ',';
            const auto& samples = table.columns[c].samples;
            const ExportSample* cell = nullptr;
            while (at[c] < samples.size() && samples[at[c]].tMs == t)
                cell = &samples[at[c]++];
            if (cell)
                appendCell(out, table.columns[c], *cell);
        }
        out += "\r\n";
        ++records;
        if (!drain(false))
            return -1;
    }
    if (!drain(true))
        return -1;
    return records;
}

} // namespace fieldmon::history
