#include "app/automation/InputSynthesizer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPointingDevice>
#include <QtTest/qtestkeyboard.h>
#include <QtTest/qtestmouse.h>
#include <QtTest/qtesttouch.h>

namespace fieldmon::automation {

namespace {

constexpr int kTouchId = 1;

// One touch screen for the whole run: Qt keeps registered devices until the
// application ends.
QPointingDevice* touchscreen()
{
    static QPointingDevice* device = QTest::createTouchDevice(QInputDevice::DeviceType::TouchScreen);
    return device;
}

QElapsedTimer& clock()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}

} // namespace

InputSynthesizer::InputSynthesizer() : touchscreen_(touchscreen()) {}

InputSynthesizer::~InputSynthesizer()
{
    if (down_)
        release();
}

int InputSynthesizer::timestamp() const
{
    // Real time, so that Qt tells taps, double taps and flicks apart as it
    // does for a finger. Starts above 0: Qt reads 0 as "no time given".
    return static_cast<int>(clock().elapsed()) + 1;
}

void InputSynthesizer::touch(QEventPoint::State state)
{
    if (!window_)
        return;
    QPoint at = at_.toPoint();
    QTest::QTouchEventSequence sequence = QTest::touchEvent(window_.data(), touchscreen_, false);
    switch (state) {
    case QEventPoint::State::Pressed:
        sequence.press(kTouchId, at, window_.data());
        break;
    case QEventPoint::State::Updated:
        sequence.move(kTouchId, at, window_.data());
        break;
    case QEventPoint::State::Released:
        sequence.release(kTouchId, at, window_.data());
        break;
    case QEventPoint::State::Stationary:
    case QEventPoint::State::Unknown:
        return;
    }
    // Delivered now, without running the event loop.
    sequence.commit(false);
}

void InputSynthesizer::mouse(QEvent::Type type, Qt::MouseButtons buttons, Qt::MouseButton button)
{
    if (!window_)
        return;
    qt_handleMouseEvent(window_.data(), at_, window_->mapToGlobal(at_), buttons, button, type, Qt::NoModifier,
                        timestamp());
}

void InputSynthesizer::press(QWindow* window, QPointF at, Pointer pointer)
{
    if (down_)
        release();
    window_ = window;
    pointer_ = pointer;
    at_ = at;
    down_ = true;
    if (pointer_ == Pointer::Touch) {
        touch(QEventPoint::State::Pressed);
        return;
    }
    // A mouse comes to the point before its button goes down.
    mouse(QEvent::MouseMove, Qt::NoButton, Qt::NoButton);
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
}

void InputSynthesizer::move(QPointF at)
{
    if (!down_)
        return;
    at_ = at;
    if (pointer_ == Pointer::Touch)
        touch(QEventPoint::State::Updated);
    else
        mouse(QEvent::MouseMove, Qt::LeftButton, Qt::NoButton);
}

void InputSynthesizer::release()
{
    if (!down_)
        return;
    down_ = false;
    if (pointer_ == Pointer::Touch)
        touch(QEventPoint::State::Released);
    else
        mouse(QEvent::MouseButtonRelease, Qt::NoButton, Qt::LeftButton);
}

void InputSynthesizer::tap(QWindow* window, QPointF at, Pointer pointer)
{
    press(window, at, pointer);
    release();
}

void InputSynthesizer::typeText(QWindow* window, const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QString one = text.mid(i, length);
        i += length - 1;
        int key = one.size() == 1 ? int(one.at(0).toUpper().unicode()) : int(Qt::Key_unknown);
        qt_handleKeyEvent(window, QEvent::KeyPress, key, Qt::NoModifier, one);
        qt_handleKeyEvent(window, QEvent::KeyRelease, key, Qt::NoModifier, one);
    }
}

void InputSynthesizer::pressReturn(QWindow* window)
{
    qt_handleKeyEvent(window, QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    qt_handleKeyEvent(window, QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
}

} // namespace fieldmon::automation
