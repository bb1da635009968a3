#include "elements/gradient/GradientViewController.h"

#include "elements/GaugeInspect.h"
#include "elements/GaugeMath.h"

namespace fieldmon {

GradientViewController::GradientViewController() : QuartzViewController(new GradientDrawing()) {}

void GradientViewController::setExtendInner()
{
    if (GradientDrawing* d = g())
        d->setExtendInner();
}

void GradientViewController::setExtendOuter()
{
    if (GradientDrawing* d = g())
        d->setExtendOuter();
}

void GradientViewController::updatePos()
{
    GradientDrawing* d = g();
    if (!d)
        return;
    GradientDrawing::Shape s;
    s.centre = QPointF(gauge::points(gauge::read(xPos_) * gauge::kPageWidth),
                       gauge::points(gauge::read(yPos_) * gauge::kPageHeight));
    s.innerRadius = gauge::points(gauge::read(innerRadius_));
    s.outerRadius = gauge::points(gauge::read(outerRadius_));
    s.clip = gauge::clipRect(clipX_, clipY_, clipWidth_, clipHeight_);
    d->setShape(s);
}

void GradientViewController::updateGradient()
{
    GradientDrawing* d = g();
    if (!d)
        return;
    d->setColours(gauge::colour(inner_[0], inner_[1], inner_[2], inner_[3]),
                  gauge::colour(outer_[0], outer_[1], outer_[2], outer_[3]));
    updatePos();
}

void GradientViewController::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    GradientDrawing* d = g();
    if (!d)
        return;
    const GradientDrawing::Shape& s = d->shape();
    out[QStringLiteral("center")] = inspectPoint(s.centre);
    out[QStringLiteral("inner_radius")] = s.innerRadius;
    out[QStringLiteral("outer_radius")] = s.outerRadius;
    out[QStringLiteral("inner_color")] = inspectColour(d->innerColour());
    out[QStringLiteral("outer_color")] = inspectColour(d->outerColour());
    QJsonArray extend;
    if (d->extendInner())
        extend.append(QStringLiteral("inner"));
    if (d->extendOuter())
        extend.append(QStringLiteral("outer"));
    out[QStringLiteral("extend")] = extend;
    out[QStringLiteral("clip")] = inspectClip(s.clip);
}

} // namespace fieldmon
