#include "widgets/ScrollIndicator.h"

#include <QPainter>

namespace fieldmon {

ScrollIndicator::ScrollIndicator(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hideTimer_.setSingleShot(true);
    QObject::connect(&hideTimer_, &QTimer::timeout, this, [this] { hide(); });
    hide();
}

void ScrollIndicator::flash(int ms)
{
    show();
    raise();
    hideTimer_.start(ms);
}

void ScrollIndicator::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 110));
    p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 2.5, 2.5);
}

} // namespace fieldmon
