#pragma once
// TrendPlot on Qt Charts. The time axis is a category axis whose labels sit
// on the tick times the screen gives (wall-clock labels at timeline
// positions); each trace has a value axis of its own, of which only the
// chosen one is shown (with round numbers). A stretch of a single sample
// is drawn as a dot. Qt Charts joins across NaN, so a trace is a run of
// line series, one per unbroken stretch, taken from a pool; at most
// kMaxRuns stretches per trace (past that, the remaining points join the
// last stretch). Markers, the cursor and the banner are painted by an
// overlay on top of the chart.
//
// Thread rule: main thread only.

#include "trends/TrendPlot.h"

#include <QList>
#include <QPen>
#include <QPointF>

#include <vector>

class QCategoryAxis;
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;

namespace fieldmon::trends {

class PlotOverlay;

class ChartsTrendPlot final : public TrendPlot {
    Q_OBJECT
public:
    static constexpr int kMaxRuns = 64;

    explicit ChartsTrendPlot(QWidget* parent = nullptr);
    ~ChartsTrendPlot() override;

    void setTraces(const std::vector<TraceStyle>& traces) override;
    void setWindow(double from, double to, const std::vector<TimeTick>& ticks) override;
    void setTraceData(int trace, const std::vector<history::TracePoint>& points, double yMin, double yMax) override;
    void setScaleTrace(int trace) override;
    void setMarkers(const std::vector<Marker>& markers) override;
    void setCursor(const std::optional<Cursor>& cursor) override;
    void setBanner(const QString& text) override;
    QRectF plotArea() const override;
    QWidget* inputSurface() override;

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    struct Trace {
        TraceStyle style;
        QValueAxis* axis = nullptr;
        std::vector<QLineSeries*> runs; // the pool; the first `used` are shown
        int used = 0;
    };
    QLineSeries* run(Trace& trace, int index);
    static QPen runPen(const QColor& colour);

    QChart* chart_;
    QChartView* view_;
    QCategoryAxis* timeAxis_;
    PlotOverlay* overlay_;
    std::vector<Trace> traces_; // the first shown_ are in use
    int shown_ = 0;
    int scaleTrace_ = 0;
    double from_ = 0;
    double to_ = 1;
    QList<QPointF> scratch_;
};

} // namespace fieldmon::trends
