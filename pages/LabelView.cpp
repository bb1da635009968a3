#include "pages/LabelView.h"

#include <QPainter>

namespace fieldmon {

LabelView::LabelView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

void LabelView::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    relayout();
}

void LabelView::setAlignment(Qt::Alignment align)
{
    if (align == align_)
        return;
    align_ = align;
    update();
}

void LabelView::setLabelFont(const QFont& f)
{
    if (f == font())
        return;
    setFont(f);
    relayout();
}

void LabelView::resizeEvent(QResizeEvent*)
{
    relayout();
}

void LabelView::relayout()
{
    shown_ = fontMetrics().elidedText(text_, Qt::ElideRight, width());
    update();
}

void LabelView::paintEvent(QPaintEvent*)
{
    if (shown_.isEmpty())
        return;
    QPainter p(this);
    const int flags = int(align_) | Qt::AlignVCenter | Qt::TextSingleLine;
    p.setPen(Qt::white);
    p.drawText(rect().translated(0, -1), flags, shown_);
    p.setPen(Qt::black);
    p.drawText(rect(), flags, shown_);
}

} // namespace fieldmon
