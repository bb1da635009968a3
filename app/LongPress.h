#pragma once
// LongPress: a press held still for kHoldMs, seen as it reaches the window,
// before any widget under it takes it: mouse events (those Qt makes of
// touches too) and the touches of widgets that take touches themselves.
//
// The owner says which presses may become long ones (`wants`, given the
// press's global position; it remembers what lies there). When one does
// (`fire`), whatever took the press is sent a release outside itself, so a
// button does not fire, a switch does not turn and a table does not
// select, and the real release is swallowed. A press that moves more than
// kSlopPixels first, or a second finger, is left alone: taps, drags,
// pickers and scrolling work as before.
//
// Thread rule: main thread only.

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace fieldmon {

class LongPress final : public QObject {
public:
    static constexpr int kHoldMs = 600;
    static constexpr int kSlopPixels = 10;

    // Watches every window of the application until destroyed.
    LongPress(std::function<bool(QPoint global)> wants, std::function<void()> fire);
    ~LongPress() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pressed(QPoint global);
    // Whether the event is to be swallowed.
    bool moved(QPoint global);
    bool released();
    void held();

    std::function<bool(QPoint)> wants_;
    std::function<void()> fire_;
    QTimer timer_;
    QPointer<QWidget> target_;
    QPoint at_;
    bool swallowRelease_ = false;
};

} // namespace fieldmon
