#include "elements/button/PageButton.h"

#include "widgets/ApplicationCache.h"
#include "widgets/PhoneStyle.h"

#include <QPainter>

namespace fieldmon {

namespace {

// A picture stretched to `target`: the left cap and the matching right end
// keep their widths, the column between them stretches, the height scales.
void drawStretched(QPainter& p, const QPixmap& picture, const QRect& target, int leftCap)
{
    const int w = picture.width(), h = picture.height();
    const int right = w - leftCap - 1;
    if (w <= leftCap || target.width() < leftCap + right) {
        p.drawPixmap(target, picture);
        return;
    }
    p.drawPixmap(QRect(target.left(), target.top(), leftCap, target.height()), picture, QRect(0, 0, leftCap, h));
    p.drawPixmap(QRect(target.left() + leftCap, target.top(), target.width() - leftCap - right, target.height()),
                 picture, QRect(leftCap, 0, 1, h));
    p.drawPixmap(QRect(target.right() + 1 - right, target.top(), right, target.height()), picture,
                 QRect(leftCap + 1, 0, right, h));
}

} // namespace

PageButton::PageButton(QWidget* parent) : QAbstractButton(parent)
{
    setGeometry(10, 10, 100, 40);
    setFont(phone::systemFont(15, true));
    setFocusPolicy(Qt::NoFocus);
}

void PageButton::paintEvent(QPaintEvent*)
{
    // Loaded once for every button, and let go with the application.
    struct Pictures {
        QPixmap rest, held;
    };
    const Pictures& pictures = ApplicationCache<Pictures>::get([] {
        return Pictures{QPixmap(QStringLiteral(":/whiteButton.png")), QPixmap(QStringLiteral(":/blueButton.png"))};
    });
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    drawStretched(p, isDown() ? pictures.held : pictures.rest, rect(), kLeftCap);
    p.setPen(Qt::black);
    p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine,
               fontMetrics().elidedText(text(), Qt::ElideRight, width() - 6));
}

} // namespace fieldmon
