#pragma once
// HUDView: the heads-up display's box: the lines it is given, oldest first,
// in a rounded grey box (grey 0.7 at alpha 0.9, corner radius 12) across
// the whole width at the bottom of the page. The text (16-point system
// font, black, from x = 5, 310 points wide) sits at the bottom of the box,
// 10 points above the page's bottom edge; a line too long for that width
// wraps onto as many rows as it needs (at word boundaries, else anywhere).
// The box is as high as the rows plus 20 points. At most the rows that fit
// the display's 250-point label show, the newest; with no lines nothing is
// drawn.
//
// The box and the text each have an alpha (the text's applies on top of
// the box's), and a short bounce lifts both by 7 points and back. Touches
// reach the owner (EventHUD) in the view's coordinates; which presses the
// view takes at all is the owner's hit test (TouchHitTest).
//
// Thread rule: main thread only.

#include "elements/QuartzView.h"

#include <QFont>
#include <QPointF>
#include <QPointer>
#include <QStringList>

class QMouseEvent;
class QPropertyAnimation;

namespace fieldmon {

class HUDView final : public QuartzView {
    Q_OBJECT
    Q_PROPERTY(qreal bounce READ bounce WRITE setBounce)
public:
    static constexpr int kFontSize = 16;
    static constexpr double kPadding = 20.0;
    static constexpr double kBounceLift = 7.0;
    static constexpr double kTextWidth = 310.0;
    static constexpr double kLabelHeight = 250.0;

    // What the view hands its touches to (the EventHUD).
    class Owner {
    public:
        // Whether the view takes a press at `at`, in the view's coordinates.
        virtual bool hitTest(QPointF at) = 0;
        virtual void touchesBegan(QMouseEvent* event) = 0;

    protected:
        ~Owner() = default;
    };

    // `owner` outlives the view (a widget deletes its view when it goes).
    explicit HUDView(Owner* owner);

    void setLines(const QStringList& lines);
    const QStringList& lines() const { return lines_; }
    // The rows the lines take once wrapped, top to bottom.
    const QStringList& rows() const { return rows_; }
    // One line of text in the display's font, in points.
    double lineHeight() const;
    double boxHeight() const;
    // The box in the view's coordinates (empty without lines).
    QRectF box() const;

    void setAlphas(double view, double label);
    double viewAlpha() const { return viewAlpha_; }
    double labelAlpha() const { return labelAlpha_; }

    // Lifts the box and the text by 7 points at alpha 0.9 over 0.2 s, then
    // back over 0.2 s.
    void startBounce();
    qreal bounce() const { return bounce_; }
    void setBounce(qreal b);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The part of the view the box takes now, and while bouncing.
    QRect dirtyArea() const;

    Owner* owner_;
    QFont font_;
    QStringList lines_;
    QStringList rows_;
    double viewAlpha_ = 1.0;
    double labelAlpha_ = 1.0;
    qreal bounce_ = 0;
    QPointer<QPropertyAnimation> bounceAnimation_;
};

} // namespace fieldmon
