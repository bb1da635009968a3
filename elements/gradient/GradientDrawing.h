#pragma once
// GradientDrawing: the drawing of a GradientViewController: a two-stop
// radial gradient between two circles about one centre, the inner colour on
// the inner circle and the outer colour on the outer one, optionally clipped
// to a rectangle (page points). Nothing is drawn inside the inner circle
// unless extendInner is set (the inner colour fills it), nor outside the
// outer circle unless extendOuter is set (the outer colour fills the rest of
// the clipped page). When the inner radius is the larger one the gradient
// runs inwards and the two options swap sides with it. Negative radii read 0.
//
// Until it is given colours the gradient fades from opaque yellow to clear
// yellow. It paints what it was last told; the brush is rebuilt only when
// the colours, the centre or the radii change.
//
// Thread rule: main thread only.

#include "elements/QuartzView.h"

#include <QBrush>
#include <QColor>
#include <QPointF>
#include <QRectF>

#include <optional>

namespace fieldmon {

class GradientDrawing final : public QuartzView {
    Q_OBJECT
public:
    struct Shape {
        QPointF centre;
        float innerRadius = 0;
        float outerRadius = 0;
        std::optional<QRectF> clip;
        bool operator==(const Shape&) const = default;
    };

    explicit GradientDrawing(QWidget* parent = nullptr);

    void setShape(const Shape& shape);
    void setColours(const QColor& inner, const QColor& outer);
    void setExtendInner() { setExtend(true, extendOuter_); }
    void setExtendOuter() { setExtend(extendInner_, true); }

    const Shape& shape() const { return shape_; }
    QColor innerColour() const { return inner_; }
    QColor outerColour() const { return outer_; }
    bool extendInner() const { return extendInner_; }
    bool extendOuter() const { return extendOuter_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void setExtend(bool inner, bool outer);
    void rebuildBrush();
    // The area the drawing covers on the page.
    QRect covered() const;
    void changed(const QRect& before);

    Shape shape_;
    QColor inner_ = QColor::fromRgbF(1, 1, 0, 1);
    QColor outer_ = QColor::fromRgbF(1, 1, 0, 0);
    bool extendInner_ = false;
    bool extendOuter_ = false;
    QBrush brush_;
};

} // namespace fieldmon
