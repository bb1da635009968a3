#include "elements/progress/Progress.h"

#include "elements/GaugeInspect.h"
#include "elements/GaugeMath.h"

#include <algorithm>
#include <cmath>

namespace fieldmon {

double Progress::diagonal()
{
    return std::sqrt(gauge::kPageHeight * gauge::kPageHeight + gauge::kPageWidth * gauge::kPageWidth);
}

Progress::Progress()
{
    auto* bar = new ProgressBarView();
    setView(bar);
    // The bar's initial frame (0, 0, 310, 35), until its first update.
    bar->place(QSizeF(310, 35), QPointF(155, 17.5), QTransform());
}

void Progress::setTag(int tag)
{
    RemoteView::setTag(tag);
    if (ProgressBarView* bar = p())
        bar->setTag(tag);
}

void Progress::update()
{
    ProgressBarView* bar = p();
    if (!bar)
        return;
    const double length = gauge::read(length_);
    lengthShown_ = std::isfinite(length) ? static_cast<float>(length) : 0.0f;
    const float width = std::max(0.0f, gauge::points(length * diagonal()));
    const QPointF centre(gauge::points(gauge::read(xPos_) * gauge::kPageWidth),
                         gauge::points(gauge::read(yPos_) * gauge::kPageHeight));
    const double angle = gauge::read(angle_);
    angleShown_ = std::isfinite(angle) ? static_cast<float>(angle) : 0.0f;
    QTransform turn;
    turn.rotateRadians(angleShown_);
    bar->place(QSizeF(width, kHeight), centre, turn);
    bar->setProgress(static_cast<float>(gauge::read(progress_)));
}

void Progress::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    ProgressBarView* bar = p();
    if (!bar)
        return;
    // The unturned frame; `angle` turns it about `center`.
    const QSizeF size = bar->contentSize();
    const QPointF c = bar->centre();
    out[QStringLiteral("frame")] =
        inspectRect(QRectF(c.x() - size.width() / 2, c.y() - size.height() / 2, size.width(), size.height()));
    out[QStringLiteral("center")] = inspectPoint(c);
    out[QStringLiteral("angle")] = angleShown_;
    out[QStringLiteral("length")] = lengthShown_;
    out[QStringLiteral("progress")] = bar->progress();
}

} // namespace fieldmon
