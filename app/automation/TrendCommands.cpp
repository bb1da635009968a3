// "trend", "export_csv" and "link": a value's history and the link's health.

#include "app/automation/Commands.h"

#include "app/AppShell.h"
#include "app/SessionWatch.h"
#include "device/Client.h"
#include "elements/RemoteView.h"
#include "pages/ClientDynamicTable.h"
#include "trends/TrendScreen.h"

#include <cmath>

namespace fieldmon::automation {

namespace {

SessionWatch* watchOf(CommandContext& context, Answer& answer)
{
    SessionWatch* watch = context.shell() ? context.shell()->sessionWatch() : nullptr;
    if (!watch)
        answer(Reply::failure(QStringLiteral("no device's pages are open")));
    return watch;
}

// By a widget's "tag", or on a table page by a row's "row" (and "section").
void trend(CommandContext& context, const Request& request, Answer& answer)
{
    Args args(request);
    const int tag = args.integer("tag", -1, 1'000'000'000, -1);
    const int row = args.integer("row", -1, 1'000'000, -1);
    const int section = args.integer("section", 0, 1'000'000, 0);
    if (!CommandContext::argsOk(args, answer))
        return;
    if ((tag < 0) == (row < 0)) {
        answer(Reply::failure(QStringLiteral("give either a widget's tag or a table row's row (and section)")));
        return;
    }
    SessionWatch* watch = watchOf(context, answer);
    if (!watch)
        return;
    QString why;
    if (tag >= 0) {
        auto widget = watch->widgetWithTag(tag);
        if (!widget) {
            answer(Reply::failure(QStringLiteral("no widget with tag %1 shows a value of the device").arg(tag)));
            return;
        }
        if (!watch->openTrend(*widget, &why)) {
            answer(Reply::failure(why));
            return;
        }
    } else {
        ClientDynamicTable* table = watch->tableOnTop();
        if (!table) {
            answer(Reply::failure(QStringLiteral("the screen on top is no table page of the device")));
            return;
        }
        if (!watch->openTrend(*table, IndexPath{section, row}, &why)) {
            answer(Reply::failure(why));
            return;
        }
    }
    context.settle(std::move(answer));
}

void exportCsv(CommandContext& context, const Request& request, Answer& answer)
{
    Args args(request);
    const QString path = args.text("path");
    const QString window = args.choice("window", {"visible", "all"}, "visible");
    if (!CommandContext::argsOk(args, answer))
        return;
    auto* trend = qobject_cast<trends::TrendScreen*>(context.reader().top());
    if (!trend) {
        answer(Reply::failure(QStringLiteral("the screen on top is no trend")));
        return;
    }
    trend->exportCsvTo(path, window == QLatin1String("all"), [answer = std::move(answer)](const history::CsvResult& r) {
        if (r.ok)
            answer(Reply::success({{QStringLiteral("path"), QString::fromStdString(r.path)},
                                   {QStringLiteral("records"), static_cast<double>(r.records)}}));
        else
            answer(Reply::failure(QString::fromStdString(r.reason)));
    });
}

void link(CommandContext& context, const Request&, Answer& answer)
{
    SessionWatch* watch = watchOf(context, answer);
    if (!watch)
        return;
    const Client& record = *watch->record();
    const LinkHealth::Figures f = record.linkHealth().figures(record.loop().now());
    auto figure = [](const std::optional<double>& v, double scale) {
        return v ? QJsonValue(std::round(*v * scale * 1000) / 1000) : QJsonValue(QJsonValue::Null);
    };
    QJsonObject fields{
        {QStringLiteral("serial"), record.serialNumber()},
        {QStringLiteral("rtt_ms_p50"), figure(f.rttMedian, 1000)},
        {QStringLiteral("rtt_ms_p95"), figure(f.rttP95, 1000)},
        {QStringLiteral("loss"), figure(f.loss, 1)},
        {QStringLiteral("since_last_s"), figure(f.sinceLast, 1)},
        {QStringLiteral("replies"), static_cast<double>(f.replies)},
        {QStringLiteral("requests"), static_cast<double>(f.requests)},
    };
    switch (watch->dot()) {
    case SessionWatch::Dot::Green: fields[QStringLiteral("dot")] = QStringLiteral("green"); break;
    case SessionWatch::Dot::Amber: fields[QStringLiteral("dot")] = QStringLiteral("amber"); break;
    case SessionWatch::Dot::Red: fields[QStringLiteral("dot")] = QStringLiteral("red"); break;
    }
    answer(Reply::success(fields));
}

} // namespace

void addTrendCommands(CommandTable& table, CommandContext& context)
{
    addCommand(table, context, "trend", trend, false);
    addCommand(table, context, "export_csv", exportCsv, false);
    addCommand(table, context, "link", link, true);
}

} // namespace fieldmon::automation
