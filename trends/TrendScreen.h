#pragma once
// The trend screen: up to eight traces of one device over time, drawn from
// the history store, on the navigation stack like any other screen.
//
//   auto* trend = new trends::TrendScreen(store, serial, "Pump A", {{id, "pressure", "bar"}}, alerts);
//   trend->setExportFolder(documents);       // or --data-dir
//   trend->setEvents(eventsOfTheDevice);      // markers on the time axis
//   stack.push(trend, true);                  // the stack owns and deletes it
//
// Top row: the spans (1 min, 10 min, 1 h, 24 h) and Pause / Resume. Under
// the plot, the legend (tap an entry for its scale on the value axis), "+"
// (another variable of the device that has history) and "Export CSV" (the
// visible window or everything kept, to the export folder; an alert names
// the file or says why not).
//
// On the plot: the mouse wheel or a pinch zooms, a drag pans (into the past
// it freezes the window like Pause; back to the present it follows again),
// a tap puts the cursor there (the time and each trace's value) and a tap
// on the cursor takes it away.
//
// Each trace has its own scale, fitted to what the window shows. While the
// screen is shown it redraws four times a second from the store's
// decimated queries (at most two points per pixel column per trace).
//
// Thread rule: main thread only.

#include "history/CsvExport.h"
#include "history/HistoryStore.h"
#include "platform/Alerts.h"
#include "trends/TrendPlot.h"
#include "trends/TrendWindow.h"
#include "widgets/Screen.h"

#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

class QPushButton;

namespace fieldmon::trends {

class TrendLegend;

struct TrendTrace {
    history::SeriesId id;
    QString name;  // the variable, as the legend and the CSV header name it
    QString units; // from the document's text around the value; may be empty
};

// An entry of the device's event log, as a marker on the time axis.
struct TrendEvent {
    double t = 0; // timeline seconds
    QString text;
};

class TrendScreen : public Screen {
    Q_OBJECT
public:
    static constexpr int kMaxTraces = 8;
    static constexpr int kRefreshMs = 250;

    TrendScreen(history::HistoryStore& store, std::int32_t serial, QString deviceName, std::vector<TrendTrace> traces,
                platform::Alerts& alerts, QWidget* parent = nullptr);
    ~TrendScreen() override;

    void setEvents(std::vector<TrendEvent> events);
    void setExportFolder(const QString& folder) { exportFolder_ = folder; }

    // False when eight traces are shown already, or this one is.
    bool addTrace(const TrendTrace& trace);
    // Series of the device with history that are not shown yet: what "+" offers.
    std::vector<history::SeriesInfo> addableSeries() const;

    void setSpan(TrendWindow::Span span);
    void setPaused(bool paused);
    bool paused() const { return window_.paused(); }
    const TrendWindow& window() const { return window_; }

    void setCursorAt(std::optional<double> t);
    std::optional<double> cursorTime() const { return cursorT_; }

    // Writes the CSV (the window shown, or everything kept) and then alerts
    // with the path or the reason; `done` (optional) gets the result too.
    void exportCsv(bool everything, std::function<void(const history::CsvResult&)> done = {});
    // The same to `path` (a script names it); empty: a new name in the export folder.
    void exportCsvTo(const QString& path, bool everything, std::function<void(const history::CsvResult&)> done = {});

    // Queries the store and redraws; the timer calls it while shown.
    void refresh();

    TrendPlot* plot() const { return plot_.get(); }
    TrendLegend* legend() const { return legend_; }
    int traceCount() const { return static_cast<int>(traces_.size()); }
    // Points handed to the plot for a trace at the last refresh.
    int pointsDrawn(int trace) const;

    QString automationKind() const override { return QStringLiteral("trend"); }
    void inspect(QJsonObject& screen) const override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    struct Trace {
        TrendTrace spec;
        QColor colour;
        history::TraceData data;
        double yMin = 0, yMax = 1;
    };
    void rebuildTraces();
    void layoutChildren();
    double timeAtX(double x) const;
    QString valueAt(const Trace& trace, double t) const;
    QString latestText(const Trace& trace) const;
    QString timeLabel(double t, bool seconds) const;
    void updateButtons();
    // What gestures on the plot do (TrendGestures); x in plot coordinates.
    void zoomAt(double factor, double x);
    void panBy(double pixels);
    void tapAt(double x);
    void showAddMenu();
    void askExport();

    history::HistoryStore& store_;
    std::int32_t serial_;
    QString deviceName_;
    platform::Alerts& alerts_;
    std::vector<Trace> traces_;
    std::vector<TrendEvent> events_;
    QString exportFolder_;
    TrendWindow window_;
    std::optional<double> cursorT_;
    int scaleTrace_ = 0;

    std::unique_ptr<TrendPlot> plot_;
    TrendLegend* legend_;
    std::vector<QPushButton*> spanButtons_;
    QPushButton* pauseButton_;
    QPushButton* addButton_;
    QPushButton* exportButton_;
    QTimer timer_;
};

} // namespace fieldmon::trends
