// "rows" and "tap_row": screens with a table (the device list, the detail
// screen, the event log, a table page).

#include "app/automation/Commands.h"

#include "app/AppShell.h"
#include "app/SessionWatch.h"
#include "pages/ClientDynamicTable.h"
#include "widgets/GroupedTableView.h"
#include "widgets/Screen.h"
#include "widgets/TableCell.h"

#include <QGraphicsOpacityEffect>

namespace fieldmon::automation {

namespace {

QString noTable(const Screen* top)
{
    return QStringLiteral("the screen on top (\"%1\") has no table").arg(top ? top->title() : QString());
}

void rows(CommandContext& context, const Request&, Answer& answer)
{
    std::optional<QJsonArray> sections = context.reader().rows();
    if (!sections) {
        answer(Reply::failure(noTable(context.reader().top())));
        return;
    }
    // The rows of a device's table page say whether what they show is
    // stale, and how opaque their cells are drawn (a stale row is dimmed).
    SessionWatch* watch = context.shell() ? context.shell()->sessionWatch() : nullptr;
    if (ClientDynamicTable* table = watch ? watch->tableOnTop() : nullptr)
        for (int si = 0; si < sections->size(); ++si) {
            QJsonObject section = (*sections)[si].toObject();
            QJsonArray rows = section[QLatin1String("rows")].toArray();
            for (int r = 0; r < rows.size(); ++r) {
                QJsonObject row = rows[r].toObject();
                const IndexPath path{si, r};
                row[QLatin1String("stale")] = watch->isStale(*table, path);
                if (TableCell* cell = table->tableView()->cellForRow(path)) {
                    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(cell->graphicsEffect());
                    row[QLatin1String("alpha")] = effect ? effect->opacity() : 1.0;
                }
                rows[r] = row;
            }
            section[QLatin1String("rows")] = rows;
            (*sections)[si] = section;
        }
    answer(Reply::success({{QStringLiteral("sections"), *sections}}));
}

void tapRow(CommandContext& context, const Request& request, Answer& answer)
{
    Args args(request);
    int section = args.integer("section", 0, 1'000'000);
    int row = args.integer("row", 0, 1'000'000);
    bool field = args.flag("field", false);
    auto pointer = CommandContext::pointerOf(args);
    if (!context.readyForPointer(args, answer))
        return;
    Screen* top = context.reader().top();
    GroupedTableView* table = top ? top->automationTable() : nullptr;
    if (!table) {
        answer(Reply::failure(noTable(top)));
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
        context.tapWidget(cell, pointer, cell->automationTapPoint());
    else
        context.tapWidget(target, pointer);
    context.settle(std::move(answer));
}

} // namespace

void addTableCommands(CommandTable& table, CommandContext& context)
{
    addCommand(table, context, "rows", rows, true);
    addCommand(table, context, "tap_row", tapRow, false);
}

} // namespace fieldmon::automation
