#include "trends/TrendScreen.h"

#include "trends/TrendGestures.h"
#include "trends/TrendLegend.h"
#include "widgets/PhoneStyle.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace fieldmon::trends {

namespace {

constexpr int kTopRow = 36;
constexpr int kBottomRow = 44;

const QColor kColours[TrendScreen::kMaxTraces] = {
    QColor(0x1f, 0x6f, 0xd0), QColor(0xd9, 0x53, 0x19), QColor(0x2a, 0x9d, 0x3c), QColor(0x8e, 0x44, 0xad),
    QColor(0xc0, 0x39, 0x2b), QColor(0x16, 0xa0, 0x85), QColor(0x7f, 0x6a, 0x00), QColor(0x55, 0x55, 0x55),
};

const char* kButtonStyle = "QPushButton { background: #f4f6f9; border: 1px solid #8c9bb0; border-radius: 5px;"
                           " color: #2c3e5c; font: 12px 'DejaVu Sans'; padding: 0 4px; }"
                           "QPushButton:checked { background: #385487; color: white; border-color: #2c4470; }"
                           "QPushButton:pressed { background: #c8d3e4; }"
                           "QPushButton:disabled { color: #a0a8b4; }";

QString describe(history::SampleKind kind)
{
    switch (kind) {
    case history::SampleKind::Number:
    case history::SampleKind::Text:
        return {};
    case history::SampleKind::Error:
        return QStringLiteral("error");
    case history::SampleKind::NaN:
        return QStringLiteral("NaN");
    case history::SampleKind::PlusInfinity:
        return QStringLiteral("+inf");
    case history::SampleKind::MinusInfinity:
        return QStringLiteral("\u2212inf");
    case history::SampleKind::Huge:
        return QStringLiteral("over range");
    }
    return {};
}

QString number(double v, const QString& units)
{
    QString s = QString::number(v, 'g', 5);
    if (!units.isEmpty())
        s += QLatin1Char(' ') + units;
    return s;
}

// A tick step that puts four or five labels across `width` seconds.
double tickStep(double width)
{
    static const double steps[] = {1,   2,    5,    10,   15,    30,    60,    120,   300,    600,
                                   900, 1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800};
    for (double s : steps)
        if (width / s <= 5)
            return s;
    return steps[std::size(steps) - 1];
}

QString fileSafe(QString name)
{
    for (QChar& c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_'))
            c = QLatin1Char('_');
    return name.isEmpty() ? QStringLiteral("device") : name;
}

} // namespace

TrendScreen::TrendScreen(history::HistoryStore& store, std::int32_t serial, QString deviceName,
                         std::vector<TrendTrace> traces, platform::Alerts& alerts, QWidget* parent)
    : Screen(parent), store_(store), serial_(serial), deviceName_(std::move(deviceName)), alerts_(alerts),
      exportFolder_(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)), plot_(TrendPlot::create(this)),
      legend_(new TrendLegend(this)), pauseButton_(new QPushButton(tr("Pause"), this)),
      addButton_(new QPushButton(QStringLiteral("+"), this)), exportButton_(new QPushButton(tr("Export CSV"), this))
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    for (auto span : {TrendWindow::Span::Minute, TrendWindow::Span::TenMinutes, TrendWindow::Span::Hour,
                      TrendWindow::Span::Day}) {
        static const char* names[] = {"1 min", "10 min", "1 h", "24 h"};
        auto* b = new QPushButton(QString::fromLatin1(names[static_cast<int>(span)]), this);
        b->setCheckable(true);
        connect(b, &QPushButton::clicked, this, [this, span] { setSpan(span); });
        spanButtons_.push_back(b);
    }
    for (QPushButton* b : spanButtons_)
        b->setStyleSheet(QString::fromLatin1(kButtonStyle));
    for (QPushButton* b : {pauseButton_, addButton_, exportButton_})
        b->setStyleSheet(QString::fromLatin1(kButtonStyle));
    addButton_->setStyleSheet(QString::fromLatin1(kButtonStyle) +
                              QStringLiteral("QPushButton { font: bold 20px 'DejaVu Sans'; }"));
    connect(pauseButton_, &QPushButton::clicked, this, [this] { setPaused(!paused()); });
    connect(addButton_, &QPushButton::clicked, this, &TrendScreen::showAddMenu);
    connect(exportButton_, &QPushButton::clicked, this, &TrendScreen::askExport);
    connect(legend_, &TrendLegend::entryTapped, this, [this](int i) {
        scaleTrace_ = i;
        plot_->setScaleTrace(i);
        legend_->setSelected(i);
        refresh();
    });

    // Touches and the mouse on the plot come here.
    new TrendGestures(plot_->inputSurface(), plot_.get(),
                      {[this](double factor, double x) { zoomAt(factor, x); },
                       [this](double pixels) { panBy(pixels); }, [this](double x) { tapAt(x); }});

    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, &TrendScreen::refresh);

    for (const TrendTrace& t : traces) {
        if (static_cast<int>(traces_.size()) >= kMaxTraces)
            break;
        Trace trace;
        trace.spec = t;
        trace.colour = kColours[traces_.size()];
        traces_.push_back(std::move(trace));
    }
    setTitle(traces_.empty() ? tr("Trend") : traces_.front().spec.name);
    rebuildTraces();
    updateButtons();
    resize(phone::kScreenWidth, phone::kPageHeight);
    layoutChildren();
    refresh();
}

TrendScreen::~TrendScreen() = default;

void TrendScreen::rebuildTraces()
{
    std::vector<TraceStyle> styles;
    for (const Trace& t : traces_)
        styles.push_back({t.spec.units.isEmpty() ? t.spec.name : t.spec.name + QStringLiteral(" [") + t.spec.units +
                                                                     QLatin1Char(']'),
                          t.colour});
    plot_->setTraces(styles);
    scaleTrace_ = std::clamp(scaleTrace_, 0, std::max(0, static_cast<int>(traces_.size()) - 1));
    plot_->setScaleTrace(scaleTrace_);
    legend_->setSelected(scaleTrace_);
}

void TrendScreen::setEvents(std::vector<TrendEvent> events)
{
    events_ = std::move(events);
    refresh();
}

bool TrendScreen::addTrace(const TrendTrace& trace)
{
    if (static_cast<int>(traces_.size()) >= kMaxTraces)
        return false;
    for (const Trace& t : traces_)
        if (t.spec.id == trace.id)
            return false;
    Trace t;
    t.spec = trace;
    t.colour = kColours[traces_.size()];
    traces_.push_back(std::move(t));
    rebuildTraces();
    updateButtons();
    layoutChildren();
    refresh();
    return true;
}

std::vector<history::SeriesInfo> TrendScreen::addableSeries() const
{
    std::vector<history::SeriesInfo> out;
    for (history::SeriesInfo& info : store_.seriesOf(serial_)) {
        const bool shown = std::any_of(traces_.begin(), traces_.end(), [&](const Trace& t) { return t.spec.id == info.id; });
        if (!shown)
            out.push_back(std::move(info));
    }
    return out;
}

void TrendScreen::setSpan(TrendWindow::Span span)
{
    window_.setSpan(span);
    updateButtons();
    refresh();
}

void TrendScreen::setPaused(bool paused)
{
    if (paused)
        window_.pause(store_.now());
    else
        window_.resume();
    updateButtons();
    refresh();
}

void TrendScreen::setCursorAt(std::optional<double> t)
{
    cursorT_ = t;
    refresh();
}

void TrendScreen::updateButtons()
{
    for (std::size_t i = 0; i < spanButtons_.size(); ++i)
        spanButtons_[i]->setChecked(static_cast<int>(window_.span()) == static_cast<int>(i) &&
                                    window_.width() == TrendWindow::seconds(window_.span()));
    pauseButton_->setText(window_.paused() ? tr("Resume") : tr("Pause"));
    addButton_->setEnabled(static_cast<int>(traces_.size()) < kMaxTraces);
}

void TrendScreen::resizeEvent(QResizeEvent*) { layoutChildren(); }

void TrendScreen::layoutChildren()
{
    const int w = width();
    const int h = height();
    const int gap = 4;
    int x = 6;
    for (QPushButton* b : spanButtons_) {
        b->setGeometry(x, 6, 50, kTopRow - 10);
        x += 50 + gap;
    }
    pauseButton_->setGeometry(w - 6 - 76, 6, 76, kTopRow - 10);
    const int legendHeight = TrendLegend::heightFor(std::max(1, static_cast<int>(traces_.size())));
    const int plotBottom = h - kBottomRow - legendHeight - 4;
    plot_->setGeometry(0, kTopRow, w, std::max(80, plotBottom - kTopRow));
    legend_->setGeometry(0, plotBottom + 2, w, legendHeight);
    addButton_->setGeometry(6, h - kBottomRow + 6, 44, kBottomRow - 12);
    exportButton_->setGeometry(w - 6 - 110, h - kBottomRow + 6, 110, kBottomRow - 12);
}

QString TrendScreen::timeLabel(double t, bool seconds) const
{
    const auto wallMs = static_cast<qint64>(std::llround(store_.wallAt(t) * 1000));
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(wallMs);
    return when.toString(seconds ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
}

double TrendScreen::timeAtX(double x) const
{
    const QRectF area = plot_->plotArea();
    const auto [from, to] = window_.window(store_.now());
    if (area.width() <= 0)
        return to;
    return from + (x - area.left()) / area.width() * (to - from);
}

QString TrendScreen::valueAt(const Trace& trace, double t) const
{
    // The newest text in force, for a trace of texts.
    for (auto it = trace.data.texts.rbegin(); it != trace.data.texts.rend(); ++it)
        if (it->t <= t)
            return QString::fromStdString(it->text);
    // The last point at or before t, unless the line breaks between it and
    // the next one (t lies in a silence).
    const auto& points = trace.data.points;
    auto after = std::upper_bound(points.begin(), points.end(), t,
                                  [](double time, const history::TracePoint& p) { return time < p.t; });
    const bool inGap = after != points.end() && std::isnan(after->v);
    for (auto it = after; !inGap && it != points.begin();) {
        --it;
        if (std::isnan(it->v))
            break;
        return number(it->v, trace.spec.units);
    }
    for (auto it = trace.data.marks.rbegin(); it != trace.data.marks.rend(); ++it)
        if (it->t <= t && std::fabs(it->t - t) < 2)
            return describe(it->kind);
    return QStringLiteral("\u2013");
}

QString TrendScreen::latestText(const Trace& trace) const
{
    const auto last = store_.latest(trace.spec.id);
    if (!last)
        return QStringLiteral("\u2013");
    switch (last->kind) {
    case history::SampleKind::Number:
        return number(last->number, trace.spec.units);
    case history::SampleKind::Text:
        return QString::fromStdString(last->text);
    case history::SampleKind::Error:
    case history::SampleKind::NaN:
    case history::SampleKind::PlusInfinity:
    case history::SampleKind::MinusInfinity:
    case history::SampleKind::Huge:
        return describe(last->kind);
    }
    return {};
}

void TrendScreen::refresh()
{
    const double now = store_.now();
    const auto [from, to] = window_.window(now);
    const int columns = std::max(1, static_cast<int>(plot_->plotArea().width()));

    // Ticks on round local times.
    const double step = tickStep(to - from);
    const double offset = QDateTime::currentDateTime().offsetFromUtc();
    std::vector<TimeTick> ticks;
    for (double t = std::ceil((from + offset) / step) * step - offset; t < to; t += step)
        ticks.push_back({t, timeLabel(t, step < 60)});
    plot_->setWindow(from, to, ticks);

    std::vector<Marker> markers;
    for (const TrendEvent& e : events_)
        markers.push_back({e.t, Marker::Kind::Event, {}});
    std::vector<TrendLegend::Entry> entries;
    std::optional<Cursor> cursor;
    const bool cursorShown = cursorT_ && *cursorT_ >= from && *cursorT_ <= to;
    if (cursorShown)
        cursor = Cursor{*cursorT_, timeLabel(*cursorT_, true), {}};
    for (std::size_t i = 0; i < traces_.size(); ++i) {
        Trace& trace = traces_[i];
        store_.query(trace.spec.id, from, to, columns, trace.data);
        double lo = INFINITY, hi = -INFINITY;
        for (const history::TracePoint& p : trace.data.points) {
            if (std::isnan(p.v) || p.t < from || p.t > to)
                continue;
            lo = std::min(lo, p.v);
            hi = std::max(hi, p.v);
        }
        if (!(lo <= hi)) {
            lo = 0;
            hi = 1;
        }
        const double pad = hi > lo ? (hi - lo) * 0.08 : std::max(1.0, std::fabs(lo) * 0.05);
        trace.yMin = lo - pad;
        trace.yMax = hi + pad;
        plot_->setTraceData(static_cast<int>(i), trace.data.points, trace.yMin, trace.yMax);
        for (const history::TraceMark& m : trace.data.marks)
            markers.push_back({m.t, Marker::Kind::NotANumber, trace.colour});
        const QString value = cursorShown ? valueAt(trace, *cursorT_) : latestText(trace);
        if (cursor)
            cursor->readings.push_back(value);
        entries.push_back({trace.colour,
                           trace.spec.units.isEmpty() ? trace.spec.name
                                                      : trace.spec.name + QStringLiteral(" [") + trace.spec.units +
                                                            QLatin1Char(']'),
                           value});
    }
    plot_->setMarkers(markers);
    plot_->setCursor(cursor);
    plot_->setBanner(window_.paused() ? tr("Paused") : QString());
    legend_->setEntries(entries);
}

int TrendScreen::pointsDrawn(int trace) const
{
    if (trace < 0 || trace >= static_cast<int>(traces_.size()))
        return 0;
    const auto& points = traces_[static_cast<std::size_t>(trace)].data.points;
    return static_cast<int>(std::count_if(points.begin(), points.end(), [](auto& p) { return !std::isnan(p.v); }));
}

void TrendScreen::viewDidAppear(bool)
{
    refresh();
    timer_.start();
}

void TrendScreen::viewWillDisappear(bool) { timer_.stop(); }

void TrendScreen::zoomAt(double factor, double x)
{
    window_.zoom(factor, timeAtX(x), store_.now());
    updateButtons();
    refresh();
}

void TrendScreen::panBy(double pixels)
{
    const QRectF area = plot_->plotArea();
    if (area.width() <= 0)
        return;
    window_.pan(pixels * window_.width() / area.width(), store_.now());
    updateButtons();
    refresh();
}

void TrendScreen::tapAt(double x)
{
    // The cursor goes there, or goes away when it is tapped.
    const QRectF area = plot_->plotArea();
    const auto [from, to] = window_.window(store_.now());
    const double cursorX = cursorT_ && to > from ? area.left() + (*cursorT_ - from) / (to - from) * area.width() : -1e9;
    if (std::fabs(cursorX - x) <= TrendGestures::kTapSlop)
        setCursorAt(std::nullopt);
    else
        setCursorAt(std::clamp(timeAtX(x), from, to));
}

void TrendScreen::showAddMenu()
{
    const auto choices = addableSeries();
    QMenu menu(this);
    if (choices.empty())
        menu.addAction(tr("No other variable has history"))->setEnabled(false);
    for (const history::SeriesInfo& info : choices) {
        QAction* a = menu.addAction(QString::fromStdString(info.name));
        connect(a, &QAction::triggered, this, [this, info] {
            addTrace({info.id, QString::fromStdString(info.name), {}});
        });
    }
    menu.exec(addButton_->mapToGlobal(QPoint(0, -menu.sizeHint().height())));
}

void TrendScreen::askExport()
{
    platform::AlertContent content;
    content.title = tr("Export CSV").toStdString();
    content.message = tr("Export the samples shown, or everything kept?").toStdString();
    content.buttons = {tr("Cancel").toStdString(), tr("Shown").toStdString(), tr("Everything").toStdString()};
    QPointer<TrendScreen> self(this);
    content.onButton = [self](int button) {
        if (self && button > 0)
            self->exportCsv(button == 2);
    };
    alerts_.show(std::move(content));
}

void TrendScreen::exportCsv(bool everything, std::function<void(const history::CsvResult&)> done)
{
    exportCsvTo({}, everything, std::move(done));
}

void TrendScreen::exportCsvTo(const QString& path, bool everything, std::function<void(const history::CsvResult&)> done)
{
    history::CsvRequest request;
    request.deviceName = deviceName_.toStdString();
    request.serial = serial_;
    for (const Trace& t : traces_)
        request.traces.push_back({t.spec.id, t.spec.name.toStdString(), t.spec.units.toStdString()});
    const auto [from, to] = window_.window(store_.now());
    request.from = from;
    request.to = to;
    request.everything = everything;
    const QString stamp = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(store_.wallAt(store_.now()) * 1000))
                              .toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString name = fileSafe(deviceName_) + QLatin1Char('-') + QString::number(serial_) + QLatin1Char('-') +
                         stamp + QStringLiteral(".csv");
    request.path = path.isEmpty() ? QDir(exportFolder_).filePath(name).toStdString() : path.toStdString();
    QPointer<TrendScreen> self(this);
    history::exportCsv(store_, std::move(request), [self, done](const history::CsvResult& r) {
        if (done)
            done(r);
        if (!self)
            return;
        platform::AlertContent content;
        content.title = tr("Export CSV").toStdString();
        content.message = r.ok ? tr("The samples were saved to %1").arg(QString::fromStdString(r.path)).toStdString()
                               : r.reason;
        content.buttons = {tr("OK").toStdString()};
        self->alerts_.show(std::move(content));
    });
}

void TrendScreen::inspect(QJsonObject& screen) const
{
    QJsonArray traces;
    for (std::size_t i = 0; i < traces_.size(); ++i) {
        const Trace& t = traces_[i];
        QJsonObject o;
        o[QLatin1String("name")] = t.spec.name;
        o[QLatin1String("units")] = t.spec.units;
        o[QLatin1String("points")] = pointsDrawn(static_cast<int>(i));
        double first = NAN, last = NAN;
        for (const history::TracePoint& p : t.data.points) {
            if (std::isnan(p.v))
                continue;
            if (std::isnan(first))
                first = p.t;
            last = p.t;
        }
        if (!std::isnan(first)) {
            o[QLatin1String("first")] = timeLabel(first, true);
            o[QLatin1String("last")] = timeLabel(last, true);
        }
        o[QLatin1String("value")] = latestText(t);
        traces.append(o);
    }
    screen[QLatin1String("traces")] = traces;
    screen[QLatin1String("span")] = window_.width();
    screen[QLatin1String("paused")] = window_.paused();
}

} // namespace fieldmon::trends
