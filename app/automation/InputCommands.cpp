// "tap", "press", "move", "release", "drag" and "type": the pointer and the
// keyboard, on whatever screen is on top.

#include "app/automation/Commands.h"

#include "app/AppWindow.h"

#include <QApplication>

#include <optional>
#include <utility>

namespace fieldmon::automation {

namespace {

constexpr int kMaxDragMs = 60'000;

QString describe(const QWidget* w)
{
    return QString::fromLatin1(w->metaObject()->className());
}

// The window point of the request's page point (x, y) and its pointer, or
// nothing (with an answer given) when no gesture may begin there.
std::optional<std::pair<QPointF, InputSynthesizer::Pointer>> gestureAt(CommandContext& context,
                                                                       const Request& request, Answer& answer)
{
    Args args(request);
    QPointF page{args.number("x"), args.number("y")}; // braces: x is read (and reported) first
    auto pointer = CommandContext::pointerOf(args);
    if (!context.readyForPointer(args, answer))
        return std::nullopt;
    std::optional<QPointF> at = context.toWindow(page, answer);
    if (!at)
        return std::nullopt;
    return std::pair{*at, pointer};
}

void tap(CommandContext& context, const Request& request, Answer& answer)
{
    auto at = gestureAt(context, request, answer);
    if (!at)
        return;
    context.input().tap(context.reader().window().windowHandle(), at->first, at->second);
    context.settle(std::move(answer));
}

void press(CommandContext& context, const Request& request, Answer& answer)
{
    auto at = gestureAt(context, request, answer);
    if (!at)
        return;
    context.input().press(context.reader().window().windowHandle(), at->first, at->second);
    answer(Reply::success());
}

void move(CommandContext& context, const Request& request, Answer& answer)
{
    Args args(request);
    QPointF page{args.number("x"), args.number("y")}; // braces: x is read (and reported) first
    if (!CommandContext::argsOk(args, answer))
        return;
    if (!context.input().isDown()) {
        answer(Reply::failure(QStringLiteral("no pointer is down; press first")));
        return;
    }
    // A finger may leave the window while it is down; the events follow it.
    context.input().move(page + context.reader().pageOrigin());
    answer(Reply::success());
}

void release(CommandContext& context, const Request&, Answer& answer)
{
    if (!context.input().isDown()) {
        answer(Reply::failure(QStringLiteral("no pointer is down")));
        return;
    }
    context.input().release();
    context.settle(std::move(answer));
}

void drag(CommandContext& context, const Request& request, Answer& answer)
{
    Args args(request);
    QPointF from = args.point("from");
    QPointF to = args.point("to");
    int ms = args.integer("ms", 0, kMaxDragMs, 300);
    auto pointer = CommandContext::pointerOf(args);
    if (!context.readyForPointer(args, answer))
        return;
    if (!context.toWindow(from, answer))
        return;
    context.runDrag(from, to, ms, pointer, [&context, answer = std::move(answer)] { context.settle(answer); });
}

void type(CommandContext& context, const Request& request, Answer& answer)
{
    Args args(request);
    QString text = args.text("text", QString());
    bool enter = args.flag("enter", false);
    if (!CommandContext::argsOk(args, answer))
        return;
    // The window's focus widget takes the keys even while another
    // program's window is active (Qt delivers them to it all the same).
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        focus = context.reader().window().focusWidget();
    if (!focus || !focus->window()->windowHandle()) {
        answer(Reply::failure(QStringLiteral("no widget has the keyboard focus; tap a text field first")));
        return;
    }
    QWindow* window = focus->window()->windowHandle();
    context.input().typeText(window, text);
    if (enter)
        context.input().pressReturn(window);
    context.settle(std::move(answer), {{QStringLiteral("focus"), describe(focus)}});
}

} // namespace

void addInputCommands(CommandTable& table, CommandContext& context)
{
    addCommand(table, context, "tap", tap, false);
    addCommand(table, context, "press", press, false);
    addCommand(table, context, "move", move, false);
    addCommand(table, context, "release", release, false);
    addCommand(table, context, "drag", drag, false);
    addCommand(table, context, "type", type, false);
}

} // namespace fieldmon::automation
