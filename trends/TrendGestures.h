#pragma once
// Touches, the mouse and pinches on a trend plot, turned into three things
// the trend screen understands: zoom by a factor about an x, pan by some
// pixels, and a tap at an x (x in the plot's coordinates). A press that
// moves more than kTapSlop pixels is a drag, otherwise a tap; a pinch
// cancels both.
//
// Thread rule: main thread only.

#include <QObject>
#include <QPointF>

#include <functional>
#include <optional>

class QWidget;

namespace fieldmon::trends {

class TrendGestures final : public QObject {
    Q_OBJECT
public:
    static constexpr double kTapSlop = 8;

    struct Handlers {
        std::function<void(double factor, double x)> zoom; // below 1 zooms in
        std::function<void(double pixels)> pan;            // positive: toward the past
        std::function<void(double x)> tap;
    };

    // Watches `surface` (the widget the events go to); x is reported in
    // `plot`'s coordinates.
    TrendGestures(QWidget* surface, QWidget* plot, Handlers handlers);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Press {
        QPointF at;
        QPointF last;
        bool dragging = false;
    };
    QPointF toPlot(QPointF p) const;

    QWidget* surface_;
    QWidget* plot_;
    Handlers handlers_;
    std::optional<Press> press_;
};

} // namespace fieldmon::trends
