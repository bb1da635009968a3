#include "widgets/SectionIndex.h"

#include "widgets/PhoneStyle.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace fieldmon {

namespace {
constexpr int kMargin = 6;
}

SectionIndex::SectionIndex(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_AcceptTouchEvents);
    setFixedWidth(kWidth);
}

void SectionIndex::setTitles(QStringList titles)
{
    if (titles_ == titles)
        return;
    titles_ = std::move(titles);
    setVisible(!titles_.isEmpty());
    update();
}

QRect SectionIndex::entryRect(int index) const
{
    int n = std::max<int>(1, titles_.size());
    double h = (height() - 2.0 * kMargin) / n;
    return QRect(0, static_cast<int>(kMargin + index * h), width(), static_cast<int>(h));
}

int SectionIndex::entryAt(double y) const
{
    int n = titles_.size();
    if (n == 0)
        return -1;
    double h = (height() - 2.0 * kMargin) / n;
    int i = static_cast<int>((y - kMargin) / h);
    return std::clamp(i, 0, n - 1);
}

void SectionIndex::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (down_) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 50));
        p.drawRoundedRect(QRectF(rect()).adjusted(4, 2, -4, -2), 10, 10);
    }
    p.setFont(phone::systemFont(11, true));
    p.setPen(QColor(0x50, 0x5a, 0x70));
    for (int i = 0; i < titles_.size(); ++i)
        if (!titles_[i].isEmpty())
            p.drawText(entryRect(i), Qt::AlignCenter, titles_[i]);
}

void SectionIndex::touch(double y)
{
    int i = entryAt(y);
    if (i < 0 || i == last_)
        return;
    last_ = i;
    if (onTouched)
        onTouched(i);
}

void SectionIndex::mousePressEvent(QMouseEvent* e)
{
    down_ = true;
    last_ = -1;
    update();
    touch(e->position().y());
}

void SectionIndex::mouseMoveEvent(QMouseEvent* e)
{
    if (down_)
        touch(e->position().y());
}

void SectionIndex::mouseReleaseEvent(QMouseEvent*)
{
    down_ = false;
    last_ = -1;
    update();
}

} // namespace fieldmon
