#include "elements/joystick/JoystickView.h"

#include "elements/TouchHitTest.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QTouchEvent>

namespace fieldmon {

JoystickView::JoystickView(Owner* owner) : owner_(owner)
{
    setAttribute(Qt::WA_AcceptTouchEvents);
    setKnob(middlePoint() - QPointF(kKnobSize / 2, kKnobSize / 2));
    TouchHitTest::add(this, [this](QPointF) { return owner_->takesTouches(); });
}

QRect JoystickView::knobArea(QPointF topLeft) const
{
    return QRectF(topLeft, QSizeF(kKnobSize, kKnobSize)).toAlignedRect().adjusted(-1, -1, 1, 1);
}

namespace {

// Runs `animation` from the property's shown value to `to`, or sets it at
// once; a running animation of the property is replaced.
template <class T>
void follow(QWidget* view, QPointer<QPropertyAnimation>& animation, const char* property, const T& to,
            double seconds)
{
    if (animation)
        animation->stop();
    if (seconds <= 0) {
        view->setProperty(property, QVariant::fromValue(to));
        return;
    }
    animation = new QPropertyAnimation(view, property, view);
    animation->setDuration(static_cast<int>(seconds * 1000));
    animation->setEndValue(QVariant::fromValue(to));
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace

void JoystickView::setKnob(QPointF topLeft, double seconds)
{
    knob_ = topLeft;
    follow(this, knobAnimation_, "shownKnob", topLeft, seconds);
}

void JoystickView::setAlpha(double alpha, double seconds)
{
    alpha_ = alpha;
    follow(this, alphaAnimation_, "shownAlpha", static_cast<qreal>(alpha), seconds);
}

void JoystickView::setShownKnob(QPointF p)
{
    if (p == shownKnob_)
        return;
    const QRect before = knobArea(shownKnob_);
    shownKnob_ = p;
    if (shownAlpha_ > 0)
        update(QRegion(before).united(knobArea(shownKnob_)));
}

void JoystickView::setShownAlpha(qreal a)
{
    if (a == shownAlpha_)
        return;
    shownAlpha_ = a;
    update(knobArea(shownKnob_));
}

QPointF JoystickView::toWindow(QPointF local) const
{
    return mapTo(window(), local);
}

bool JoystickView::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd: {
        auto* touch = static_cast<QTouchEvent*>(event);
        if (touch->points().isEmpty())
            return true;
        // Any one of the touches: the first.
        const QPointF at = toWindow(touch->points().first().position());
        if (event->type() == QEvent::TouchBegin)
            owner_->touchesBegan(at);
        else if (event->type() == QEvent::TouchUpdate)
            owner_->touchesMoved(at);
        else
            owner_->touchesEnded();
        event->accept();
        return true;
    }
    case QEvent::TouchCancel:
        owner_->touchesCancelled();
        event->accept();
        return true;
    default:
        return QuartzView::event(event);
    }
}

void JoystickView::mousePressEvent(QMouseEvent* event)
{
    owner_->touchesBegan(toWindow(event->position()));
    event->accept();
}

void JoystickView::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        owner_->touchesMoved(toWindow(event->position()));
    event->accept();
}

void JoystickView::mouseReleaseEvent(QMouseEvent* event)
{
    owner_->touchesEnded();
    event->accept();
}

void JoystickView::hideEvent(QHideEvent* event)
{
    owner_->touchesCancelled();
    QuartzView::hideEvent(event);
}

void JoystickView::paintEvent(QPaintEvent*)
{
    if (shownAlpha_ <= 0)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(shownAlpha_);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(1, 0, 0, 1));
    p.drawEllipse(QRectF(shownKnob_, QSizeF(kKnobSize, kKnobSize)));
}

} // namespace fieldmon
