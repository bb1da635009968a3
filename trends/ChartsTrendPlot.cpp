#include "trends/ChartsTrendPlot.h"

#include "widgets/PhoneStyle.h"

#include <QCategoryAxis>
#include <QFontMetrics>
#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QPainter>
#include <QPainterPath>
#include <QValueAxis>

#include <cmath>

namespace fieldmon::trends {

// Paints what lies over the chart: markers on the time axis, the cursor
// and the banner. It reads only the state the plot set.
class PlotOverlay final : public QWidget {
public:
    explicit PlotOverlay(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

    struct Trace {
        QColor colour;
        std::vector<history::TracePoint> points;
        double yMin = 0;
        double yMax = 1;
    };

    QRectF area;
    double from = 0;
    double to = 1;
    std::vector<Trace> traces; // the first `shown` are drawn
    int shown = 0;
    std::vector<Marker> markers;
    std::optional<Cursor> cursor;
    QString banner;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        auto xOf = [&](double t) { return area.left() + (t - from) / (to - from) * area.width(); };
        paintTraces(p, xOf);
        for (const Marker& m : markers) {
            const double x = xOf(m.t);
            if (x < area.left() - 0.5 || x > area.right() + 0.5)
                continue;
            if (m.kind == Marker::Kind::Event) {
                // A dashed line through the plot and a triangle on the axis.
                p.setPen(QPen(QColor(0x38, 0x54, 0x87, 150), 1, Qt::DashLine));
                p.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
                QPainterPath tri;
                tri.moveTo(x, area.bottom() - 7);
                tri.lineTo(x - 5, area.bottom() + 1);
                tri.lineTo(x + 5, area.bottom() + 1);
                tri.closeSubpath();
                p.fillPath(tri, phone::valueBlue());
            } else {
                // A value that was not a number: a short red-rimmed tick on the top edge.
                p.setPen(QPen(QColor(0xc0, 0x20, 0x20), 2));
                p.drawLine(QPointF(x, area.top()), QPointF(x, area.top() + 6));
                p.setPen(QPen(m.colour, 2));
                p.drawLine(QPointF(x, area.top() + 6), QPointF(x, area.top() + 10));
            }
        }
        if (cursor) {
            const double x = xOf(cursor->t);
            p.setPen(QPen(QColor(0x20, 0x20, 0x20), 1));
            p.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
            paintReadout(p, x);
        }
        if (!banner.isEmpty()) {
            p.setFont(phone::systemFont(12, true));
            const QRectF box = QRectF(area.right() - 64, area.top() + 4, 60, 18);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xd0, 0x60, 0x10, 220));
            p.drawRoundedRect(box, 4, 4);
            p.setPen(Qt::white);
            p.drawText(box, Qt::AlignCenter, banner);
        }
    }

private:
    template <class XOf>
    void paintTraces(QPainter& p, const XOf& xOf)
    {
        p.save();
        p.setClipRect(area.adjusted(-1, -1, 1, 1));
        QPolygonF line;
        for (int i = 0; i < shown && i < static_cast<int>(traces.size()); ++i) {
            const Trace& t = traces[static_cast<std::size_t>(i)];
            const double span = t.yMax > t.yMin ? t.yMax - t.yMin : 1;
            auto yOf = [&](double v) { return area.bottom() - (v - t.yMin) / span * area.height(); };
            // One pixel: drawn without building a stroke outline.
            p.setPen(QPen(t.colour, 1.0));
            p.setBrush(t.colour);
            auto flush = [&] {
                if (line.size() == 1)
                    p.drawEllipse(line.front(), 2.5, 2.5); // a lone sample
                else if (line.size() > 1)
                    p.drawPolyline(line);
                line.clear();
            };
            for (const history::TracePoint& pt : t.points) {
                if (std::isnan(pt.v)) {
                    flush();
                    continue;
                }
                line.append(QPointF(xOf(pt.t), yOf(pt.v)));
            }
            flush();
        }
        p.restore();
    }

    void paintReadout(QPainter& p, double x)
    {
        const QFont font = phone::systemFont(11);
        const QFontMetrics fm(font);
        const int line = fm.height();
        int width = fm.horizontalAdvance(cursor->time);
        for (const QString& r : cursor->readings)
            width = std::max(width, fm.horizontalAdvance(r) + 12);
        const int lines = 1 + static_cast<int>(cursor->readings.size());
        QRectF box(0, area.top() + 4, width + 10, lines * line + 6);
        // Beside the line, on the side with room.
        box.moveLeft(x + 6 + box.width() <= area.right() ? x + 6 : x - 6 - box.width());
        p.setPen(QColor(0x80, 0x80, 0x80));
        p.setBrush(QColor(255, 255, 255, 230));
        p.drawRoundedRect(box, 4, 4);
        p.setFont(font);
        p.setPen(Qt::black);
        QRectF row(box.left() + 5, box.top() + 3, box.width() - 10, line);
        p.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, cursor->time);
        for (std::size_t i = 0; i < cursor->readings.size(); ++i) {
            row.translate(0, line);
            p.fillRect(QRectF(row.left(), row.center().y() - 3, 7, 7),
                       i < traces.size() ? traces[i].colour : QColor(Qt::gray));
            p.setPen(Qt::black);
            p.drawText(row.adjusted(12, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, cursor->readings[i]);
        }
    }
};

std::unique_ptr<TrendPlot> TrendPlot::create(QWidget* parent) { return std::make_unique<ChartsTrendPlot>(parent); }

ChartsTrendPlot::ChartsTrendPlot(QWidget* parent)
    : TrendPlot(parent), chart_(new QChart), view_(new QChartView(chart_, this)), timeAxis_(new QCategoryAxis),
      overlay_(new PlotOverlay(this))
{
    chart_->legend()->hide();
    chart_->setBackgroundRoundness(0);
    chart_->setMargins(QMargins(2, 6, 8, 2));
    chart_->layout()->setContentsMargins(0, 0, 0, 0);
    chart_->setAnimationOptions(QChart::NoAnimation);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setFrameShape(QFrame::NoFrame);
    view_->setRubberBand(QChartView::NoRubberBand);
    view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    timeAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    timeAxis_->setLabelsFont(phone::systemFont(10));
    timeAxis_->setGridLineColor(QColor(0xdd, 0xdd, 0xdd));
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    overlay_->raise();
    // The chart lays itself out later than our calls; the overlay follows.
    connect(chart_, &QChart::plotAreaChanged, this, [this] {
        overlay_->area = plotArea();
        overlay_->update();
    });
}

ChartsTrendPlot::~ChartsTrendPlot() = default;

void ChartsTrendPlot::resizeEvent(QResizeEvent*)
{
    view_->setGeometry(rect());
    overlay_->setGeometry(rect());
    overlay_->area = plotArea();
}

QRectF ChartsTrendPlot::plotArea() const
{
    const QRectF scene = chart_->plotArea();
    const QPolygon inView = view_->mapFromScene(scene);
    return QRectF(view_->viewport()->mapTo(this, inView.boundingRect().topLeft()), scene.size());
}

QWidget* ChartsTrendPlot::inputSurface() { return view_->viewport(); }

void ChartsTrendPlot::setTraces(const std::vector<TraceStyle>& traces)
{
    for (std::size_t i = axes_.size(); i < traces.size(); ++i) {
        auto* axis = new QValueAxis;
        axis->setLabelsFont(phone::systemFont(10));
        axis->setGridLineColor(QColor(0xe8, 0xe8, 0xe8));
        axis->setTickCount(5);
        axis->setLabelFormat(QStringLiteral("%.4g"));
        chart_->addAxis(axis, Qt::AlignLeft);
        axes_.push_back(axis);
    }
    overlay_->traces.resize(std::max(overlay_->traces.size(), traces.size()));
    for (std::size_t i = 0; i < traces.size(); ++i) {
        axes_[i]->setLabelsColor(traces[i].colour.darker(130));
        axes_[i]->setLinePenColor(traces[i].colour);
        overlay_->traces[i].colour = traces[i].colour;
    }
    shown_ = static_cast<int>(traces.size());
    overlay_->shown = shown_;
    setScaleTrace(std::min(scaleTrace_, shown_ - 1));
    overlay_->update();
}

void ChartsTrendPlot::setWindow(double from, double to, const std::vector<TimeTick>& ticks)
{
    const double start = from;
    const double end = to > from ? to : from + 1;
    // Category bounds are the tick times; labels must differ, so a label
    // that repeats (the clock was set back) gets an invisible mark.
    for (const QString& label : timeAxis_->categoriesLabels())
        timeAxis_->remove(label);
    timeAxis_->setStartValue(start);
    // A label is centred on its tick: one closer to either end of the axis
    // than half its width would be cut off there, so it is left out.
    const double width = plotArea().width();
    const double secondsPerPixel = width > 0 ? (end - start) / width : 0;
    const QFontMetrics metrics(timeAxis_->labelsFont());
    QStringList seen;
    for (const TimeTick& tick : ticks) {
        if (tick.t <= start || tick.t >= end)
            continue;
        const double room = (metrics.horizontalAdvance(tick.label) / 2.0 + 2) * secondsPerPixel;
        if (tick.t - start < room || end - tick.t < room)
            continue;
        QString label = tick.label;
        while (seen.contains(label))
            label += QChar(0x200B);
        seen << label;
        timeAxis_->append(label, tick.t);
    }
    timeAxis_->setRange(start, end);
    overlay_->from = start;
    overlay_->to = end;
    overlay_->area = plotArea();
    overlay_->update();
}

void ChartsTrendPlot::setTraceData(int index, const std::vector<history::TracePoint>& points, double yMin,
                                   double yMax)
{
    if (index < 0 || index >= shown_)
        return;
    QValueAxis* axis = axes_[static_cast<std::size_t>(index)];
    axis->setRange(yMin, yMax);
    axis->applyNiceNumbers();
    PlotOverlay::Trace& trace = overlay_->traces[static_cast<std::size_t>(index)];
    trace.points = points;
    // The scale the axis settled on, so that lines and labels agree.
    trace.yMin = axis->min();
    trace.yMax = axis->max();
    overlay_->update();
}

void ChartsTrendPlot::setScaleTrace(int trace)
{
    scaleTrace_ = std::max(trace, 0);
    for (int i = 0; i < static_cast<int>(axes_.size()); ++i)
        axes_[static_cast<std::size_t>(i)]->setVisible(i == scaleTrace_ && i < shown_);
    overlay_->area = plotArea();
}

void ChartsTrendPlot::setMarkers(const std::vector<Marker>& markers)
{
    overlay_->markers = markers;
    overlay_->update();
}

void ChartsTrendPlot::setCursor(const std::optional<Cursor>& cursor)
{
    overlay_->cursor = cursor;
    overlay_->update();
}

void ChartsTrendPlot::setBanner(const QString& text)
{
    if (overlay_->banner == text)
        return;
    overlay_->banner = text;
    overlay_->update();
}

} // namespace fieldmon::trends
