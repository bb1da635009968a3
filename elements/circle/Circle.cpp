#include "elements/circle/Circle.h"

#include "elements/GaugeInspect.h"
#include "elements/GaugeMath.h"

namespace fieldmon {

Circle::Circle() : QuartzViewController(new CircleView()) {}

void Circle::update()
{
    CircleView* view = g();
    if (!view)
        return;
    CircleView::State s;
    s.centre = QPointF(gauge::points(gauge::read(xPos_) * gauge::kPageWidth),
                       gauge::points(gauge::read(yPos_) * gauge::kPageHeight));
    s.radius = gauge::points(gauge::read(radius_));
    s.colour = gauge::colour(r_, g_, b_, a_);
    s.clip = gauge::clipRect(clipX_, clipY_, clipWidth_, clipHeight_);
    view->setState(s);
}

void Circle::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    if (CircleView* view = g()) {
        const CircleView::State& s = view->state();
        out[QStringLiteral("center")] = inspectPoint(s.centre);
        out[QStringLiteral("radius")] = s.radius;
        out[QStringLiteral("color")] = inspectColour(s.colour);
        out[QStringLiteral("clip")] = inspectClip(s.clip);
    }
}

} // namespace fieldmon
