#include "trends/TrendLegend.h"

#include "widgets/PhoneStyle.h"

#include <QMouseEvent>
#include <QPainter>

namespace fieldmon::trends {

TrendLegend::TrendLegend(QWidget* parent) : QWidget(parent) {}

void TrendLegend::setEntries(const std::vector<Entry>& entries)
{
    bool same = entries.size() == entries_.size();
    for (std::size_t i = 0; same && i < entries.size(); ++i)
        same = entries[i].label == entries_[i].label && entries[i].value == entries_[i].value &&
               entries[i].colour == entries_[i].colour;
    if (same)
        return;
    entries_ = entries;
    update();
}

void TrendLegend::setSelected(int index)
{
    if (index == selected_)
        return;
    selected_ = index;
    update();
}

QRect TrendLegend::entryRect(int index) const
{
    const int columns = columnsFor(static_cast<int>(entries_.size()));
    const int w = width() / columns;
    return QRect((index % columns) * w, (index / columns) * kRowHeight, w, kRowHeight);
}

void TrendLegend::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QFont labelFont = phone::systemFont(11);
    const QFont valueFont = phone::systemFont(11, true);
    for (int i = 0; i < static_cast<int>(entries_.size()); ++i) {
        const Entry& e = entries_[static_cast<std::size_t>(i)];
        const QRect r = entryRect(i).adjusted(4, 1, -4, -1);
        if (i == selected_) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xe4, 0xea, 0xf2));
            p.drawRoundedRect(r, 4, 4);
        }
        p.fillRect(QRect(r.left() + 3, r.center().y() - 4, 9, 9), e.colour);
        p.setFont(valueFont);
        const QFontMetrics vm(valueFont);
        // The value gets what it needs up to 45 %; the name keeps the rest.
        const int valueWidth = std::min(vm.horizontalAdvance(e.value) + 2, r.width() * 45 / 100);
        const QRect valueRect(r.right() - 3 - valueWidth, r.top(), valueWidth, r.height());
        p.setPen(QColor(0x20, 0x20, 0x20));
        p.drawText(valueRect, Qt::AlignRight | Qt::AlignVCenter, vm.elidedText(e.value, Qt::ElideRight, valueWidth));
        p.setFont(labelFont);
        const QFontMetrics lm(labelFont);
        const QRect labelRect(r.left() + 16, r.top(), valueRect.left() - r.left() - 20, r.height());
        p.setPen(phone::headerText());
        p.drawText(labelRect, Qt::AlignLeft | Qt::AlignVCenter,
                   lm.elidedText(e.label, Qt::ElideMiddle, labelRect.width()));
    }
}

void TrendLegend::mouseReleaseEvent(QMouseEvent* e)
{
    for (int i = 0; i < static_cast<int>(entries_.size()); ++i)
        if (entryRect(i).contains(e->position().toPoint()))
            emit entryTapped(i);
}

} // namespace fieldmon::trends
