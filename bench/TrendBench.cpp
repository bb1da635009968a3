// Redrawing a trend of 8 traces × 24 h (1 Hz) in a 320 × 480 window, on the
// offscreen platform, beside the naive way in the same iterations:
//
//   ours    TrendScreen::refresh() (a decimated query per trace, at most two
//           points per pixel column, into the Qt Charts plot) and a paint of
//           the whole screen into an image;
//   naive   every raw sample (8 × 86,401) handed to one QLineSeries per trace
//           (replace()) and the chart painted into an image of the same size.
//
// Counters: the median milliseconds of each (goal for ours: at most 16), of
// ours the part before painting (queries and handing points to the plot),
// and naive / ours.
//
// Run: QT_QPA_PLATFORM=offscreen build/bench/bench_trends
#include "bench/BenchMain.h"
#include "history/HistoryStore.h"
#include "support/ManualLoop.h"
#include "support/RecordingAlerts.h"
#include "trends/TrendScreen.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QImage>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

using namespace fieldmon;

namespace {

constexpr double kWall = 1'700'000'000.0;
constexpr int kTraces = 8;
constexpr int kSeconds = 86'400;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double sample(int trace, int s)
{
    return trace * 10 + 20 * std::sin(s / (2000.0 + 500 * trace)) + 3 * std::sin(s * 0.7 + trace);
}

void BM_TrendRedraw(benchmark::State& state)
{
    platform::ManualLoop loop(0);
    history::HistoryStore store(loop, nullptr, {}, {0, kWall});
    platform::RecordingAlerts alerts;
    std::vector<trends::TrendTrace> traces;
    std::vector<QList<QPointF>> raw(kTraces);
    for (int k = 0; k < kTraces; ++k) {
        traces.push_back({store.series(1, "v" + std::to_string(k)), QString("v%1").arg(k), QStringLiteral("bar")});
        raw[static_cast<std::size_t>(k)].reserve(kSeconds + 1);
    }
    for (int s = 0; s <= kSeconds; ++s)
        for (int k = 0; k < kTraces; ++k) {
            const double v = sample(k, s);
            store.appendNumber(traces[static_cast<std::size_t>(k)].id, s, kWall + s, v);
            raw[static_cast<std::size_t>(k)].append(QPointF(store.timeline(s), v));
        }
    loop.advance(kSeconds);

    trends::TrendScreen screen(store, 1, "Bench", traces, alerts);
    screen.resize(320, 480);
    screen.setSpan(trends::TrendWindow::Span::Day);
    screen.show();
    QApplication::processEvents();
    QImage image(320, 480, QImage::Format_ARGB32_Premultiplied);

    // The naive chart: one line series and one value axis per trace.
    auto* chart = new QChart;
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    QChartView naive(chart);
    naive.resize(320, 480);
    auto* x = new QValueAxis;
    chart->addAxis(x, Qt::AlignBottom);
    std::vector<QLineSeries*> series;
    for (int k = 0; k < kTraces; ++k) {
        auto* s = new QLineSeries;
        auto* y = new QValueAxis;
        chart->addSeries(s);
        chart->addAxis(y, Qt::AlignLeft);
        s->attachAxis(x);
        s->attachAxis(y);
        y->setRange(k * 10 - 25, k * 10 + 25);
        y->setVisible(k == 0);
        series.push_back(s);
    }
    x->setRange(store.timeline(0), store.timeline(kSeconds));
    naive.show();
    QApplication::processEvents();

    using Clock = std::chrono::steady_clock;
    std::vector<double> ours, refreshes, theirs;
    for (auto _ : state) {
        auto t0 = Clock::now();
        screen.refresh();
        refreshes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        {
            QPainter p(&image);
            screen.render(&p);
        }
        ours.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());

        t0 = Clock::now();
        for (int k = 0; k < kTraces; ++k)
            series[static_cast<std::size_t>(k)]->replace(raw[static_cast<std::size_t>(k)]);
        {
            QPainter p(&image);
            naive.render(&p);
        }
        theirs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    state.counters["ours_ms"] = median(ours);
    state.counters["ours_refresh_ms"] = median(refreshes);
    state.counters["naive_ms"] = median(theirs);
    state.counters["naive_vs_ours"] = median(theirs) / median(ours);
    state.counters["points_per_trace"] = screen.pointsDrawn(0);
}
// A long press's trend: from making the screen (8 traces with a day of
// history each) to its first frame, as the app opens it; beside it, in the
// same iterations, a bare screen made and drawn (the floor of any screen).
void BM_OpenTrendToFirstFrame(benchmark::State& state)
{
    platform::ManualLoop loop(0);
    history::HistoryStore store(loop, nullptr, {}, {0, kWall});
    platform::RecordingAlerts alerts;
    std::vector<trends::TrendTrace> traces;
    for (int k = 0; k < kTraces; ++k)
        traces.push_back({store.series(1, "v" + std::to_string(k)), QString("v%1").arg(k), QString()});
    for (int s = 0; s <= kSeconds; s += 1)
        for (int k = 0; k < kTraces; ++k)
            store.appendNumber(traces[static_cast<std::size_t>(k)].id, s, kWall + s, sample(k, s));
    loop.advance(kSeconds);
    QImage image(320, 480, QImage::Format_ARGB32_Premultiplied);
    using Clock = std::chrono::steady_clock;
    std::vector<double> ours, bare;
    for (auto _ : state) {
        auto t0 = Clock::now();
        {
            trends::TrendScreen screen(store, 1, "Bench", traces, alerts);
            screen.resize(320, 480);
            screen.show();
            screen.viewDidAppear(false);
            QApplication::processEvents();
            QPainter p(&image);
            screen.render(&p);
            ours.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        t0 = Clock::now();
        {
            Screen screen;
            screen.resize(320, 480);
            screen.show();
            QApplication::processEvents();
            QPainter p(&image);
            screen.render(&p);
            bare.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
    }
    state.counters["open_ms"] = median(ours);
    state.counters["bare_screen_ms"] = median(bare);
}

BENCHMARK(BM_OpenTrendToFirstFrame)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrendRedraw)->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    fieldmon::bench::silenceStdout();
    return fieldmon::bench::runBenchmarks(argc, argv);
}
