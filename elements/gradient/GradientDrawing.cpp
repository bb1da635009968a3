#include "elements/gradient/GradientDrawing.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>

namespace fieldmon {

namespace {

// The gradient's two circles as the smaller (a) and the larger (b) radius,
// with what lies inside a and outside b.
struct Rings {
    double a, b;
    QColor atA, atB;
    bool fillInside, fillOutside;
};

Rings rings(const GradientDrawing::Shape& s, const QColor& inner, const QColor& outer, bool extendInner,
            bool extendOuter)
{
    const double ri = std::max(0.0f, s.innerRadius), ro = std::max(0.0f, s.outerRadius);
    if (ri <= ro)
        return {ri, ro, inner, outer, extendInner, extendOuter};
    return {ro, ri, outer, inner, extendOuter, extendInner};
}

QRectF disc(QPointF c, double r)
{
    return QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r);
}

} // namespace

GradientDrawing::GradientDrawing(QWidget* parent) : QuartzView(parent)
{
    rebuildBrush();
}

void GradientDrawing::rebuildBrush()
{
    Rings r = rings(shape_, inner_, outer_, extendInner_, extendOuter_);
    if (r.a == r.b) {
        brush_ = QBrush();
        return;
    }
    QRadialGradient g(shape_.centre, r.b, shape_.centre, r.a);
    g.setColorAt(0, r.atA);
    g.setColorAt(1, r.atB);
    g.setSpread(QGradient::PadSpread);
    brush_ = QBrush(g);
}

QRect GradientDrawing::covered() const
{
    Rings r = rings(shape_, inner_, outer_, extendInner_, extendOuter_);
    if (r.a == r.b)
        return {};
    QRectF area = r.fillOutside ? QRectF(rect()) : disc(shape_.centre, r.b);
    if (shape_.clip)
        area = area.intersected(*shape_.clip);
    return area.toAlignedRect().adjusted(-1, -1, 1, 1);
}

void GradientDrawing::changed(const QRect& before)
{
    rebuildBrush();
    update(QRegion(before).united(covered()));
}

void GradientDrawing::setShape(const Shape& shape)
{
    if (shape == shape_)
        return;
    const QRect before = covered();
    shape_ = shape;
    changed(before);
}

void GradientDrawing::setColours(const QColor& inner, const QColor& outer)
{
    if (inner == inner_ && outer == outer_)
        return;
    const QRect before = covered();
    inner_ = inner;
    outer_ = outer;
    changed(before);
}

void GradientDrawing::setExtend(bool inner, bool outer)
{
    if (inner == extendInner_ && outer == extendOuter_)
        return;
    const QRect before = covered();
    extendInner_ = inner;
    extendOuter_ = outer;
    changed(before);
}

void GradientDrawing::paintEvent(QPaintEvent*)
{
    if (shape_.clip && shape_.clip->isEmpty())
        return;
    const QRectF page = shape_.clip ? *shape_.clip : QRectF(rect());
    Rings r = rings(shape_, inner_, outer_, extendInner_, extendOuter_);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(page);
    p.setPen(Qt::NoPen);
    // Two equal circles about one centre: every circle of the gradient, the
    // extended ones too, is that one circle, which covers no area. Nothing
    // is drawn, extended or not.
    if (r.a == r.b)
        return;
    // One fill with the padded gradient, shaped by what is drawn: the pad
    // gives the extended sides their colours.
    QPainterPath area;
    if (r.fillOutside)
        area.addRect(page);
    else
        area.addEllipse(disc(shape_.centre, r.b));
    if (!r.fillInside)
        area.addEllipse(disc(shape_.centre, r.a));
    p.fillPath(area, brush_);
}

} // namespace fieldmon
