#include "elements/circle/CircleView.h"

#include <QPainter>

#include <cmath>

namespace fieldmon {

CircleView::CircleView(QWidget* parent) : QuartzView(parent) {}

QRect CircleView::covered(const State& s)
{
    const double r = std::abs(s.radius);
    QRectF disc(s.centre.x() - r, s.centre.y() - r, 2 * r, 2 * r);
    if (s.clip)
        disc = disc.intersected(*s.clip);
    return disc.toAlignedRect().adjusted(-1, -1, 1, 1);
}

void CircleView::setState(const State& state)
{
    if (state == state_)
        return;
    const QRect before = covered(state_);
    state_ = state;
    update(QRegion(before).united(covered(state_)));
}

void CircleView::paintEvent(QPaintEvent*)
{
    const State& s = state_;
    if (s.radius == 0 || s.colour.alpha() == 0 || (s.clip && s.clip->isEmpty()))
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (s.clip)
        p.setClipRect(*s.clip);
    p.setPen(Qt::NoPen);
    p.setBrush(s.colour);
    const double r = std::abs(s.radius);
    p.drawEllipse(QRectF(s.centre.x() - r, s.centre.y() - r, 2 * r, 2 * r));
}

} // namespace fieldmon
