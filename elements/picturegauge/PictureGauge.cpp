#include "elements/picturegauge/PictureGauge.h"

#include "elements/GaugeInspect.h"
#include "elements/GaugeMath.h"

#include <cmath>

namespace fieldmon {

PictureGauge::PictureGauge(const QString& resource, QPointF pivot, std::optional<QPointF> initialOrigin)
    : pivot_(pivot)
{
    auto* view = new PictureView();
    view->setPicture(QImage(resource));
    setView(view);
    const QSizeF size = view->pictureSize();
    const QPointF origin = initialOrigin.value_or(QPointF(size.width() / 2, size.height() / 2));
    view->place(size, origin + QPointF(size.width() / 2, size.height() / 2), QTransform());
}

QTransform PictureGauge::turnAbout(QPointF pivot, double angle)
{
    if (!std::isfinite(angle))
        angle = 0;
    const double c = std::cos(angle), s = std::sin(angle);
    const double px = pivot.x(), py = pivot.y();
    // The turn by `angle` after a shift by (-px, -py), in single precision.
    auto f = [](double v) { return static_cast<double>(static_cast<float>(v)); };
    return QTransform(f(c), f(s), f(-s), f(c), f(-(c * px - s * py)), f(-(s * px + c * py)));
}

void PictureGauge::update()
{
    PictureView* view = theImageView();
    if (!view)
        return;
    const QPointF centre(gauge::points(gauge::read(xPos_) * gauge::kPageWidth),
                         gauge::points(gauge::read(yPos_) * gauge::kPageHeight));
    const double angle = gauge::read(angle_);
    angleShown_ = std::isfinite(angle) ? static_cast<float>(angle) : 0.0f;
    view->place(view->pictureSize(), centre, turnAbout(pivot_, angle));
}

void PictureGauge::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    PictureView* view = theImageView();
    if (!view)
        return;
    // The picture's frame unturned, its pivot at `center`; `angle` turns it
    // about `center`.
    const QSizeF size = view->pictureSize();
    const QPointF at = view->centre();
    const QPointF topLeft = at - pivot_ - QPointF(size.width() / 2, size.height() / 2);
    out[QStringLiteral("frame")] = inspectRect(QRectF(topLeft, size));
    out[QStringLiteral("center")] = inspectPoint(at);
    out[QStringLiteral("angle")] = angleShown_;
}

} // namespace fieldmon
