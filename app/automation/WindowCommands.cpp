// "screen", "back", "screenshot" and "wait": the window and its navigation
// stack, whatever screen is on top.

#include "app/automation/Commands.h"

#include "app/AppWindow.h"
#include "platform/SafeFileWrite.h"
#include "widgets/NavigationStack.h"

namespace fieldmon::automation {

namespace {

constexpr int kMaxWaitMs = 600'000;

void screen(CommandContext& context, const Request&, Answer& answer)
{
    answer(Reply::success(context.reader().screen()));
}

void back(CommandContext& context, const Request& request, Answer& answer)
{
    Args args(request);
    auto pointer = CommandContext::pointerOf(args);
    if (!CommandContext::argsOk(args, answer))
        return;
    NavigationStack& nc = context.reader().stack();
    BackButton* button = nc.bar()->backButton();
    if (nc.isNavigationBarHidden() || !button->isVisible()) {
        answer(Reply::failure(QStringLiteral("no back button is shown")));
        return;
    }
    if (context.input().isDown()) {
        answer(Reply::failure(QStringLiteral("a pointer is down; release it first")));
        return;
    }
    context.tapWidget(button, pointer);
    context.settle(std::move(answer));
}

void screenshot(CommandContext& context, const Request& request, Answer& answer)
{
    Args args(request);
    QString path = args.text("path");
    const bool overwrite = args.flag("overwrite", false);
    if (!CommandContext::argsOk(args, answer))
        return;
    if (path.isEmpty()) {
        answer(Reply::failure(QStringLiteral("\"path\" is empty")));
        return;
    }
    const QByteArray png = context.reader().screenshot();
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
    QSize size = context.reader().window().size();
    answer(Reply::success({{QStringLiteral("path"), QString::fromStdString(written.path)},
                           {QStringLiteral("size"), QJsonArray{size.width(), size.height()}}}));
}

void wait(CommandContext& context, const Request& request, Answer& answer)
{
    Args args(request);
    int ms = args.integer("ms", 0, kMaxWaitMs);
    if (!CommandContext::argsOk(args, answer))
        return;
    context.later(ms, [answer = std::move(answer)] { answer(Reply::success()); });
}

} // namespace

void addWindowCommands(CommandTable& table, CommandContext& context)
{
    addCommand(table, context, "screen", screen, true);
    addCommand(table, context, "back", back, false);
    addCommand(table, context, "screenshot", screenshot, false);
    addCommand(table, context, "wait", wait, true);
}

} // namespace fieldmon::automation
