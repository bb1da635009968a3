#include "elements/progress/ProgressBarView.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

namespace fieldmon {

ProgressBarView::ProgressBarView(QWidget* parent) : RotatedView(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ProgressBarView::setProgress(float progress)
{
    progress = progress == progress ? std::clamp(progress, 0.0f, 1.0f) : 0.0f;
    if (progress == progress_)
        return;
    progress_ = progress;
    update();
}

void ProgressBarView::paintContent(QPainter& p, const QRectF& r)
{
    const double radius = r.height() / 2;
    QLinearGradient track(r.topLeft(), r.bottomLeft());
    track.setColorAt(0, QColor(0xb8, 0xb8, 0xb8));
    track.setColorAt(1, QColor(0xf4, 0xf4, 0xf4));
    p.setPen(QPen(QColor(0x8c, 0x8c, 0x8c), 0.8));
    p.setBrush(track);
    p.drawRoundedRect(r.adjusted(0.4, 0.4, -0.4, -0.4), radius, radius);
    if (progress_ <= 0)
        return;
    // The fill keeps its rounded ends however short it is.
    QRectF fill(r.x(), r.y(), std::max(r.height(), r.width() * progress_), r.height());
    fill = fill.intersected(r);
    QLinearGradient blue(fill.topLeft(), fill.bottomLeft());
    blue.setColorAt(0, QColor(0x6e, 0xa6, 0xf0));
    blue.setColorAt(1, QColor(0x1c, 0x5f, 0xd6));
    p.setPen(QPen(QColor(0x16, 0x4c, 0xad), 0.8));
    p.setBrush(blue);
    p.drawRoundedRect(fill.adjusted(0.4, 0.4, -0.4, -0.4), radius, radius);
}

} // namespace fieldmon
