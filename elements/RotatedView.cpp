#include "elements/RotatedView.h"

#include <QPainter>

namespace fieldmon {

RotatedView::RotatedView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 0, 0);
}

QTransform RotatedView::contentToPage() const
{
    return QTransform::fromTranslate(-size_.width() / 2, -size_.height() / 2) * transform_ *
           QTransform::fromTranslate(centre_.x(), centre_.y());
}

QPointF RotatedView::toPage(QPointF contentPoint) const
{
    return contentToPage().map(contentPoint);
}

void RotatedView::place(QSizeF size, QPointF centre, const QTransform& transform)
{
    if (size == size_ && centre == centre_ && transform == transform_)
        return;
    size_ = size;
    centre_ = centre;
    transform_ = transform;
    if (size_.isEmpty()) {
        setGeometry(0, 0, 0, 0);
        return;
    }
    // One point more on every side for the antialiased edge.
    QRect box = contentToPage().mapRect(QRectF(QPointF(0, 0), size_)).toAlignedRect().adjusted(-1, -1, 1, 1);
    if (box == geometry())
        update();
    else
        setGeometry(box);
}

void RotatedView::paintEvent(QPaintEvent*)
{
    if (size_.isEmpty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setTransform(contentToPage() * QTransform::fromTranslate(-x(), -y()));
    paintContent(p, QRectF(QPointF(0, 0), size_));
}

} // namespace fieldmon
