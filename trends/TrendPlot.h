#pragma once
// The plot of a trend screen, behind an interface of ours so that the plot
// library can change: what the screen tells the plot is traces (already
// decimated by the history store), a time window with its tick labels,
// markers on the time axis, a cursor and a banner. The plot draws; it reads
// no clock and no history of its own.
//
// x is timeline seconds (history/HistoryTypes.h); plotArea() is where the
// window [from, to] lies, left to right, in the plot's own coordinates, so
// that the screen can turn touches into times without asking the library.
//
// Thread rule: main thread only.

#include "history/HistoryTypes.h"

#include <QColor>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

namespace fieldmon::trends {

struct TraceStyle {
    QString label; // "pressure [bar]"
    QColor colour;
};

struct TimeTick {
    double t = 0;
    QString label; // wall time, "14:05" or "14:05:30"
};

struct Marker {
    enum class Kind { Event, NotANumber };
    double t = 0;
    Kind kind = Kind::Event;
    QColor colour; // NotANumber: the trace's colour
};

// The cursor a touch leaves: a line at t, the time and one reading per trace.
struct Cursor {
    double t = 0;
    QString time;
    std::vector<QString> readings;
};

class TrendPlot : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // The Qt Charts plot.
    static std::unique_ptr<TrendPlot> create(QWidget* parent = nullptr);

    virtual void setTraces(const std::vector<TraceStyle>& traces) = 0;
    virtual void setWindow(double from, double to, const std::vector<TimeTick>& ticks) = 0;
    // Points in time order; a NaN value breaks the line. [yMin, yMax] is the
    // trace's own scale.
    virtual void setTraceData(int trace, const std::vector<history::TracePoint>& points, double yMin, double yMax) = 0;
    // The trace whose scale the value axis shows.
    virtual void setScaleTrace(int trace) = 0;
    virtual void setMarkers(const std::vector<Marker>& markers) = 0;
    virtual void setCursor(const std::optional<Cursor>& cursor) = 0;
    // A word over the plot's corner ("Paused"), or nothing.
    virtual void setBanner(const QString& text) = 0;
    virtual QRectF plotArea() const = 0;
    // The widget that receives touches, the mouse and gestures.
    virtual QWidget* inputSurface() = 0;
};

} // namespace fieldmon::trends
