#include "widgets/ToggleSwitch.h"

#include "widgets/PhoneStyle.h"

#include <QPainter>
#include <QPainterPath>

namespace fieldmon {

ToggleSwitch::ToggleSwitch(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setAttribute(Qt::WA_AcceptTouchEvents);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
}

void ToggleSwitch::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // A switch that takes no touch is dimmed, as the platform draws one.
    if (!isEnabled())
        p.setOpacity(kDisabledOpacity);
    QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    double radius = 6;
    bool on = isChecked();

    QLinearGradient track(0, 0, 0, height());
    if (on) {
        track.setColorAt(0, QColor(0x1e, 0x6a, 0xd8));
        track.setColorAt(1, QColor(0x4d, 0x94, 0xf0));
    } else {
        track.setColorAt(0, QColor(0xd8, 0xd8, 0xd8));
        track.setColorAt(1, QColor(0xf6, 0xf6, 0xf6));
    }
    p.setPen(QPen(QColor(0x8e, 0x8e, 0x8e), 1));
    p.setBrush(track);
    p.drawRoundedRect(r, radius, radius);

    double knobW = width() * 0.44;
    QRectF knob = on ? QRectF(r.right() - knobW, r.top(), knobW, r.height()) : QRectF(r.left(), r.top(), knobW, r.height());
    QLinearGradient kg(0, 0, 0, height());
    kg.setColorAt(0, isDown() ? QColor(0xd0, 0xd0, 0xd0) : QColor(0xfc, 0xfc, 0xfc));
    kg.setColorAt(1, QColor(0xd4, 0xd4, 0xd4));
    p.setBrush(kg);
    p.drawRoundedRect(knob, radius, radius);

    QRectF label = on ? QRectF(r.left(), r.top(), r.width() - knobW, r.height())
                      : QRectF(r.left() + knobW, r.top(), r.width() - knobW, r.height());
    p.setFont(phone::systemFont(15, true));
    p.setPen(on ? QColor(Qt::white) : QColor(0x7a, 0x7a, 0x7a));
    p.drawText(label, Qt::AlignCenter, on ? QStringLiteral("ON") : QStringLiteral("OFF"));
}

} // namespace fieldmon
