#pragma once
// JoystickView: the joystick's full-page overlay and its knob, a red disc of
// 60 × 60 points. The knob is drawn at an offset inside the view, which
// keeps covering the whole page, so the area that takes touches never moves
// with the knob.
//
// The knob's place and the view's alpha each have a logical value (what the
// joystick reads and reports) and a shown value that follows it, at once or
// animated; paintEvent paints the shown values.
//
// Touches: in service mode the view takes every press anywhere on the page
// (TouchHitTest asks the owner); otherwise presses fall through to whatever
// lies under it. Finger touches and mouse presses are handed to the owner in
// window coordinates; a cancelled touch, and hiding the view (its page
// popped or covered), end the finger.
//
// Thread rule: main thread only.

#include "elements/QuartzView.h"

#include <QPointF>
#include <QPointer>

class QPropertyAnimation;

namespace fieldmon {

class JoystickView final : public QuartzView {
    Q_OBJECT
    Q_PROPERTY(QPointF shownKnob READ shownKnob WRITE setShownKnob)
    Q_PROPERTY(qreal shownAlpha READ shownAlpha WRITE setShownAlpha)
public:
    static constexpr double kKnobSize = 60.0;

    // What the view hands its touches to (the Joystick).
    class Owner {
    public:
        // Whether the view takes a touch now.
        virtual bool takesTouches() const = 0;
        // Touches in window coordinates.
        virtual void touchesBegan(QPointF window) = 0;
        virtual void touchesMoved(QPointF window) = 0;
        virtual void touchesEnded() = 0;
        virtual void touchesCancelled() = 0;

    protected:
        ~Owner() = default;
    };

    // `owner` outlives the view (a widget deletes its view when it goes).
    explicit JoystickView(Owner* owner);

    // The knob's top left in page points: logical and shown.
    QPointF knob() const { return knob_; }
    QPointF shownKnob() const { return shownKnob_; }
    // 0 (invisible) … 1.
    double alpha() const { return alpha_; }
    qreal shownAlpha() const { return shownAlpha_; }
    QPointF middlePoint() const { return QPointF(160, 208); }

    // Sets the logical value; the shown one follows over `seconds` (0: at once).
    void setKnob(QPointF topLeft, double seconds = 0);
    void setAlpha(double alpha, double seconds = 0);

    void setShownKnob(QPointF p);
    void setShownAlpha(qreal a);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent*) override;

private:
    QRect knobArea(QPointF topLeft) const;
    // A point of the view in its window's coordinates.
    QPointF toWindow(QPointF local) const;

    Owner* owner_;
    QPointF knob_;
    QPointF shownKnob_;
    double alpha_ = 0;
    qreal shownAlpha_ = 0;
    QPointer<QPropertyAnimation> knobAnimation_;
    QPointer<QPropertyAnimation> alphaAnimation_;
};

} // namespace fieldmon
