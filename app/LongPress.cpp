#include "app/LongPress.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTouchEvent>
#include <QWindow>

namespace fieldmon {

LongPress::LongPress(std::function<bool(QPoint global)> wants, std::function<void()> fire)
    : wants_(std::move(wants)), fire_(std::move(fire))
{
    timer_.setSingleShot(true);
    timer_.setInterval(kHoldMs);
    connect(&timer_, &QTimer::timeout, this, &LongPress::held);
    qApp->installEventFilter(this);
}

LongPress::~LongPress()
{
    qApp->removeEventFilter(this);
}

void LongPress::pressed(QPoint global)
{
    swallowRelease_ = false;
    timer_.stop();
    if (!wants_(global))
        return;
    at_ = global;
    target_ = QApplication::widgetAt(global);
    timer_.start();
}

bool LongPress::moved(QPoint global)
{
    if (timer_.isActive() && (global - at_).manhattanLength() > kSlopPixels)
        timer_.stop();
    return swallowRelease_;
}

bool LongPress::released()
{
    timer_.stop();
    // A long press took this press: nothing under it sees the end.
    const bool swallow = swallowRelease_;
    swallowRelease_ = false;
    return swallow;
}

void LongPress::held()
{
    if (QWidget* grabber = QWidget::mouseGrabber() ? QWidget::mouseGrabber() : target_.data()) {
        const QPointF outside(-100000, -100000);
        QMouseEvent release(QEvent::MouseButtonRelease, outside, grabber->mapToGlobal(outside), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(grabber, &release);
    }
    swallowRelease_ = true;
    fire_();
}

bool LongPress::eventFilter(QObject* watched, QEvent* event)
{
    // Seen once, at the window, before any widget under it.
    if (!qobject_cast<QWindow*>(watched))
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton)
            pressed(me->globalPosition().toPoint());
        break;
    }
    case QEvent::MouseMove:
        if (moved(static_cast<QMouseEvent*>(event)->globalPosition().toPoint()))
            return true;
        break;
    case QEvent::MouseButtonRelease:
        if (released())
            return true;
        break;
    case QEvent::TouchBegin: {
        auto* te = static_cast<QTouchEvent*>(event);
        if (te->points().size() == 1)
            pressed(te->points().front().globalPosition().toPoint());
        else
            timer_.stop();
        break;
    }
    case QEvent::TouchUpdate: {
        auto* te = static_cast<QTouchEvent*>(event);
        if (te->points().size() != 1)
            timer_.stop();
        else if (moved(te->points().front().globalPosition().toPoint()))
            return true;
        break;
    }
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
        if (released())
            return true;
        break;
    default: break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace fieldmon
