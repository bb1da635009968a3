#pragma once
// fieldmon's command line and environment, read before any Qt application
// object exists, so that --help and --version work on a machine without a
// display. Options and environment variables are each one row of a table in
// CommandLine.cpp: the parser and the help text both read those rows.
//
// Qt's own options (-platform and its kin) are accepted and left in argv for
// QApplication, which takes them out; anything else unknown is an error.
//
// Thread rule: main thread, before QApplication.

#include <QString>
#include <QStringList>

#include <optional>

namespace fieldmon {

// What a run of the app was asked to do.
struct StartOptions {
    // The automation socket's path; empty when automation is off.
    QString automationSocket;
    // The capture file to record to from the start; empty: no recording.
    QString recordPath;
    // Seconds after which the run ends by itself.
    std::optional<double> quitAfter;
    // --data-dir: the folder for the history and CSV exports; empty when
    // not given (the platform's data and documents folders then).
    QString dataDir;
    // --no-stale-marks turns the dimming of stale values off.
    bool staleMarks = true;
};

struct CommandLine {
    enum class Outcome { Run, Help, Version, Bad };

    Outcome outcome = Outcome::Run;
    StartOptions options;
    // What is wrong with the command line, when the outcome is Bad.
    QString error;

    // `arguments` as main() received them, the program's name first.
    static CommandLine read(const QStringList& arguments);
    static QString helpText();
    static QString versionText();
};

} // namespace fieldmon
