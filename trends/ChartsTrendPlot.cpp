#include "trends/ChartsTrendPlot.h"

#include "widgets/PhoneStyle.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QLineSeries>
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

    QRectF area;
    double from = 0;
    double to = 1;
    std::vector<Marker> markers;
    std::optional<Cursor> cursor;
    std::vector<QColor> colours;
    QString banner;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        auto xOf = [&](double t) { return area.left() + (t - from) / (to - from) * area.width(); };
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
            p.fillRect(QRectF(row.left(), row.center().y() - 3, 7, 7), i < colours.size() ? colours[i] : Qt::gray);
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
    // Traces are restyled, added or hidden, never removed: Qt Charts leaves
    // the labels of a removed value axis on the chart.
    overlay_->colours.clear();
    for (std::size_t i = 0; i < traces.size(); ++i) {
        if (i == traces_.size()) {
            Trace t;
            t.axis = new QValueAxis;
            t.axis->setLabelsFont(phone::systemFont(10));
            t.axis->setGridLineColor(QColor(0xe8, 0xe8, 0xe8));
            t.axis->setTickCount(5);
            t.axis->setLabelFormat(QStringLiteral("%.4g"));
            chart_->addAxis(t.axis, Qt::AlignLeft);
            traces_.push_back(std::move(t));
        }
        Trace& t = traces_[i];
        t.style = traces[i];
        t.axis->setLabelsColor(t.style.colour.darker(130));
        t.axis->setLinePenColor(t.style.colour);
        for (QLineSeries* run : t.runs)
            run->setPen(runPen(t.style.colour));
        overlay_->colours.push_back(t.style.colour);
    }
    shown_ = static_cast<int>(traces.size());
    for (std::size_t i = traces.size(); i < traces_.size(); ++i)
        for (QLineSeries* run : traces_[i].runs)
            run->setVisible(false);
    setScaleTrace(std::min(scaleTrace_, shown_ - 1));
}

QPen ChartsTrendPlot::runPen(const QColor& colour)
{
    QPen pen(colour, 1.6);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

QLineSeries* ChartsTrendPlot::run(Trace& trace, int index)
{
    while (static_cast<int>(trace.runs.size()) <= index) {
        auto* s = new QLineSeries;
        s->setPen(runPen(trace.style.colour));
        s->setMarkerSize(5);
        chart_->addSeries(s);
        s->attachAxis(timeAxis_);
        s->attachAxis(trace.axis);
        trace.runs.push_back(s);
    }
    return trace.runs[static_cast<std::size_t>(index)];
}

void ChartsTrendPlot::setWindow(double from, double to, const std::vector<TimeTick>& ticks)
{
    from_ = from;
    to_ = to > from ? to : from + 1;
    // Category bounds are the tick times; labels must differ, so a label
    // that repeats (the clock was set back) gets an invisible mark.
    for (const QString& label : timeAxis_->categoriesLabels())
        timeAxis_->remove(label);
    timeAxis_->setStartValue(from_);
    QStringList seen;
    for (const TimeTick& tick : ticks) {
        if (tick.t <= from_ || tick.t >= to_)
            continue;
        QString label = tick.label;
        while (seen.contains(label))
            label += QChar(0x200B);
        seen << label;
        timeAxis_->append(label, tick.t);
    }
    timeAxis_->setRange(from_, to_);
    overlay_->from = from_;
    overlay_->to = to_;
    overlay_->area = plotArea();
    overlay_->update();
}

void ChartsTrendPlot::setTraceData(int index, const std::vector<history::TracePoint>& points, double yMin,
                                   double yMax)
{
    if (index < 0 || index >= shown_)
        return;
    Trace& trace = traces_[static_cast<std::size_t>(index)];
    trace.axis->setRange(yMin, yMax);
    trace.axis->applyNiceNumbers();
    int runs = 0;
    scratch_.clear();
    auto flush = [&] {
        if (scratch_.isEmpty())
            return;
        QLineSeries* s = run(trace, runs++);
        // A stretch of one sample has no line: it shows as a dot.
        s->setPointsVisible(scratch_.size() == 1);
        s->replace(scratch_);
        scratch_.clear();
    };
    for (const history::TracePoint& p : points) {
        if (std::isnan(p.v)) {
            if (runs < kMaxRuns - 1)
                flush();
            continue;
        }
        scratch_.append(QPointF(p.t, p.v));
    }
    flush();
    for (int i = 0; i < static_cast<int>(trace.runs.size()); ++i) {
        QLineSeries* s = trace.runs[static_cast<std::size_t>(i)];
        if (i >= runs && s->count() > 0)
            s->clear();
        s->setVisible(i < runs);
    }
    trace.used = runs;
}

void ChartsTrendPlot::setScaleTrace(int trace)
{
    scaleTrace_ = std::max(trace, 0);
    for (int i = 0; i < static_cast<int>(traces_.size()); ++i)
        traces_[static_cast<std::size_t>(i)].axis->setVisible(i == scaleTrace_ && i < shown_);
    overlay_->area = plotArea();
}

void ChartsTrendPlot::setMarkers(const std::vector<Marker>& markers)
{
    overlay_->markers = markers;
    overlay_->area = plotArea();
    overlay_->update();
}

void ChartsTrendPlot::setCursor(const std::optional<Cursor>& cursor)
{
    overlay_->cursor = cursor;
    overlay_->area = plotArea();
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
