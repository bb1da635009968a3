#include "trends/TrendGestures.h"

#include <QGestureEvent>
#include <QMouseEvent>
#include <QPinchGesture>
#include <QWheelEvent>
#include <QWidget>

#include <cmath>

namespace fieldmon::trends {

TrendGestures::TrendGestures(QWidget* surface, QWidget* plot, Handlers handlers)
    : QObject(surface), surface_(surface), plot_(plot), handlers_(std::move(handlers))
{
    surface_->installEventFilter(this);
    surface_->grabGesture(Qt::PinchGesture);
    surface_->setAttribute(Qt::WA_AcceptTouchEvents);
}

QPointF TrendGestures::toPlot(QPointF p) const { return QPointF(surface_->mapTo(plot_, p.toPoint())); }

bool TrendGestures::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != surface_)
        return false;
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        // A notch (120) zooms in by a fifth.
        handlers_.zoom(std::pow(0.8, wheel->angleDelta().y() / 120.0), toPlot(wheel->position()).x());
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        const QPointF at = toPlot(mouse->position());
        press_ = Press{at, at, false};
        return true;
    }
    case QEvent::MouseMove: {
        if (!press_)
            return false;
        const QPointF at = toPlot(static_cast<QMouseEvent*>(event)->position());
        if (!press_->dragging && (at - press_->at).manhattanLength() > kTapSlop)
            press_->dragging = true;
        if (press_->dragging) {
            handlers_.pan(at.x() - press_->last.x());
            press_->last = at;
        }
        return true;
    }
    case QEvent::MouseButtonRelease: {
        if (!press_)
            return false;
        const Press p = *press_;
        press_.reset();
        if (!p.dragging)
            handlers_.tap(p.at.x());
        return true;
    }
    case QEvent::Gesture: {
        auto* gesture = static_cast<QGestureEvent*>(event);
        auto* pinch = static_cast<QPinchGesture*>(gesture->gesture(Qt::PinchGesture));
        if (!pinch)
            return false;
        if ((pinch->changeFlags() & QPinchGesture::ScaleFactorChanged) && pinch->scaleFactor() > 0)
            handlers_.zoom(1.0 / pinch->scaleFactor(), toPlot(surface_->mapFromGlobal(pinch->centerPoint())).x());
        gesture->accept(pinch);
        press_.reset(); // two fingers: no tap, no drag
        return true;
    }
    default:
        return false;
    }
}

} // namespace fieldmon::trends
