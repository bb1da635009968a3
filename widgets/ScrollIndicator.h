#pragma once
// ScrollIndicator: a thin rounded bar on the right of a scrolling view that
// shows where the view is in its content while it moves, then hides again.
//
// Thread rule: main thread only.

#include <QTimer>
#include <QWidget>

namespace fieldmon {

class ScrollIndicator : public QWidget {
public:
    explicit ScrollIndicator(QWidget* parent);
    // Shows the bar on top of its siblings for `ms` milliseconds (again from
    // now if it is showing).
    void flash(int ms);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QTimer hideTimer_;
};

} // namespace fieldmon
