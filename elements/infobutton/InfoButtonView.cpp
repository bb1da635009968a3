#include "elements/infobutton/InfoButtonView.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace fieldmon {

InfoButtonView::InfoButtonView(Kind kind, QWidget* parent) : QAbstractButton(parent), kind_(kind)
{
    resize(kind == Kind::Info ? QSize(18, 19) : QSize(29, 31));
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(kind == Kind::Info ? QStringLiteral("Info") : QStringLiteral("More"));
}

void InfoButtonView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (kind_ == Kind::Info)
        paintInfo(p);
    else
        paintDisclosure(p);
}

void InfoButtonView::paintInfo(QPainter& p)
{
    const QColor ink = isDown() ? QColor(0x10, 0x10, 0x10) : QColor(0x3c, 0x3c, 0x3c);
    const QRectF ring(1.5, 1.5, 15, 15);
    p.setPen(QPen(ink, 1.6));
    p.setBrush(isDown() ? QColor(255, 255, 255, 120) : QColor(255, 255, 255, 50));
    p.drawEllipse(ring);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(QPointF(9, 5.6), 1.3, 1.3);
    p.drawRoundedRect(QRectF(7.9, 7.8, 2.2, 5.8), 0.8, 0.8);
}

void InfoButtonView::paintDisclosure(QPainter& p)
{
    const QPointF centre(14.5, 14.5);
    // A soft shadow under the disc.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawEllipse(centre + QPointF(0, 1.2), 13.2, 13.2);
    p.setBrush(Qt::white);
    p.drawEllipse(centre, 13.2, 13.2);
    QRadialGradient blue(centre - QPointF(3, 5), 16);
    blue.setColorAt(0, isDown() ? QColor(0x1c, 0x55, 0xc4) : QColor(0x5b, 0x9b, 0xf5));
    blue.setColorAt(1, isDown() ? QColor(0x0a, 0x2f, 0x8a) : QColor(0x1a, 0x5a, 0xd8));
    p.setBrush(blue);
    p.drawEllipse(centre, 10.8, 10.8);
    QPainterPath chevron;
    chevron.moveTo(12.2, 9.2);
    chevron.lineTo(17.4, 14.5);
    chevron.lineTo(12.2, 19.8);
    p.setPen(QPen(Qt::white, 2.8, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(chevron);
}

} // namespace fieldmon
