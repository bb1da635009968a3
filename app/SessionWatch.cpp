#include "app/SessionWatch.h"

#include "device/Client.h"
#include "device/ClientUpdate.h"
#include "elements/RemoteView.h"
#include "elements/label/LabelView.h"
#include "expr/Node.h"
#include "expr/Scope.h"
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
#include <QGraphicsOpacityEffect>
#include <QJsonObject>
#include <QMouseEvent>
#include <QPainter>
#include <QTouchEvent>
#include <QWindow>

#include <cmath>
#include <set>

namespace fieldmon {

namespace {

constexpr char kStaleEffect[] = "staleMark";

// The remote variables an expression reads: variables, structure members
// and array elements, and what their indexes read. A whole structure is
// not a value of its own. Without `scope`, as the last refresh resolved
// them; with one (a table row's), as they resolve in it: a row's texts
// share their nodes with every other row of the template.
void collectVariables(expr::Node& node, std::vector<std::shared_ptr<RemoteData>>& out, expr::Scope* scope,
                      int depth = 0)
{
    if (depth > 256)
        return;
    switch (node.type()) {
    case expr::NodeKind::RemoteVariable:
    case expr::NodeKind::Element:
    case expr::NodeKind::Index:
        if (scope)
            node.updateRemoteDataWithEnvironment(scope);
        if (const auto& v = node.remoteData(); v && !v->structureType())
            out.push_back(v);
        if (node.type() == expr::NodeKind::Index && node.indexNode())
            collectVariables(*node.indexNode(), out, scope, depth + 1);
        if (node.type() == expr::NodeKind::Element && node.structure() &&
            node.structure()->type() == expr::NodeKind::Index && node.structure()->indexNode())
            collectVariables(*node.structure()->indexNode(), out, scope, depth + 1);
        return;
    case expr::NodeKind::Operator:
    case expr::NodeKind::Function:
        for (const auto& a : node.args())
            if (a)
                collectVariables(*a, out, scope, depth + 1);
        return;
    default: return;
    }
}

// Dims `view` (a widget or a table cell) as stale; returns the opacity it
// had before.
double dim(QWidget& view, const char* mark)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view.graphicsEffect());
    if (effect) {
        const double before = effect->opacity();
        effect->setOpacity(before * 0.35);
        return before;
    }
    effect = new QGraphicsOpacityEffect(&view);
    effect->setObjectName(QLatin1String(mark));
    effect->setOpacity(0.35);
    view.setGraphicsEffect(effect);
    return 1.0;
}

// Undoes dim(): our own effect goes, another keeps its place with the
// opacity it had.
void undim(QWidget& view, const char* mark, double before)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view.graphicsEffect());
    if (effect && effect->objectName() == QLatin1String(mark))
        view.setGraphicsEffect(nullptr);
    else if (effect)
        effect->setOpacity(before);
}

// The dot at the right of the navigation bar.
class LinkDot final : public QWidget {
public:
    explicit LinkDot(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setObjectName(QStringLiteral("linkDot"));
        resize(12, 12);
    }
    void setColour(QColor c)
    {
        if (c != colour_) {
            colour_ = c;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(255, 255, 255, 200), 1));
        p.setBrush(colour_);
        p.drawEllipse(QRectF(1, 1, width() - 2, height() - 2));
    }

private:
    QColor colour_ = Qt::green;
};

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

struct SessionWatch::Watched {
    std::shared_ptr<RemoteView> view;
    RatedVariables variables;
};

SessionWatch::SessionWatch(DeviceSession& session, NavigationStack& stack, history::HistoryStore* history,
                           platform::Alerts& alerts, Settings settings)
    : session_(session), stack_(&stack), history_(history), alerts_(alerts), settings_(std::move(settings))
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
    pressTimer_.setSingleShot(true);
    pressTimer_.setInterval(kLongPressMs);
    connect(&pressTimer_, &QTimer::timeout, this, &SessionWatch::longPressed);
    qApp->installEventFilter(this);

    dotView_ = new LinkDot(stack.bar());
    placeDot();
    checkTimer_.setInterval(kCheckMs);
    connect(&checkTimer_, &QTimer::timeout, this, &SessionWatch::check);
    checkTimer_.start();
    check();
}

SessionWatch::~SessionWatch()
{
    qApp->removeEventFilter(this);
    if (const auto& record = session_.record(); record && record->variables().valueObserver() == feed_.get())
        record->variables().setValueObserver(nullptr);
    for (auto& [weak, opacity] : dimmed_)
        if (auto w = weak.lock(); w && w->view())
            undim(*w->view(), kStaleEffect, opacity);
    for (const auto& cell : dimmedCells_)
        if (cell)
            undim(*cell, kStaleEffect, 1.0);
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

std::vector<SessionWatch::Watched> SessionWatch::watched() const
{
    std::vector<Watched> out;
    PageBuildContext* made = session_.madeBy();
    if (!made)
        return out;
    for (const auto& shown : made->shownValues()) {
        Watched w;
        w.view = shown.widget.lock();
        if (!w.view)
            continue;
        for (const auto& e : shown.expressions) {
            auto node = e.node.lock();
            if (!node)
                continue;
            std::vector<std::shared_ptr<RemoteData>> vars;
            collectVariables(*node, vars, nullptr);
            for (auto& v : vars)
                w.variables.push_back({std::move(v), e.rate});
        }
        if (!w.variables.empty())
            out.push_back(std::move(w));
    }
    return out;
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

SessionWatch::RatedVariables SessionWatch::rowVariables(const ClientDynamicTable& table, IndexPath path) const
{
    RatedVariables out;
    const double rate = ClientUpdate::parseUpdateRate(table.refreshRate()).updateRate;
    for (const auto& scope : table.rowScopes(path)) {
        if (!scope->expression())
            continue;
        std::vector<std::shared_ptr<RemoteData>> vars;
        collectVariables(*scope->expression(), vars, scope.get());
        for (auto& v : vars)
            out.push_back({std::move(v), rate});
    }
    return out;
}

bool SessionWatch::anyVariableStale(const RatedVariables& variables, double now) const
{
    // A value never stored counts from when the page on top appeared: a
    // page opened late in the session has its first reply's time to come.
    const double since = std::max(openedAt_, topSince_);
    for (const auto& [v, rate] : variables)
        if (staleAt(now, v->storedAt(), since, rate))
            return true;
    return false;
}

std::unordered_map<int, bool> SessionWatch::staleByTag() const
{
    const double now = record()->loop().now();
    std::unordered_map<int, bool> out;
    for (const Watched& w : watched())
        out.emplace(w.view->tag(), anyVariableStale(w.variables, now));
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

bool SessionWatch::markStaleRows(ClientDynamicTable* table, double now)
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
    for (const auto& cell : dimmedCells_)
        if (cell && std::find(stale.begin(), stale.end(), cell) == stale.end())
            undim(*cell, kStaleEffect, 1.0);
    for (const auto& cell : stale)
        if (std::find(dimmedCells_.begin(), dimmedCells_.end(), cell) == dimmedCells_.end())
            dim(*cell, kStaleEffect);
    dimmedCells_ = std::move(stale);
    return any;
}

void SessionWatch::check()
{
    const double now = record()->loop().now();
    if (!stack_ || stack_->top() != top_) {
        top_ = stack_ ? stack_->top() : nullptr;
        topSince_ = now;
    }
    const bool onTop = stack_ && ownsScreen(stack_->top());
    bool anyStale = markStaleRows(tableOnTop(), now);
    std::vector<std::shared_ptr<RemoteView>> stale;
    for (const Watched& w : watched()) {
        if (anyVariableStale(w.variables, now)) {
            stale.push_back(w.view);
            if (onTop && w.view->view() && w.view->view()->isVisibleTo(stack_->top()))
                anyStale = true;
        }
    }
    dot_ = dotFor(record()->linkHealth().figures(now), anyStale);
    if (dotView_) {
        static_cast<LinkDot*>(dotView_.data())->setColour(colourOf(dot_));
        placeDot();
        dotView_->setVisible(onTop);
    }
    if (!settings_.staleMarks)
        return;
    // Undim what is fresh again, dim what went stale.
    std::erase_if(dimmed_, [&](auto& entry) {
        auto w = entry.first.lock();
        if (!w)
            return true;
        if (std::find(stale.begin(), stale.end(), w) != stale.end())
            return false;
        if (QWidget* view = w->view())
            undim(*view, kStaleEffect, entry.second);
        return true;
    });
    for (const auto& w : stale) {
        QWidget* view = w->view();
        if (!view)
            continue;
        bool already = false;
        for (const auto& entry : dimmed_)
            if (entry.first.lock() == w)
                already = true;
        if (already)
            continue;
        dimmed_.push_back({w, dim(*view, kStaleEffect)});
    }
}

void SessionWatch::placeDot()
{
    if (!dotView_ || !dotView_->parentWidget())
        return;
    QWidget* bar = dotView_->parentWidget();
    dotView_->move(bar->width() - dotView_->width() - 8, (bar->height() - dotView_->height()) / 2);
    dotView_->raise();
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
    for (const Watched& w : watched()) {
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

bool SessionWatch::eventFilter(QObject* watched, QEvent* event)
{
    // Mouse events (those Qt makes of touches too) are seen once, as they
    // reach the window, before any widget under them takes them.
    if (!qobject_cast<QWindow*>(watched))
        return QObject::eventFilter(watched, event);
    auto pressed = [this](QPoint global) {
        swallowRelease_ = false;
        pressTimer_.stop();
        if (!history_)
            return;
        pressWidget_ = valueWidgetAt(global);
        pressTable_ = nullptr;
        if (pressWidget_.expired()) {
            std::optional<IndexPath> row = valueRowAt(global);
            if (!row)
                return;
            pressTable_ = tableOnTop();
            pressRow_ = *row;
        }
        pressAt_ = global;
        pressTarget_ = QApplication::widgetAt(global);
        pressTimer_.start();
    };
    auto moved = [this](QPoint global) {
        if (pressTimer_.isActive() && (global - pressAt_).manhattanLength() > kSlopPixels)
            pressTimer_.stop();
        return swallowRelease_;
    };
    auto released = [this] {
        pressTimer_.stop();
        // The long press took this press: nothing under it sees the end.
        const bool swallow = swallowRelease_;
        swallowRelease_ = false;
        return swallow;
    };
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton)
            pressed(me->globalPosition().toPoint());
        break;
    }
    case QEvent::MouseMove:
        if (moved(static_cast<QMouseEvent*>(event)->globalPosition().toPoint()))
            return true;
        break;
    case QEvent::MouseButtonRelease:
        if (released())
            return true;
        break;
    // A finger on a widget that takes touches itself comes as touches.
    case QEvent::TouchBegin: {
        auto* te = static_cast<QTouchEvent*>(event);
        if (te->points().size() == 1)
            pressed(te->points().front().globalPosition().toPoint());
        else
            pressTimer_.stop();
        break;
    }
    case QEvent::TouchUpdate: {
        auto* te = static_cast<QTouchEvent*>(event);
        if (te->points().size() != 1)
            pressTimer_.stop();
        else if (moved(te->points().front().globalPosition().toPoint()))
            return true;
        break;
    }
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
        if (released())
            return true;
        break;
    default: break;
    }
    return QObject::eventFilter(watched, event);
}

void SessionWatch::longPressed()
{
    auto widget = pressWidget_.lock();
    if (!widget && !pressTable_)
        return;
    // Whatever took the press lets go outside itself: a button does not
    // fire, a switch does not turn, a table does not select.
    if (QWidget* grabber = QWidget::mouseGrabber() ? QWidget::mouseGrabber() : pressTarget_.data()) {
        const QPointF outside(-100000, -100000);
        QMouseEvent release(QEvent::MouseButtonRelease, outside, grabber->mapToGlobal(outside), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(grabber, &release);
    }
    swallowRelease_ = true;
    if (widget)
        openTrend(*widget);
    else
        openTrend(*pressTable_, pressRow_);
}

trends::TrendScreen* SessionWatch::openTrend(const RemoteView& widget, QString* why)
{
    RatedVariables variables;
    for (const Watched& w : watched())
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
