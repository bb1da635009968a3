// A device page of 50 drawn gauges (10 each of circles, gradients, bars,
// compasses and turbines), every one bound to the `time` variable at a
// rate of 0.1 s, on the offscreen platform:
//
//   BM_GaugePageSecond    one second of refreshing at 10 Hz: ten scheduler
//                         passes on the manual loop (evaluation, widget
//                         updates) and the repaints Qt makes of them. The
//                         CPU time per iteration is the main thread's CPU
//                         time per second of a live page.
//   BM_GaugePageRepaint   one refresh and a full repaint of the page into
//                         an image (its frame time).
//   BM_BarePrimitives     the baseline: the same 50 shapes painted with
//                         QPainter straight into a 320 x 416 image.
//
// Run: QT_QPA_PLATFORM=offscreen build/bench/bench_gauges
#include "device/Client.h"
#include "pages/ClientDynamicView.h"
#include "support/ManualLoop.h"
#include "platform/NotificationCenter.h"
#include "support/RecordingAlerts.h"
#include "pages/PageBuildContext.h"
#include "uidesc/XMLReader.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace fieldmon;

namespace {

std::string document()
{
    std::string widgets;
    char buf[1024];
    for (int i = 0; i < 10; ++i) {
        const double x = 0.05 + 0.1 * i;
        std::snprintf(buf, sizeof buf,
                      "<circle position='(%.2f, 0.1)' color='(1, 0, 0, 1)' radius='8 + 4 * sin(time * 3 + %d)' "
                      "refresh='0.1'/>"
                      "<gradient position='(%.2f, 0.3)' innerColor='(1, sin(time + %d) / 2 + 0.5, 0, 1)' "
                      "outerColor='(0, 0, 1, 0)' innerRadius='4' outerRadius='20 + 5 * sin(time * 2 + %d)' "
                      "clipRect='(%.2f, 0.2, 0.1, 0.2)' extendInner='TRUE' refresh='0.1'/>"
                      "<progress position='(%.2f, 0.5)' length='0.05' angle='time + %d' "
                      "progress='sin(time + %d) / 2 + 0.5' refresh='0.1'/>"
                      "<compass position='(%.2f, 0.7)' angle='time * 0.5 + %d' refresh='0.1'/>"
                      "<turbine position='(%.2f, 0.95)' angle='time * 0.3 + %d' refresh='0.1'/>",
                      x, i, x, i, i, x - 0.05, x, i, i, x, i, x, i);
        widgets += buf;
    }
    return "<d><start initial='g'/><page name='g' color='(1, 1, 1)'>" + widgets + "</page></d>";
}

struct LivePage {
    platform::ManualLoop loop;
    platform::NotificationCenter notifications;
    platform::RecordingAlerts alerts;
    std::shared_ptr<Client> client = Client::create(false, platform::Services{loop, notifications, alerts});
    PageBuildContext made{client};
    std::shared_ptr<DevicePage> page;

    LivePage()
    {
        XMLReader reader(made);
        reader.setClient(client);
        reader.parseXMLFileAtString(document());
        page = made.initialPage();
        page->resize(320, 416);
        page->show();
        // Shown and exposed, so that updates are painted as on a screen.
        for (int i = 0; i < 50 && !(page->windowHandle() && page->windowHandle()->isExposed()); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!page->windowHandle() || !page->windowHandle()->isExposed())
            std::fprintf(stderr, "the page is not exposed: repaints are not measured\n");
        page->viewWillAppear(false);
        page->viewDidAppear(false);
        loop.advance(0.2);
        QCoreApplication::sendPostedEvents();
    }
    ~LivePage()
    {
        page->hide();
        made.endBindings();
        loop.runPending();
    }
};

// Counts the paint events of the page's views.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

void BM_GaugePageSecond(benchmark::State& state)
{
    LivePage live;
    PaintCounter counter;
    for (QWidget* w : live.page->findChildren<QWidget*>())
        w->installEventFilter(&counter);
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i) {
            live.loop.advance(0.1);
            QCoreApplication::sendPostedEvents();
        }
    }
    state.counters["paints_per_s"] = benchmark::Counter(counter.paints, benchmark::Counter::kAvgIterations);
    state.SetLabel("CPU per second of a live page (10 refreshes)");
}

void BM_GaugePageRepaint(benchmark::State& state)
{
    LivePage live;
    QImage image(320, 416, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        live.loop.advance(0.1);
        live.page->render(&image);
    }
    state.SetLabel("a refresh and one full repaint of the page into an image");
}

// The same shapes, painted directly: what any way of drawing them costs.
void BM_BarePrimitives(benchmark::State& state)
{
    QImage image(320, 416, QImage::Format_ARGB32_Premultiplied);
    const QImage compass(QStringLiteral(":/Compass.png"));
    const QImage turbine(QStringLiteral(":/Turbine.png"));
    double t = 0;
    for (auto _ : state) {
        t += 0.1;
        QPainter p(&image);
        p.fillRect(image.rect(), Qt::white);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 10; ++i) {
            const double x = 16 + 32 * i;
            const double r = 8 + 4 * std::sin(t * 3 + i);
            p.setBrush(Qt::red);
            p.drawEllipse(QPointF(x, 41.6), r, r);

            const double outer = 20 + 5 * std::sin(t * 2 + i);
            QRadialGradient g(QPointF(x, 124.8), outer, QPointF(x, 124.8), 4);
            g.setColorAt(0, QColor::fromRgbF(1, std::sin(t + i) / 2 + 0.5, 0, 1));
            g.setColorAt(1, QColor::fromRgbF(0, 0, 1, 0));
            p.save();
            p.setClipRect(QRectF(x - 16, 83.2, 32, 83.2));
            QPainterPath disc;
            disc.addEllipse(QPointF(x, 124.8), outer, outer);
            p.fillPath(disc, g);
            p.restore();

            p.save();
            p.translate(x, 208);
            p.rotate((t + i) * 180 / M_PI);
            p.setBrush(QColor(0xd0, 0xd0, 0xd0));
            p.drawRoundedRect(QRectF(-13, -5, 26, 10), 5, 5);
            p.setBrush(QColor(0x1c, 0x5f, 0xd6));
            p.drawRoundedRect(QRectF(-13, -5, 26 * (std::sin(t + i) / 2 + 0.5), 10), 5, 5);
            p.restore();

            for (auto [picture, y, turn, pivot] : {std::tuple{&compass, 291.2, 0.5, QPointF(5.5, -0.5)},
                                                   std::tuple{&turbine, 395.2, 0.3, QPointF(0.25, 65)}}) {
                p.save();
                p.translate(x, y);
                p.rotate((t * turn + i) * 180 / M_PI);
                p.translate(-pivot);
                p.drawImage(QPointF(-picture->width() / 2.0, -picture->height() / 2.0), *picture);
                p.restore();
            }
        }
    }
    state.SetLabel("the same 50 shapes straight into an image");
}

} // namespace

BENCHMARK(BM_GaugePageSecond)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GaugePageRepaint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BarePrimitives)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
