#pragma once
// CommandContext: what the automation commands share. It reads the window
// (ScreenReader), drives the one synthesized pointer, runs timers that stop
// when the client leaves, and answers once the screen has settled. The
// commands themselves live by the kind of screen they work on (Commands.h);
// each group adds its commands to the CommandTable.
//
// Thread rule: main thread only.

#include "app/automation/InputSynthesizer.h"
#include "app/automation/LineChannel.h"
#include "app/automation/Protocol.h"
#include "app/automation/ScreenReader.h"

#include <QJsonObject>
#include <QObject>
#include <QPointF>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace fieldmon {
class AppShell;
class AppWindow;
struct AutomationDrag;
} // namespace fieldmon

namespace fieldmon::automation {

using Answer = LineChannel::Answer;

// One command of the protocol. A command that only reads runs at once; any
// other first waits for a navigation slide under way to end.
struct Command {
    std::function<void(const Request&, Answer&)> run;
    bool readsOnly = false;
};
using CommandTable = std::map<QString, Command>;

class CommandContext {
public:
    using Pointer = InputSynthesizer::Pointer;

    explicit CommandContext(AppWindow& window) : reader_(window) {}

    const ScreenReader& reader() const { return reader_; }
    // The app's shell (history, the open session's watch), or null.
    AppShell* shell() const { return shell_; }
    void setShell(AppShell* shell) { shell_ = shell; }
    InputSynthesizer& input() { return input_; }
    const InputSynthesizer& input() const { return input_; }

    // The client left: work still scheduled for it stops, and a pointer it
    // holds down is let go.
    void clientLeft();

    // Calls `fn` after `ms` unless the client has left meanwhile.
    void later(int ms, std::function<void()> fn);
    // Answers once no slide runs and the top screen has settled (at most
    // kSettleLimitMs).
    void settle(Answer answer, QJsonObject fields = {});

    // Answers the arguments' first error and gives false; true when sound.
    static bool argsOk(const Args& args, Answer& answer);
    // The "pointer" argument: "touch" (the default) or "mouse".
    static Pointer pointerOf(Args& args);
    // Whether a new gesture may begin: the arguments are sound and no
    // pointer is down. Otherwise answers why and gives false.
    bool readyForPointer(const Args& args, Answer& answer) const;
    // The window position of a page point, or nothing (with an answer
    // given) when it lies outside the window.
    std::optional<QPointF> toWindow(QPointF page, Answer& answer) const;

    // Taps the middle of `widget`, or `at` in the widget's coordinates.
    void tapWidget(QWidget* widget, Pointer pointer);
    void tapWidget(QWidget* widget, Pointer pointer, QPointF at);
    // Moves the held pointer from `from` to `to` (page points) over `ms`,
    // lets go, and then runs `then`.
    void runDrag(QPointF from, QPointF to, int ms, Pointer pointer, std::function<void()> then);
    // The drags one after another, each once the screen has come to rest
    // after the one before.
    void runDrags(std::vector<AutomationDrag> drags, Pointer pointer, std::function<void()> then);

    // Polling and patience while the screen moves.
    static constexpr int kStepMs = 16; // one move per frame during a drag
    static constexpr int kSettlePollMs = 10;
    static constexpr int kSettleLimitMs = 5000; // an animation that never ends is not waited for longer

private:
    ScreenReader reader_;
    InputSynthesizer input_;
    AppShell* shell_ = nullptr;
    // The owner of every timer: they end with the context.
    QObject timers_;
    // Bumped when the client leaves: work still scheduled for it stops.
    unsigned generation_ = 0;
};

} // namespace fieldmon::automation
