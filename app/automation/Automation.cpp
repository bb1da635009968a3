#include "app/automation/Automation.h"

#include "app/AppWindow.h"
#include "platform/Diagnostics.h"
#include "platform/SafeFileWrite.h"
#include "widgets/NavigationStack.h"
#include "widgets/Screen.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <memory>

namespace fieldmon::automation {

namespace {

constexpr int kStepMs = 16;           // one move per frame during a drag
constexpr int kSettlePollMs = 10;
constexpr int kSettleLimitMs = 5000;  // an animation that never ends is not waited for longer
constexpr int kMaxDragMs = 60'000;
constexpr int kMaxWaitMs = 600'000;

const char* const kPointerArg = "pointer";

QString describe(const QWidget* w)
{
    return QString::fromLatin1(w->metaObject()->className());
}

} // namespace

Automation::Automation(AppWindow& window, platform::DiagnosticLog* log, QObject* parent)
    : QObject(parent), reader_(window), log_(log)
{
    commands_ = {
        {QStringLiteral("screen"), &Automation::screen},
        {QStringLiteral("rows"), &Automation::rows},
        {QStringLiteral("widgets"), &Automation::widgets},
        {QStringLiteral("tap"), &Automation::tap},
        {QStringLiteral("press"), &Automation::press},
        {QStringLiteral("move"), &Automation::move},
        {QStringLiteral("release"), &Automation::release},
        {QStringLiteral("drag"), &Automation::drag},
        {QStringLiteral("tap_row"), &Automation::tapRow},
        {QStringLiteral("back"), &Automation::back},
        {QStringLiteral("type"), &Automation::type},
        {QStringLiteral("pick"), &Automation::pick},
        {QStringLiteral("alert"), &Automation::alert},
        {QStringLiteral("alert_button"), &Automation::alertButton},
        {QStringLiteral("screenshot"), &Automation::screenshot},
        {QStringLiteral("wait"), &Automation::wait},
        {QStringLiteral("log"), &Automation::log},
        {QStringLiteral("quit"), &Automation::quit},
    };
}

Automation::~Automation() = default;

void Automation::run(const Request& request, Answer answer)
{
    auto it = commands_.find(request.command());
    if (it == commands_.end()) {
        answer(Reply::failure(QStringLiteral("unknown command \"%1\"").arg(request.command())));
        return;
    }
    Command command = it->second;
    // A command that acts, or takes a picture, waits for a slide that is
    // under way (a page that Connect pushed, say) to end first, so that it
    // touches or shows the screen where it comes to rest.
    if (!readsOnly(command) && reader_.stack().isAnimating()) {
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        auto retry = std::make_shared<std::function<void()>>();
        *retry = [this, request, answer, command, started, weak = std::weak_ptr(retry)]() mutable {
            if (reader_.stack().isAnimating() && started->elapsed() < kSettleLimitMs) {
                if (auto again = weak.lock())
                    later(kSettlePollMs, [again] { (*again)(); });
                return;
            }
            (this->*command)(request, answer);
        };
        (*retry)();
        return;
    }
    (this->*command)(request, answer);
}

bool Automation::readsOnly(Command command)
{
    for (Command reading : {&Automation::screen, &Automation::rows, &Automation::widgets, &Automation::alert,
                            &Automation::log, &Automation::wait, &Automation::quit})
        if (command == reading)
            return true;
    return false;
}

void Automation::clientLeft()
{
    ++generation_;
    input_.release();
}

void Automation::later(int ms, std::function<void()> fn)
{
    unsigned generation = generation_;
    QTimer::singleShot(ms, this, [this, generation, fn = std::move(fn)] {
        if (generation == generation_)
            fn();
    });
}

void Automation::settle(Answer answer, QJsonObject fields)
{
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    auto check = std::make_shared<std::function<void()>>();
    *check = [this, answer = std::move(answer), fields = std::move(fields), started, weak = std::weak_ptr(check)] {
        Screen* top = reader_.top();
        bool moving = reader_.stack().isAnimating() || (top && top->automationSettling());
        if (moving && started->elapsed() < kSettleLimitMs) {
            if (auto again = weak.lock())
                later(kSettlePollMs, [again] { (*again)(); });
            return;
        }
        answer(Reply::success(fields));
    };
    (*check)();
}

std::optional<QPointF> Automation::toWindow(QPointF page, Answer& answer) const
{
    QPointF at = page + reader_.pageOrigin();
    QRectF inside(QPointF(0, 0), reader_.window().size());
    if (!inside.contains(at)) {
        answer(Reply::failure(QStringLiteral("(%1, %2) lies outside the window").arg(page.x()).arg(page.y())));
        return std::nullopt;
    }
    return at;
}

InputSynthesizer::Pointer Automation::pointerOf(Args& args)
{
    QString name = args.choice(kPointerArg, {"touch", "mouse"}, "touch");
    return name == QLatin1String("mouse") ? InputSynthesizer::Pointer::Mouse : InputSynthesizer::Pointer::Touch;
}

bool Automation::readyForPointer(const Args& args, Answer& answer) const
{
    if (!args.ok()) {
        answer(Reply::failure(args.error()));
        return false;
    }
    if (input_.isDown()) {
        answer(Reply::failure(QStringLiteral("a pointer is down; release it first")));
        return false;
    }
    return true;
}

void Automation::tapWidget(QWidget* widget, InputSynthesizer::Pointer pointer)
{
    tapWidget(widget, pointer, QPointF(widget->width() / 2.0, widget->height() / 2.0));
}

void Automation::tapWidget(QWidget* widget, InputSynthesizer::Pointer pointer, QPointF at)
{
    QWidget* top = widget->window();
    input_.tap(top->windowHandle(), widget->mapTo(top, at), pointer);
}

// --- reading ---------------------------------------------------------------

void Automation::screen(const Request&, Answer& answer)
{
    answer(Reply::success(reader_.screen()));
}

void Automation::rows(const Request&, Answer& answer)
{
    std::optional<QJsonArray> sections = reader_.rows();
    if (!sections) {
        Screen* top = reader_.top();
        answer(Reply::failure(QStringLiteral("the screen on top (\"%1\") has no table").arg(top ? top->title() : QString())));
        return;
    }
    answer(Reply::success({{QStringLiteral("sections"), *sections}}));
}

void Automation::widgets(const Request& request, Answer& answer)
{
    // With "tag", only that widget: a script that watches one value on a
    // page of hundreds asks for it without costing the app the whole page.
    Args args(request);
    int tag = args.integer("tag", -1, 1'000'000'000, -1);
    if (!args.ok()) {
        answer(Reply::failure(args.error()));
        return;
    }
    Screen* top = reader_.top();
    QJsonArray widgets;
    if (top)
        widgets = tag < 0 ? top->inspectWidgets() : top->inspectWidget(tag);
    answer(Reply::success({{QStringLiteral("widgets"), widgets}}));
}

void Automation::alert(const Request&, Answer& answer)
{
    answer(Reply::success(ScreenReader::alert()));
}

void Automation::log(const Request&, Answer& answer)
{
    if (!log_) {
        answer(Reply::failure(QStringLiteral("diagnostic output is not captured in this run")));
        return;
    }
    platform::DiagnosticLog::Taken taken = log_->take();
    QJsonArray lines;
    for (const std::string& line : taken.lines)
        lines.append(QString::fromUtf8(line));
    QJsonObject fields{{QStringLiteral("lines"), lines}};
    if (taken.dropped > 0)
        fields.insert(QStringLiteral("dropped"), static_cast<qint64>(taken.dropped));
    answer(Reply::success(fields));
}

void Automation::screenshot(const Request& request, Answer& answer)
{
    Args args(request);
    QString path = args.text("path");
    const bool overwrite = args.flag("overwrite", false);
    if (args.ok() && path.isEmpty())
        answer(Reply::failure(QStringLiteral("\"path\" is empty")));
    else if (!args.ok())
        answer(Reply::failure(args.error()));
    if (!args.ok() || path.isEmpty())
        return;
    const QByteArray png = reader_.screenshot();
    if (png.isEmpty()) {
        answer(Reply::failure(QStringLiteral("the window could not be drawn as a PNG picture")));
        return;
    }
    // The path comes from a script or a person: a wrong one must not cost
    // a file (see platform/SafeFileWrite.h).
    const platform::SafeWriteResult written = platform::writeFileSafely(
        path.toStdString(), std::string_view(png.constData(), static_cast<std::size_t>(png.size())),
        platform::FileKind::png(), overwrite);
    if (!written.ok()) {
        QString reason = QString::fromStdString(written.reason);
        if (written.outcome == platform::SafeWriteResult::Outcome::OtherKind)
            reason += QStringLiteral(" (\"overwrite\": true replaces it)");
        answer(Reply::failure(reason));
        return;
    }
    QSize size = reader_.window().size();
    answer(Reply::success({{QStringLiteral("path"), QString::fromStdString(written.path)},
                           {QStringLiteral("size"), QJsonArray{size.width(), size.height()}}}));
}

// --- pointer -----------------------------------------------------------------

void Automation::tap(const Request& request, Answer& answer)
{
    Args args(request);
    QPointF page{args.number("x"), args.number("y")}; // braces: x is read (and reported) first
    auto pointer = pointerOf(args);
    if (!readyForPointer(args, answer))
        return;
    std::optional<QPointF> at = toWindow(page, answer);
    if (!at)
        return;
    input_.tap(reader_.window().windowHandle(), *at, pointer);
    settle(std::move(answer));
}

void Automation::press(const Request& request, Answer& answer)
{
    Args args(request);
    QPointF page{args.number("x"), args.number("y")}; // braces: x is read (and reported) first
    auto pointer = pointerOf(args);
    if (!readyForPointer(args, answer))
        return;
    std::optional<QPointF> at = toWindow(page, answer);
    if (!at)
        return;
    input_.press(reader_.window().windowHandle(), *at, pointer);
    answer(Reply::success());
}

void Automation::move(const Request& request, Answer& answer)
{
    Args args(request);
    QPointF page{args.number("x"), args.number("y")}; // braces: x is read (and reported) first
    if (!args.ok()) {
        answer(Reply::failure(args.error()));
        return;
    }
    if (!input_.isDown()) {
        answer(Reply::failure(QStringLiteral("no pointer is down; press first")));
        return;
    }
    // A finger may leave the window while it is down; the events follow it.
    input_.move(page + reader_.pageOrigin());
    answer(Reply::success());
}

void Automation::release(const Request&, Answer& answer)
{
    if (!input_.isDown()) {
        answer(Reply::failure(QStringLiteral("no pointer is down")));
        return;
    }
    input_.release();
    settle(std::move(answer));
}

void Automation::runDrag(QPointF from, QPointF to, int ms, InputSynthesizer::Pointer pointer, std::function<void()> then)
{
    input_.press(reader_.window().windowHandle(), from + reader_.pageOrigin(), pointer);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto step = std::make_shared<std::function<void()>>();
    *step = [this, from, to, ms, clock, then = std::move(then), weak = std::weak_ptr(step)] {
        if (!input_.isDown())
            return; // let go by someone else (the client left)
        double t = ms <= 0 ? 1.0 : std::min(1.0, static_cast<double>(clock->elapsed()) / ms);
        input_.move(from + (to - from) * t + reader_.pageOrigin());
        if (t < 1.0) {
            if (auto again = weak.lock())
                later(kStepMs, [again] { (*again)(); });
            return;
        }
        input_.release();
        then();
    };
    later(kStepMs, [step] { (*step)(); });
}

void Automation::runDrags(std::vector<AutomationDrag> drags, InputSynthesizer::Pointer pointer, std::function<void()> then)
{
    if (drags.empty()) {
        then();
        return;
    }
    AutomationDrag first = drags.front();
    drags.erase(drags.begin());
    runDrag(first.from, first.to, first.ms, pointer, [this, drags = std::move(drags), pointer, then = std::move(then)] {
        // The next drag starts once the list has come to rest after this one.
        auto rest = std::make_shared<std::function<void()>>();
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        *rest = [this, drags, pointer, then, started, weak = std::weak_ptr(rest)] {
            Screen* top = reader_.top();
            if (top && top->automationSettling() && started->elapsed() < kSettleLimitMs) {
                if (auto again = weak.lock())
                    later(kSettlePollMs, [again] { (*again)(); });
                return;
            }
            runDrags(drags, pointer, then);
        };
        (*rest)();
    });
}

void Automation::drag(const Request& request, Answer& answer)
{
    Args args(request);
    QPointF from = args.point("from");
    QPointF to = args.point("to");
    int ms = args.integer("ms", 0, kMaxDragMs, 300);
    auto pointer = pointerOf(args);
    if (!readyForPointer(args, answer))
        return;
    if (!toWindow(from, answer))
        return;
    runDrag(from, to, ms, pointer, [this, answer = std::move(answer)] { settle(answer); });
}

// --- screens -----------------------------------------------------------------

void Automation::tapRow(const Request& request, Answer& answer)
{
    Args args(request);
    int section = args.integer("section", 0, 1'000'000);
    int row = args.integer("row", 0, 1'000'000);
    bool field = args.flag("field", false);
    auto pointer = pointerOf(args);
    if (!readyForPointer(args, answer))
        return;
    Screen* top = reader_.top();
    GroupedTableView* table = top ? top->automationTable() : nullptr;
    if (!table) {
        answer(Reply::failure(QStringLiteral("the screen on top (\"%1\") has no table").arg(top ? top->title() : QString())));
        return;
    }
    if (section >= table->numberOfSections() || row >= table->numberOfRows(section)) {
        answer(Reply::failure(QStringLiteral("no row %1 in section %2 (%3 sections)")
                                  .arg(row).arg(section).arg(table->numberOfSections())));
        return;
    }
    IndexPath path{section, row};
    // A finger can only touch what is on screen: stop a list still moving
    // from a flick (else it carries the row away again), then bring the row
    // into view (a long list makes the row's cell only then).
    table->stopScrolling();
    QRect visible = table->viewport()->rect();
    if (!visible.contains(table->visualRectForRow(path)))
        table->scrollToRow(path, GroupedTableView::ScrollPosition::Middle, false);
    TableCell* cell = table->cellForRow(path);
    QWidget* target = field && cell ? cell->automationField() : cell;
    if (!target) {
        answer(Reply::failure(field ? QStringLiteral("row %1 of section %2 has no text field").arg(row).arg(section)
                                    : QStringLiteral("row %1 of section %2 has no cell").arg(row).arg(section)));
        return;
    }
    if (target == cell)
        tapWidget(cell, pointer, cell->automationTapPoint());
    else
        tapWidget(target, pointer);
    settle(std::move(answer));
}

void Automation::back(const Request& request, Answer& answer)
{
    Args args(request);
    auto pointer = pointerOf(args);
    if (!args.ok()) {
        answer(Reply::failure(args.error()));
        return;
    }
    NavigationStack& nc = reader_.stack();
    BackButton* button = nc.bar()->backButton();
    if (nc.isNavigationBarHidden() || !button->isVisible()) {
        answer(Reply::failure(QStringLiteral("no back button is shown")));
        return;
    }
    if (input_.isDown()) {
        answer(Reply::failure(QStringLiteral("a pointer is down; release it first")));
        return;
    }
    tapWidget(button, pointer);
    settle(std::move(answer));
}

void Automation::type(const Request& request, Answer& answer)
{
    Args args(request);
    QString text = args.text("text", QString());
    bool enter = args.flag("enter", false);
    if (!args.ok()) {
        answer(Reply::failure(args.error()));
        return;
    }
    // The window's focus widget takes the keys even while another
    // program's window is active (Qt delivers them to it all the same).
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        focus = reader_.window().focusWidget();
    if (!focus || !focus->window()->windowHandle()) {
        answer(Reply::failure(QStringLiteral("no widget has the keyboard focus; tap a text field first")));
        return;
    }
    QWindow* window = focus->window()->windowHandle();
    input_.typeText(window, text);
    if (enter)
        input_.pressReturn(window);
    settle(std::move(answer), {{QStringLiteral("focus"), describe(focus)}});
}

void Automation::pick(const Request& request, Answer& answer)
{
    Args args(request);
    int tag = args.integer("tag", 0, 1'000'000'000);
    int column = args.integer("column", 0, 1'000);
    int row = args.integer("row", 0, 1'000'000);
    auto pointer = pointerOf(args);
    if (!readyForPointer(args, answer))
        return;
    Screen* top = reader_.top();
    QString error = QStringLiteral("there is no screen");
    std::vector<AutomationDrag> drags = top ? top->pickDrags(tag, column, row, error) : std::vector<AutomationDrag>{};
    if (drags.empty()) {
        // The screen says why: no such widget, not a picker, no such column or row.
        answer(Reply::failure(error));
        return;
    }
    runDrags(std::move(drags), pointer, [this, tag, answer = std::move(answer)] {
        QJsonObject fields;
        if (Screen* top = reader_.top())
            for (const QJsonValue& w : top->inspectWidgets())
                if (w[QLatin1String("tag")].toInt() == tag)
                    fields.insert(QStringLiteral("widget"), w);
        settle(answer, fields);
    });
}

void Automation::alertButton(const Request& request, Answer& answer)
{
    Args args(request);
    int index = args.integer("index", 0, 1'000);
    auto pointer = pointerOf(args);
    if (!args.ok()) {
        answer(Reply::failure(args.error()));
        return;
    }
    QMessageBox* box = ScreenReader::shownAlert();
    if (!box) {
        answer(Reply::failure(QStringLiteral("no alert is shown")));
        return;
    }
    QList<QAbstractButton*> buttons = box->buttons();
    if (index >= buttons.size()) {
        answer(Reply::failure(QStringLiteral("the alert has %1 buttons").arg(buttons.size())));
        return;
    }
    if (input_.isDown()) {
        answer(Reply::failure(QStringLiteral("a pointer is down; release it first")));
        return;
    }
    QString pressed = buttons[index]->text();
    tapWidget(buttons[index], pointer);
    settle(std::move(answer), {{QStringLiteral("pressed"), pressed}});
}

// --- run ---------------------------------------------------------------------

void Automation::wait(const Request& request, Answer& answer)
{
    Args args(request);
    int ms = args.integer("ms", 0, kMaxWaitMs);
    if (!args.ok()) {
        answer(Reply::failure(args.error()));
        return;
    }
    later(ms, [answer = std::move(answer)] { answer(Reply::success()); });
}

void Automation::quit(const Request&, Answer& answer)
{
    answer(Reply::success());
    // After this command's answer has gone out, from the event loop.
    QTimer::singleShot(0, this, [this] { emit quitRequested(); });
}

} // namespace fieldmon::automation
