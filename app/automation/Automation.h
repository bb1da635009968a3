#pragma once
// The automation commands: what each request line does, through the real
// screens and Qt's real event path (see the README for the protocol). The
// commands live by the kind of screen they work on (Commands.h); this class
// holds their table, runs one request at a time, and adds the run's own
// commands, "log" and "quit".
//
// A command that acts (or takes a picture) first waits for a navigation
// slide under way to end, so that it touches or shows the screen where it
// comes to rest; reading commands answer at once.
//
// One request runs at a time (the LineChannel waits for each answer).
// Commands that take time (wait, drag, pick, settling) keep running on
// timers; when the client leaves, clientLeft() ends them and lets go of a
// pointer that is still down, and their late answers are dropped.
//
// Thread rule: main thread only.

#include "app/automation/CommandContext.h"

#include <QObject>

namespace fieldmon {
class AppWindow;
namespace platform {
class DiagnosticLog;
}
} // namespace fieldmon

namespace fieldmon::automation {

class Automation : public QObject {
    Q_OBJECT
public:
    using Answer = LineChannel::Answer;

    // `log` supplies the "log" command; without it the command fails.
    explicit Automation(AppWindow& window, platform::DiagnosticLog* log = nullptr, QObject* parent = nullptr);
    ~Automation() override;

    void run(const Request& request, Answer answer);
    void clientLeft();
    // The app's shell, for the commands on history, trends and link health
    // ("trend", "export_csv", "link", the widgets' "stale"); without it they fail.
    void setShell(AppShell* shell) { context_.setShell(shell); }

signals:
    // The client asked the app to end; the answer has been written.
    void quitRequested();

private:
    void log(const Request&, Answer&);
    void quit(const Request&, Answer&);

    CommandContext context_;
    platform::DiagnosticLog* log_;
    CommandTable commands_;
};

} // namespace fieldmon::automation
