#pragma once
// Runs tests/gateway/parse_metrics.py (the reference Prometheus parser) on
// a text and returns what it read, or the parser's complaint.

#include <nlohmann/json.hpp>

#include <QProcess>

#include <string>

namespace fieldmon::gateway::testing {

struct Parsed {
    int exitCode = -1;
    std::string error;
    nlohmann::json result; // {"families": {...}, "samples": [[name, labels, value], ...]}
};

inline Parsed parseWithPrometheus(const std::string& text)
{
    QProcess python;
    python.start(FIELDMON_SYSTEM_PYTHON, {FIELDMON_SOURCE_DIR "/tests/gateway/parse_metrics.py"});
    python.waitForStarted(5000);
    python.write(text.data(), static_cast<qint64>(text.size()));
    python.closeWriteChannel();
    python.waitForFinished(30000);
    Parsed parsed;
    parsed.exitCode = python.exitCode();
    parsed.error = python.readAllStandardError().toStdString();
    if (parsed.exitCode == 0)
        parsed.result = nlohmann::json::parse(python.readAllStandardOutput().toStdString());
    return parsed;
}

} // namespace fieldmon::gateway::testing
