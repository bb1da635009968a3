// The trend screen on the offscreen platform: what it draws (pictures in
// test-shots/), pause and resume, gestures, "+" and the CSV export.

#include "app/AppWindow.h"
#include "trends/ChartsTrendPlot.h"
#include "trends/TrendLegend.h"
#include "widgets/NavigationStack.h"
#include "trends/TrendScreen.h"

#include "support/ManualLoop.h"
#include "support/RecordingAlerts.h"

#include <QApplication>
#include <QCategoryAxis>
#include <QChartView>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>

using namespace fieldmon;
using namespace fieldmon::trends;

namespace {

constexpr double kStart = 1000.0;           // the main loop's clock at the start
constexpr double kWall = 1'709'629'200.0;   // 2024-03-05T09:00:00Z

QString shot(QWidget* w, const QString& name)
{
    QDir().mkpath(QStringLiteral(FIELDMON_SHOT_DIR));
    const QString path = QDir(QStringLiteral(FIELDMON_SHOT_DIR)).absoluteFilePath(name + ".png");
    EXPECT_TRUE(w->grab().save(path));
    return path;
}

// A device with ten minutes of pressure (2 Hz), flow (1 Hz, silent for two
// minutes in the middle) and temperature (1 Hz, with a NaN and an error).
struct Rig {
    platform::ManualLoop loop{kStart};
    history::HistoryStore store{loop, nullptr, {}, {kStart, kWall}};
    platform::RecordingAlerts alerts;
    history::SeriesId pressure = store.series(1207, "pressure");
    history::SeriesId flow = store.series(1207, "flow");
    history::SeriesId temperature = store.series(1207, "temperature");
    history::SeriesId mode = store.series(1207, "mode");

    void feed(double fromSecond, double toSecond)
    {
        for (double s = fromSecond; s < toSecond; s += 0.5) {
            const double mono = kStart + s;
            const double wall = kWall + s;
            store.appendNumber(pressure, mono, wall, 100 + 20 * std::sin(s / 40) + 3 * std::sin(s * 1.7));
            if (std::fmod(s, 1.0) != 0)
                continue;
            if (s < 240 || s > 360)
                store.appendNumber(flow, mono, wall, 20 + s / 20);
            if (s == 300)
                store.appendNumber(temperature, mono, wall, std::nan(""));
            else if (s == 420)
                store.appendError(temperature, mono, wall);
            else
                store.appendNumber(temperature, mono, wall, 60 + 5 * std::cos(s / 90));
            store.appendText(mode, mono, wall, s < 200 ? "auto" : "manual");
        }
        loop.advance(toSecond - (loop.now() - kStart));
    }

    std::unique_ptr<TrendScreen> screen(std::vector<TrendTrace> traces = {})
    {
        if (traces.empty())
            traces = {{pressure, "pressure", "bar"}, {flow, "flow", "l/min"}, {temperature, "temperature", "°C"}};
        auto s = std::make_unique<TrendScreen>(store, 1207, "Pump A", traces, alerts);
        s->resize(320, 416);
        s->show();
        QApplication::processEvents();
        s->refresh();
        QApplication::processEvents();
        return s;
    }
};

void mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

TEST(TrendScreen, DrawsTracesGapsMarkersAndTheCursor)
{
    Rig rig;
    rig.feed(0, 600);
    auto screen = rig.screen();
    screen->setEvents({{rig.store.timeline(kStart + 150), "Pump started"},
                       {rig.store.timeline(kStart + 480), "Valve closed"}});
    const int columns = static_cast<int>(screen->plot()->plotArea().width());
    ASSERT_GT(columns, 200);
    for (int i = 0; i < 3; ++i) {
        EXPECT_GT(screen->pointsDrawn(i), 100) << i;
        EXPECT_LE(screen->pointsDrawn(i), 2 * columns + 2) << i;
    }
    shot(screen.get(), "trend-10min");

    screen->setCursorAt(rig.store.timeline(kStart + 270)); // inside the flow's silence
    const auto& entries = screen->legend()->entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(entries[0].value.endsWith(" bar")) << entries[0].value.toStdString();
    EXPECT_EQ(entries[1].value, QStringLiteral("\u2013")) << "no flow value while the device was silent";
    EXPECT_TRUE(entries[0].label.contains("[bar]"));
    shot(screen.get(), "trend-10min-cursor");

    screen->setSpan(TrendWindow::Span::Minute);
    EXPECT_LE(screen->pointsDrawn(0), 2 * columns + 2);
    shot(screen.get(), "trend-1min");
}

TEST(TrendScreen, PauseFreezesTheViewWhileRecordingGoesOn)
{
    Rig rig;
    rig.feed(0, 600);
    auto screen = rig.screen();
    screen->setSpan(TrendWindow::Span::Minute);
    screen->setPaused(true);
    const auto frozen = screen->window().window(rig.store.now());
    rig.feed(600, 630);
    screen->refresh();
    EXPECT_EQ(screen->window().window(rig.store.now()), frozen);
    shot(screen.get(), "trend-paused");

    screen->setPaused(false);
    const auto [from, to] = screen->window().window(rig.store.now());
    EXPECT_DOUBLE_EQ(to, rig.store.now());
    // Everything recorded while paused is there: no gap at the end.
    history::TraceData d;
    rig.store.query(rig.pressure, from, to, 300, d);
    ASSERT_FALSE(d.points.empty());
    EXPECT_NEAR(d.points.back().t, rig.store.timeline(kStart + 629.5), 1e-6);
    for (const auto& p : d.points)
        EXPECT_FALSE(std::isnan(p.v));
}

TEST(TrendScreen, WheelZoomsDragPansTapShowsTheCursor)
{
    Rig rig;
    rig.feed(0, 600);
    auto screen = rig.screen();
    QWidget* surface = screen->plot()->inputSurface();
    const QRectF area = screen->plot()->plotArea();
    const QPointF middle = surface->mapFrom(screen->plot(), area.center().toPoint());

    QWheelEvent wheel(middle, surface->mapToGlobal(middle), {}, QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(surface, &wheel);
    EXPECT_NEAR(screen->window().width(), 600 * 0.64, 1e-6);
    EXPECT_FALSE(screen->paused()) << "zooming the live view keeps it live";

    mouse(surface, QEvent::MouseButtonPress, middle, Qt::LeftButton);
    mouse(surface, QEvent::MouseMove, middle + QPointF(40, 0), Qt::LeftButton);
    mouse(surface, QEvent::MouseMove, middle + QPointF(100, 0), Qt::LeftButton);
    mouse(surface, QEvent::MouseButtonRelease, middle + QPointF(100, 0), Qt::NoButton);
    EXPECT_TRUE(screen->paused()) << "a drag into the past freezes the view";
    EXPECT_FALSE(screen->cursorTime());
    const auto [from, to] = screen->window().window(rig.store.now());
    EXPECT_NEAR(to, rig.store.now() - 100 * screen->window().width() / area.width(), 1.0);

    mouse(surface, QEvent::MouseButtonPress, middle, Qt::LeftButton);
    mouse(surface, QEvent::MouseButtonRelease, middle, Qt::NoButton);
    ASSERT_TRUE(screen->cursorTime());
    EXPECT_NEAR(*screen->cursorTime(), (from + to) / 2, screen->window().width() / area.width() * 2);
    mouse(surface, QEvent::MouseButtonPress, middle, Qt::LeftButton);
    mouse(surface, QEvent::MouseButtonRelease, middle, Qt::NoButton);
    EXPECT_FALSE(screen->cursorTime()) << "a tap on the cursor takes it away";
}

TEST(TrendScreen, AddsUpToEightTracesAndExports)
{
    Rig rig;
    for (int i = 0; i < 8; ++i)
        rig.store.appendNumber(rig.store.series(1207, "extra" + std::to_string(i)), kStart, kWall, i);
    rig.feed(0, 120);
    auto screen = rig.screen();
    auto addable = screen->addableSeries();
    ASSERT_EQ(addable.size(), 9u); // eight extras and "mode"
    int added = 0;
    for (const auto& info : addable)
        added += screen->addTrace({info.id, QString::fromStdString(info.name), {}});
    EXPECT_EQ(added, 5);
    EXPECT_EQ(screen->traceCount(), TrendScreen::kMaxTraces);
    EXPECT_FALSE(screen->addTrace({rig.pressure, "pressure", "bar"}));
    shot(screen.get(), "trend-8-traces");

    QTemporaryDir dir;
    screen->setExportFolder(dir.path());
    history::CsvResult result;
    screen->exportCsv(false, [&](const history::CsvResult& r) { result = r; });
    ASSERT_TRUE(result.ok) << result.reason;
    QFile f(QString::fromStdString(result.path));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray head = f.readLine();
    EXPECT_TRUE(head.startsWith("time (UTC),Pump A (1207): pressure [bar],Pump A (1207): flow [l/min]")) << head.data();
    ASSERT_NE(rig.alerts.lastOpen(), nullptr);
    EXPECT_NE(rig.alerts.lastOpen()->content.message.find(result.path), std::string::npos);

    screen->setExportFolder(dir.path() + "/no/such/folder");
    screen->exportCsv(true);
    EXPECT_NE(rig.alerts.lastOpen()->content.message.find("does not exist"), std::string::npos);
}

TEST(TrendScreen, DayOfThreeTraces)
{
    // A day at 1 Hz: the plot gets at most two points per column from the
    // one-second aggregates, and the picture shows the day's shape.
    Rig rig;
    for (int s = 0; s <= 86'400; ++s) {
        const double mono = kStart + s, wall = kWall + s;
        rig.store.appendNumber(rig.pressure, mono, wall, 100 + 30 * std::sin(s / 7000.0) + 4 * std::sin(s / 300.0));
        if (s < 30'000 || s > 34'000)
            rig.store.appendNumber(rig.flow, mono, wall, 20 + (s / 3600) % 5);
        rig.store.appendNumber(rig.temperature, mono, wall, 55 + 10 * std::cos(s / 13750.0));
    }
    rig.loop.advance(86'400);
    // On the app's navigation stack, as a long press will push it.
    AppWindow window;
    auto* device = new Screen;
    device->setTitle("Pump A");
    window.navigationStack()->setRoot(device);
    auto* screen = new TrendScreen(rig.store, 1207, "Pump A",
                                   {{rig.pressure, "pressure", "bar"}, {rig.flow, "flow", "l/min"},
                                    {rig.temperature, "temperature", "°C"}},
                                   rig.alerts);
    window.navigationStack()->push(screen, false);
    window.show();
    QApplication::processEvents();
    EXPECT_EQ(screen->size(), QSize(320, 416));
    screen->setSpan(TrendWindow::Span::Day);
    screen->setEvents({{rig.store.timeline(kStart + 20'000), "Alarm"}});
    screen->setCursorAt(rig.store.timeline(kStart + 50'000));
    const int columns = static_cast<int>(screen->plot()->plotArea().width());
    for (int i = 0; i < 3; ++i)
        EXPECT_LE(screen->pointsDrawn(i), 2 * columns + 2);
    shot(&window, "trend-24h");
}

} // namespace

// A tick a few seconds from either end of the axis had its label drawn half
// outside the plot, cut at the screen's edge; such labels are left out.
TEST(TrendScreen, TimeLabelsThatWouldBeCutAtTheEdgesAreLeftOut)
{
    ChartsTrendPlot plot;
    plot.resize(320, 400);
    plot.show();
    QApplication::processEvents();
    plot.setWindow(0, 600, {{3, "09:00"}, {100, "09:02"}, {300, "09:05"}, {500, "09:08"}, {597, "09:10"}});
    auto* view = plot.findChild<QChartView*>();
    ASSERT_TRUE(view);
    auto axes = view->chart()->axes(Qt::Horizontal);
    ASSERT_EQ(axes.size(), 1);
    auto* time = qobject_cast<QCategoryAxis*>(axes.front());
    ASSERT_TRUE(time);
    EXPECT_EQ(time->categoriesLabels(), (QStringList{"09:02", "09:05", "09:08"}));
}
