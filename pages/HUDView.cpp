#include "pages/HUDView.h"

#include "pages/EventHUD.h"
#include "pages/TouchHitTest.h"
#include "widgets/PhoneStyle.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>

namespace fieldmon {

HUDView::HUDView(EventHUD* owner) : owner_(owner), font_(phone::systemFont(kFontSize))
{
    TouchHitTest::add(this, [this](QPointF at) { return owner_->hitTest(at); });
}

double HUDView::lineHeight() const
{
    return QFontMetricsF(font_).lineSpacing();
}

double HUDView::boxHeight() const
{
    return lineHeight() * lines_.size() + kPadding;
}

QRectF HUDView::box() const
{
    if (lines_.isEmpty())
        return {};
    return QRectF(0, height() - boxHeight(), width(), boxHeight());
}

QRect HUDView::dirtyArea() const
{
    return box().toAlignedRect().adjusted(0, -static_cast<int>(kBounceLift) - 1, 0, 1);
}

void HUDView::setLines(const QStringList& lines)
{
    if (lines == lines_)
        return;
    const QRect before = dirtyArea();
    lines_ = lines;
    update(QRegion(before).united(dirtyArea()));
}

void HUDView::setAlphas(double view, double label)
{
    if (view == viewAlpha_ && label == labelAlpha_)
        return;
    viewAlpha_ = view;
    labelAlpha_ = label;
    update(dirtyArea());
}

void HUDView::startBounce()
{
    if (bounceAnimation_)
        bounceAnimation_->stop();
    bounceAnimation_ = new QPropertyAnimation(this, "bounce", this);
    bounceAnimation_->setDuration(400);
    bounceAnimation_->setStartValue(0.0);
    bounceAnimation_->setKeyValueAt(0.5, 1.0);
    bounceAnimation_->setEndValue(0.0);
    bounceAnimation_->start(QAbstractAnimation::DeleteWhenStopped);
}

void HUDView::setBounce(qreal b)
{
    if (b == bounce_)
        return;
    bounce_ = b;
    update(dirtyArea());
}

void HUDView::resizeEvent(QResizeEvent* event)
{
    QuartzView::resizeEvent(event);
    update();
}

void HUDView::mousePressEvent(QMouseEvent* event)
{
    owner_->touchesBegan(event);
}

void HUDView::paintEvent(QPaintEvent*)
{
    if (lines_.isEmpty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(0, -kBounceLift * bounce_);
    const double alpha = viewAlpha_ * (1.0 - 0.1 * bounce_);
    const QRectF b = box();
    p.setOpacity(alpha);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0.7f, 0.7f, 0.7f, 0.9f));
    p.drawRoundedRect(b, 12, 12);

    p.setOpacity(alpha * labelAlpha_);
    p.setFont(font_);
    p.setPen(Qt::black);
    const QFontMetricsF metrics(font_);
    const double h = lineHeight();
    const double textWidth = 310;
    double top = b.top() + kPadding / 2;
    for (const QString& line : lines_) {
        const QString shown = metrics.elidedText(phone::singleLine(line), Qt::ElideRight, textWidth);
        p.drawText(QRectF(5, top, textWidth, h), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
        top += h;
    }
}

} // namespace fieldmon
