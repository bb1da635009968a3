#include "app/LinkDot.h"

#include <QPainter>

namespace fieldmon {

LinkDot::LinkDot(QWidget* bar) : QWidget(bar)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setObjectName(QStringLiteral("linkDot"));
    resize(12, 12);
}

void LinkDot::setColour(QColor colour)
{
    if (colour != colour_) {
        colour_ = colour;
        update();
    }
}

void LinkDot::place()
{
    if (QWidget* bar = parentWidget()) {
        move(bar->width() - width() - 8, (bar->height() - height()) / 2);
        raise();
    }
}

void LinkDot::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(255, 255, 255, 200), 1));
    p.setBrush(colour_);
    p.drawEllipse(QRectF(1, 1, width() - 2, height() - 2));
}

} // namespace fieldmon
