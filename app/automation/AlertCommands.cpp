// "alert" and "alert_button": the alert box over whatever screen is on top,
// answered through its own window.

#include "app/automation/Commands.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace fieldmon::automation {

namespace {

void alert(CommandContext&, const Request&, Answer& answer)
{
    answer(Reply::success(ScreenReader::alert()));
}

void alertButton(CommandContext& context, const Request& request, Answer& answer)
{
    Args args(request);
    int index = args.integer("index", 0, 1'000);
    auto pointer = CommandContext::pointerOf(args);
    if (!CommandContext::argsOk(args, answer))
        return;
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
    if (context.input().isDown()) {
        answer(Reply::failure(QStringLiteral("a pointer is down; release it first")));
        return;
    }
    QString pressed = buttons[index]->text();
    context.tapWidget(buttons[index], pointer);
    context.settle(std::move(answer), {{QStringLiteral("pressed"), pressed}});
}

} // namespace

void addAlertCommands(CommandTable& table, CommandContext& context)
{
    addCommand(table, context, "alert", alert, true);
    addCommand(table, context, "alert_button", alertButton, false);
}

} // namespace fieldmon::automation
