#include "elements/PictureView.h"

#include <QPainter>

namespace fieldmon {

PictureView::PictureView(QWidget* parent) : RotatedView(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PictureView::setPicture(const QImage& picture)
{
    picture_ = picture;
    update();
}

void PictureView::paintContent(QPainter& p, const QRectF& content)
{
    if (!picture_.isNull())
        p.drawImage(content, picture_);
}

} // namespace fieldmon
