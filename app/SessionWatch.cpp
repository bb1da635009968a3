#include "app/SessionWatch.h"

#include "app/LinkDot.h"
#include "app/LongPress.h"
#include "app/StaleMarks.h"
#include "device/Client.h"
#include "elements/RemoteView.h"
#include "elements/label/LabelView.h"
#include "pages/ClientDynamicTable.h"
#include "pages/DevicePage.h"
#include "pages/PageBuildContext.h"
#include "session/DeviceSession.h"
#include "variables/RemoteData.h"
#include "uidesc/NumberText.h"
#include "widgets/NavigationStack.h"
#include "widgets/TableCell.h"

#include <QApplication>
#include <QFontMetrics>
#include <QJsonObject>

#include <cmath>
#include <set>

namespace fieldmon {

namespace {

// Where a view shows something: a label's text (a label's view is as wide
// as the page and labels overlap), any other view's whole rectangle.
QRect shownRect(const QWidget* view)
{
    if (auto* label = qobject_cast<const LabelView*>(view)) {
        const int width = QFontMetrics(label->labelFont()).horizontalAdvance(label->shownText());
        const int margin = 6; // a finger's slack around a short text
        if (label->alignment() & Qt::AlignRight)
            return QRect(view->width() - width - margin, 0, width + 2 * margin, view->height());
        return QRect(-margin, 0, width + 2 * margin, view->height());
    }
    return view->rect();
}

QColor colourOf(SessionWatch::Dot dot)
{
    switch (dot) {
    case SessionWatch::Dot::Green: return QColor(0x30, 0xc0, 0x40);
    case SessionWatch::Dot::Amber: return QColor(0xf0, 0xa0, 0x20);
    case SessionWatch::Dot::Red: return QColor(0xe0, 0x30, 0x30);
    }
    return Qt::gray;
}

} // namespace

SessionWatch::SessionWatch(DeviceSession& session, NavigationStack& stack, history::HistoryStore* history,
                           platform::Alerts& alerts, Settings settings)
    : session_(session), stack_(&stack), history_(history), alerts_(alerts), settings_(std::move(settings)),
      marks_(std::make_unique<StaleMarks>())
{
    const auto& record = session_.record();
    openedAt_ = record->loop().now();
    if (history_) {
        feed_ = std::make_unique<history::HistoryFeed>(*history_, record->serialNumber());
        record->variables().setValueObserver(feed_.get());
        history_->loadDevice(record->serialNumber());
        history::HistoryStore* store = history_;
        events_ = record->notifications().subscribe(
            record->eventNotificationIDString(), [this, store](const platform::Notification& n) {
                if (eventMarks_.size() >= 1000)
                    eventMarks_.erase(eventMarks_.begin());
                eventMarks_.push_back({store->now(), n.text() ? QString::fromStdString(*n.text()) : QString()});
            });
    }
    longPress_ = std::make_unique<LongPress>([this](QPoint global) { return armPress(global); },
                                             [this] { longPressed(); });

    dotView_ = new LinkDot(stack.bar());
    dotView_->place();
    checkTimer_.setInterval(kCheckMs);
    connect(&checkTimer_, &QTimer::timeout, this, &SessionWatch::check);
    checkTimer_.start();
    check();
}

SessionWatch::~SessionWatch()
{
    if (const auto& record = session_.record(); record && record->variables().valueObserver() == feed_.get())
        record->variables().setValueObserver(nullptr);
    delete dotView_.data();
}

const std::shared_ptr<Client>& SessionWatch::record() const
{
    return session_.record();
}

bool SessionWatch::ownsScreen(const Screen* screen) const
{
    if (!screen)
        return false;
    auto table = session_.pages();
    if (!table)
        return false;
    for (const auto& [name, page] : *table)
        if (page.get() == screen)
            return true;
    return screen == session_.startPage();
}

std::vector<WidgetVariables> SessionWatch::watched() const
{
    PageBuildContext* made = session_.madeBy();
    return made ? widgetVariables(*made) : std::vector<WidgetVariables>{};
}

bool SessionWatch::staleAt(double now, double stored, double since, double rate)
{
    if (!std::isfinite(rate))
        return false;
    const double from = std::isnan(stored) ? since : stored;
    return now - from > 3 * std::max(rate, 0.0) + 1.0;
}

SessionWatch::Dot SessionWatch::dotFor(const LinkHealth::Figures& f, bool anyStale)
{
    if (anyStale)
        return Dot::Red;
    const double since = f.sinceLast.value_or(INFINITY);
    const double loss = f.loss.value_or(0);
    const double rtt = f.rttMedian.value_or(0);
    if (since <= 2 && loss <= 0 && rtt < 0.25)
        return Dot::Green;
    if (since <= 5 && loss <= 0.2 && rtt <= 1.0)
        return Dot::Amber;
    return Dot::Red;
}

double SessionWatch::noteTopScreen(double now) const
{
    // Looked at by the periodic check and by every question automation
    // asks, which may come right after a page came up.
    if (!stack_ || stack_->top() != top_) {
        top_ = stack_ ? stack_->top() : nullptr;
        topSince_ = now;
    }
    return std::max(openedAt_, topSince_);
}

bool SessionWatch::anyVariableStale(const RatedVariables& variables, double now) const
{
    // A value never stored counts from when the page on top appeared: a
    // page opened late in the session has its first reply's time to come.
    const double since = noteTopScreen(now);
    for (const auto& [v, rate] : variables)
        if (staleAt(now, v->storedAt(), since, rate))
            return true;
    return false;
}

std::unordered_map<int, bool> SessionWatch::staleByTag() const
{
    const double now = record()->loop().now();
    std::unordered_map<int, bool> out;
    PageBuildContext* made = session_.madeBy();
    if (!made)
        return out;
    // A widget that reads no variable of the device is never stale.
    for (const auto& shown : made->shownValues())
        if (auto w = shown.widget.lock())
            out.emplace(w->tag(), false);
    for (const WidgetVariables& w : watched())
        if (anyVariableStale(w.variables, now))
            out[w.view->tag()] = true;
    return out;
}

bool SessionWatch::isStale(const ClientDynamicTable& table, IndexPath path) const
{
    return anyVariableStale(rowVariables(table, path), record()->loop().now());
}

ClientDynamicTable* SessionWatch::tableOnTop() const
{
    if (!stack_ || !ownsScreen(stack_->top()))
        return nullptr;
    return qobject_cast<ClientDynamicTable*>(stack_->top());
}

bool SessionWatch::checkRows(ClientDynamicTable* table, double now)
{
    std::vector<QPointer<QWidget>> stale;
    if (table && table->tableView())
        for (IndexPath path : table->tableView()->visibleRows()) {
            TableCell* cell = table->tableView()->cellForRow(path);
            if (cell && anyVariableStale(rowVariables(*table, path), now))
                stale.push_back(cell);
        }
    const bool any = !stale.empty();
    if (!settings_.staleMarks)
        stale.clear();
    marks_->markCells(std::move(stale));
    return any;
}

void SessionWatch::check()
{
    const double now = record()->loop().now();
    noteTopScreen(now);
    const bool onTop = stack_ && ownsScreen(stack_->top());
    bool anyStale = checkRows(tableOnTop(), now);
    std::vector<std::shared_ptr<RemoteView>> stale;
    for (const WidgetVariables& w : watched()) {
        if (anyVariableStale(w.variables, now)) {
            stale.push_back(w.view);
            if (onTop && w.view->view() && w.view->view()->isVisibleTo(stack_->top()))
                anyStale = true;
        }
    }
    dot_ = dotFor(record()->linkHealth().figures(now), anyStale);
    if (dotView_) {
        dotView_->setColour(colourOf(dot_));
        dotView_->place();
        dotView_->setVisible(onTop);
    }
    if (!settings_.staleMarks)
        stale.clear();
    marks_->markWidgets(stale);
}

std::shared_ptr<RemoteView> SessionWatch::widgetWithTag(int tag) const
{
    PageBuildContext* made = session_.madeBy();
    if (!made)
        return nullptr;
    for (const auto& shown : made->shownValues())
        if (auto w = shown.widget.lock(); w && w->tag() == tag)
            return w;
    return nullptr;
}

std::optional<IndexPath> SessionWatch::valueRowAt(QPoint global) const
{
    ClientDynamicTable* table = tableOnTop();
    if (!table || !table->tableView())
        return std::nullopt;
    for (QWidget* w = QApplication::widgetAt(global); w && w != table; w = w->parentWidget()) {
        auto* cell = qobject_cast<TableCell*>(w);
        if (!cell)
            continue;
        std::optional<IndexPath> path = table->tableView()->pathOfCell(cell);
        if (path && !rowVariables(*table, *path).empty())
            return path;
        return std::nullopt;
    }
    return std::nullopt;
}

std::shared_ptr<RemoteView> SessionWatch::valueWidgetAt(QPoint global) const
{
    if (!stack_ || !ownsScreen(stack_->top()))
        return nullptr;
    Screen* page = stack_->top();
    std::shared_ptr<RemoteView> hit;
    // The last placed is drawn on top.
    for (const WidgetVariables& w : watched()) {
        QWidget* view = w.view->view();
        if (!view || !view->isVisible() || !page->isAncestorOf(view))
            continue;
        if (w.view->elementName() == QLatin1String("joystick"))
            continue;
        if (shownRect(view).contains(view->mapFromGlobal(global)))
            hit = w.view;
    }
    return hit;
}

bool SessionWatch::armPress(QPoint global)
{
    if (!history_)
        return false;
    pressWidget_ = valueWidgetAt(global);
    pressTable_ = nullptr;
    if (!pressWidget_.expired())
        return true;
    std::optional<IndexPath> row = valueRowAt(global);
    if (!row)
        return false;
    pressTable_ = tableOnTop();
    pressRow_ = *row;
    return true;
}

void SessionWatch::longPressed()
{
    if (auto widget = pressWidget_.lock())
        openTrend(*widget);
    else if (pressTable_)
        openTrend(*pressTable_, pressRow_);
}

trends::TrendScreen* SessionWatch::openTrend(const RemoteView& widget, QString* why)
{
    RatedVariables variables;
    for (const WidgetVariables& w : watched())
        if (w.view.get() == &widget)
            variables = w.variables;
    QJsonObject shown;
    widget.inspect(shown);
    return openTrendOf(variables, shown.value(QStringLiteral("text")).toString(), why);
}

trends::TrendScreen* SessionWatch::openTrend(ClientDynamicTable& table, IndexPath path, QString* why)
{
    // The row's value text: the right text of a left/right row, else the
    // row's only text.
    QString text;
    if (TableCell* cell = table.tableView() ? table.tableView()->cellForRow(path) : nullptr) {
        QJsonObject shown;
        cell->inspect(shown);
        for (const char* key : {"right", "center", "text"})
            if (shown.contains(QLatin1String(key))) {
                text = shown.value(QLatin1String(key)).toString();
                break;
            }
    }
    RatedVariables variables = rowVariables(table, path);
    if (variables.empty()) {
        if (why)
            *why = QStringLiteral("row %1 of section %2 shows no value of the device").arg(path.row).arg(path.section);
        return nullptr;
    }
    return openTrendOf(variables, text, why);
}

trends::TrendScreen* SessionWatch::openTrendOf(const RatedVariables& variables, const QString& shownText,
                                               QString* why)
{
    auto fail = [why](const QString& reason) -> trends::TrendScreen* {
        if (why)
            *why = reason;
        return nullptr;
    };
    if (!history_)
        return fail(QStringLiteral("no history is kept"));
    if (!stack_)
        return fail(QStringLiteral("there is no screen"));
    std::vector<trends::TrendTrace> traces;
    std::set<std::string> names;
    for (const auto& [v, rate] : variables) {
        const std::string& name = v->seriesName();
        if (name.empty() || !names.insert(name).second)
            continue;
        if (static_cast<int>(traces.size()) >= trends::TrendScreen::kMaxTraces)
            break;
        traces.push_back({history_->series(record()->serialNumber(), name), QString::fromStdString(name), {}});
    }
    if (traces.empty())
        return fail(QStringLiteral("the widget shows no value of the device"));
    // One value shown in a text that names its unit ("Load 12.5 t"): the
    // trace's units.
    if (traces.size() == 1)
        traces[0].units = QString::fromStdString(uidesc::unitAroundNumber(shownText.toStdString()));
    const auto& r = *record();
    auto* trend = new trends::TrendScreen(*history_, r.serialNumber(), QString::fromStdString(r.name()),
                                          std::move(traces), alerts_);
    trend->setTitle(QString::fromStdString(r.name()));
    trend->setAttribute(Qt::WA_DeleteOnClose); // gone once popped
    // The page under the trend keeps fetching its values while the trend
    // shows: that is what the trend records.
    if (auto* page = qobject_cast<DevicePage*>(stack_->top()); page && ownsScreen(page)) {
        page->holdLive();
        QPointer<DevicePage> held(page);
        connect(trend, &QObject::destroyed, page, [held] {
            if (held)
                held->releaseLive();
        });
    }
    trend->setExportFolder(settings_.exportFolder);
    trend->setEvents(eventMarks_);
    // A history younger than a minute fills the minute's span.
    double first = history_->now();
    for (const auto& info : history_->seriesOf(r.serialNumber()))
        if (names.count(info.name))
            first = std::min(first, info.first);
    if (history_->now() - first < 60)
        trend->setSpan(trends::TrendWindow::Span::Minute);
    stack_->push(trend, true);
    return trend;
}

} // namespace fieldmon
