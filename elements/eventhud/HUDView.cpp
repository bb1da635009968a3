#include "elements/eventhud/HUDView.h"

#include "elements/TouchHitTest.h"
#include "widgets/PhoneStyle.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QTextLayout>

#include <algorithm>

namespace fieldmon {

HUDView::HUDView(Owner* owner) : owner_(owner), font_(phone::systemFont(kFontSize))
{
    TouchHitTest::add(this, [this](QPointF at) { return owner_->hitTest(at); });
}

double HUDView::lineHeight() const
{
    return QFontMetricsF(font_).lineSpacing();
}

namespace {

// `line` cut into the rows it takes at `width` in `font`.
QStringList wrapped(const QString& line, const QFont& font, double width)
{
    QTextLayout layout(line, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList rows;
    layout.beginLayout();
    for (QTextLine row = layout.createLine(); row.isValid(); row = layout.createLine()) {
        row.setLineWidth(width);
        rows << line.mid(row.textStart(), row.textLength()).trimmed();
    }
    layout.endLayout();
    if (rows.isEmpty())
        rows << QString();
    return rows;
}

} // namespace

double HUDView::boxHeight() const
{
    return lineHeight() * rows_.size() + kPadding;
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
    rows_.clear();
    for (const QString& line : lines_)
        rows_ << wrapped(phone::singleLine(line), font_, kTextWidth);
    // The newest rows, as many as the label holds.
    const qsizetype fit = std::max<qsizetype>(1, static_cast<qsizetype>(kLabelHeight / lineHeight()));
    if (rows_.size() > fit)
        rows_ = rows_.mid(rows_.size() - fit);
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
    const double h = lineHeight();
    double top = b.top() + kPadding / 2;
    for (const QString& row : rows_) {
        p.drawText(QRectF(5, top, kTextWidth, h), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, row);
        top += h;
    }
}

} // namespace fieldmon
