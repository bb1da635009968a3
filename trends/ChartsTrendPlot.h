#pragma once
// TrendPlot on Qt Charts. Qt Charts lays out the plot and draws the frame,
// the grid and the axes: the time axis is a category axis whose labels sit
// on the tick times the screen gives (wall-clock labels at timeline
// positions); each trace has a value axis of its own (round numbers), of
// which only the chosen one is shown.
//
// The traces themselves, the markers, the cursor and the banner are painted
// by an overlay of ours over the chart's plot area: a polyline per unbroken
// stretch of a trace (Qt Charts' line series join across NaN and build a
// stroked outline of every line for hit tests, which costs several times
// the drawing), and a dot for a stretch of a single sample.
//
// Thread rule: main thread only.

#include "trends/TrendPlot.h"

#include <vector>

class QCategoryAxis;
class QChart;
class QChartView;
class QValueAxis;

namespace fieldmon::trends {

class PlotOverlay;

class ChartsTrendPlot final : public TrendPlot {
    Q_OBJECT
public:
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
    QChart* chart_;
    QChartView* view_;
    QCategoryAxis* timeAxis_;
    PlotOverlay* overlay_;
    // One value axis per trace ever shown: Qt Charts leaves the labels of a
    // removed axis on the chart, so axes are hidden, never removed.
    std::vector<QValueAxis*> axes_;
    int shown_ = 0;
    int scaleTrace_ = 0;
};

} // namespace fieldmon::trends
