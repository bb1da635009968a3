#pragma once
// The automation commands: what each request line does, through the real
// screens and Qt's real event path (see the README for the protocol).
// Reading commands answer at once; acting commands (and screenshots) first
// wait for a navigation slide under way to end, and answer once their events
// have been delivered and the screen has settled again (a slide, or a picker
// gliding to rest), so scripts need no sleeps for ordinary steps.
//
// One request runs at a time (the LineChannel waits for each answer).
// Commands that take time (wait, drag, pick, settling) keep running on
// timers; when the client leaves, clientLeft() ends them and lets go of a
// pointer that is still down, and their late answers are dropped.
//
// Thread rule: main thread only.

#include "app/automation/InputSynthesizer.h"
#include "app/automation/LineChannel.h"
#include "app/automation/ScreenReader.h"

#include <QObject>

#include <functional>
#include <map>
#include <vector>

namespace fieldmon {
class AppWindow;
namespace platform {
class DiagnosticLog;
}
struct AutomationDrag;
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

    const ScreenReader& reader() const { return reader_; }

signals:
    // The client asked the app to end; the answer has been written.
    void quitRequested();

private:
    using Command = void (Automation::*)(const Request&, Answer&);

    void screen(const Request&, Answer&);
    void rows(const Request&, Answer&);
    void widgets(const Request&, Answer&);
    void tap(const Request&, Answer&);
    void press(const Request&, Answer&);
    void move(const Request&, Answer&);
    void release(const Request&, Answer&);
    void drag(const Request&, Answer&);
    void tapRow(const Request&, Answer&);
    void back(const Request&, Answer&);
    void type(const Request&, Answer&);
    void pick(const Request&, Answer&);
    void alert(const Request&, Answer&);
    void alertButton(const Request&, Answer&);
    void screenshot(const Request&, Answer&);
    void wait(const Request&, Answer&);
    void log(const Request&, Answer&);
    void quit(const Request&, Answer&);

    // Reading commands run at once, even while a slide is under way.
    static bool readsOnly(Command command);
    // The window position of a page point, or nothing (with an answer
    // given) when it lies outside the window.
    std::optional<QPointF> toWindow(QPointF page, Answer& answer) const;
    // The "pointer" argument: "touch" (the default) or "mouse".
    static InputSynthesizer::Pointer pointerOf(Args& args);
    // Whether a new gesture may begin: the arguments are sound and no
    // pointer is down. Otherwise answers why and gives false.
    bool readyForPointer(const Args& args, Answer& answer) const;
    // Taps the middle of `widget`.
    void tapWidget(QWidget* widget, InputSynthesizer::Pointer pointer);
    // At `at`, in the widget's coordinates.
    void tapWidget(QWidget* widget, InputSynthesizer::Pointer pointer, QPointF at);
    // Moves the held pointer from `from` to `to` (page points) over `ms`,
    // lets go, and then runs `then`.
    void runDrag(QPointF from, QPointF to, int ms, InputSynthesizer::Pointer pointer, std::function<void()> then);
    void runDrags(std::vector<AutomationDrag> drags, InputSynthesizer::Pointer pointer, std::function<void()> then);
    // Answers once no slide runs and the top screen has settled.
    void settle(Answer answer, QJsonObject fields = {});
    // Calls `fn` after `ms` unless the client has left meanwhile.
    void later(int ms, std::function<void()> fn);

    ScreenReader reader_;
    platform::DiagnosticLog* log_;
    InputSynthesizer input_;
    std::map<QString, Command> commands_;
    // Bumped when the client leaves: work still scheduled for it stops.
    unsigned generation_ = 0;
};

} // namespace fieldmon::automation
