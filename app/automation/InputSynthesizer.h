#pragma once
// Synthesized input, delivered through Qt's window-system event path as the
// platform delivers a finger or a mouse: the events carry the true window
// position and reach whatever lies at that point (touch events first, then
// the mouse events Qt makes of an unhandled touch; or plain mouse events).
// Each call returns once Qt has delivered its event.
//
// One pointer is down at most. Keys go to the focused widget of the window.
//
// Thread rule: main thread only.

#include <QEventPoint>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QWindow>

#include <optional>

class QPointingDevice;

namespace QTest {
class QTouchEventSequence;
}

namespace fieldmon::automation {

class InputSynthesizer {
public:
    enum class Pointer { Touch, Mouse };

    InputSynthesizer();
    ~InputSynthesizer();

    // `at` is in `window`'s coordinates.
    void press(QWindow* window, QPointF at, Pointer pointer);
    void move(QPointF at);
    void release();
    void tap(QWindow* window, QPointF at, Pointer pointer);

    bool isDown() const { return down_; }

    // Text as key presses, one character at a time; Return as the key.
    void typeText(QWindow* window, const QString& text);
    void pressReturn(QWindow* window);

private:
    void touch(QEventPoint::State state);
    void mouse(QEvent::Type type, Qt::MouseButtons buttons, Qt::MouseButton button);
    int timestamp() const;

    QPointingDevice* touchscreen_;
    QPointer<QWindow> window_;
    Pointer pointer_ = Pointer::Touch;
    QPointF at_;
    bool down_ = false;
};

} // namespace fieldmon::automation
