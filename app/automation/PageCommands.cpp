// "widgets" and "pick": a device's pages, whose widgets are named by their
// elements and whose pickers turn by drags.

#include "app/automation/Commands.h"

#include "app/AppShell.h"
#include "app/SessionWatch.h"
#include "widgets/Screen.h"

namespace fieldmon::automation {

namespace {

void widgets(CommandContext& context, const Request& request, Answer& answer)
{
    // With "tag", only that widget: a script that watches one value on a
    // page of hundreds asks for it without costing the app the whole page.
    Args args(request);
    int tag = args.integer("tag", -1, 1'000'000'000, -1);
    if (!CommandContext::argsOk(args, answer))
        return;
    Screen* top = context.reader().top();
    QJsonArray widgets;
    if (top)
        widgets = tag < 0 ? top->inspectWidgets() : top->inspectWidget(tag);
    // Value widgets of the open device's pages say whether what they show
    // is stale.
    SessionWatch* watch = context.shell() ? context.shell()->sessionWatch() : nullptr;
    if (watch && watch->ownsScreen(top)) {
        const std::unordered_map<int, bool> stale = watch->staleByTag();
        for (QJsonValueRef w : widgets) {
            QJsonObject o = w.toObject();
            if (auto it = stale.find(o[QLatin1String("tag")].toInt()); it != stale.end()) {
                o[QLatin1String("stale")] = it->second;
                w = o;
            }
        }
    }
    answer(Reply::success({{QStringLiteral("widgets"), widgets}}));
}

void pick(CommandContext& context, const Request& request, Answer& answer)
{
    Args args(request);
    int tag = args.integer("tag", 0, 1'000'000'000);
    int column = args.integer("column", 0, 1'000);
    int row = args.integer("row", 0, 1'000'000);
    auto pointer = CommandContext::pointerOf(args);
    if (!context.readyForPointer(args, answer))
        return;
    Screen* top = context.reader().top();
    QString error = QStringLiteral("there is no screen");
    std::vector<AutomationDrag> drags = top ? top->pickDrags(tag, column, row, error) : std::vector<AutomationDrag>{};
    if (drags.empty()) {
        // The screen says why: no such widget, not a picker, no such column or row.
        answer(Reply::failure(error));
        return;
    }
    context.runDrags(std::move(drags), pointer, [&context, tag, answer = std::move(answer)] {
        QJsonObject fields;
        if (Screen* top = context.reader().top())
            for (const QJsonValue& w : top->inspectWidgets())
                if (w[QLatin1String("tag")].toInt() == tag)
                    fields.insert(QStringLiteral("widget"), w);
        context.settle(answer, fields);
    });
}

} // namespace

void addPageCommands(CommandTable& table, CommandContext& context)
{
    addCommand(table, context, "widgets", widgets, true);
    addCommand(table, context, "pick", pick, false);
}

} // namespace fieldmon::automation
