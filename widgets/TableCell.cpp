#include "widgets/TableCell.h"

#include "widgets/PhoneStyle.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace fieldmon {

namespace {
constexpr int kRadius = 9;
constexpr int kAccessoryWidth = 24;
constexpr int kTextInset = 10;
constexpr const char* kTagProperty = "fieldmonTag";
} // namespace

TableCell::TableCell(QString reuseIdentifier, QWidget* parent)
    : QWidget(parent), reuseIdentifier_(std::move(reuseIdentifier)), textLabel_(new QLabel(this))
{
    setAttribute(Qt::WA_AcceptTouchEvents);
    textLabel_->setFont(phone::systemFont(17, true));
    textLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
    updateLabelColours();
}

void TableCell::setText(const QString& text)
{
    text_ = phone::singleLine(text);
    layoutLabel();
}

void TableCell::setAccessory(Accessory a)
{
    if (accessory_ == a)
        return;
    accessory_ = a;
    layoutLabel();
    update();
}

void TableCell::setHighlighted(bool on)
{
    if (highlighted_ == on)
        return;
    highlighted_ = on;
    updateLabelColours();
    update();
}

void TableCell::setPosition(Position p)
{
    if (position_ == p)
        return;
    position_ = p;
    update();
}

QRect TableCell::contentRect() const
{
    int right = accessory_ == Accessory::None ? kTextInset : kAccessoryWidth;
    return QRect(kTextInset, 1, width() - kTextInset - right, height() - 2);
}

void TableCell::inspect(QJsonObject& row) const
{
    if (!text_.isEmpty())
        row.insert(textLabel_->alignment() & Qt::AlignHCenter ? QStringLiteral("center") : QStringLiteral("text"), text_);
    row.insert(QStringLiteral("selectable"), selectionStyle_ != SelectionStyle::None);
}

void TableCell::setTag(QWidget* w, int tag)
{
    w->setProperty(kTagProperty, tag);
}

int TableCell::tag(const QWidget* w)
{
    QVariant v = w->property(kTagProperty);
    return v.isValid() ? v.toInt() : 0;
}

QWidget* TableCell::viewWithTag(int wanted) const
{
    for (QWidget* child : findChildren<QWidget*>())
        if (tag(child) == wanted)
            return child;
    return nullptr;
}

void TableCell::resizeEvent(QResizeEvent*)
{
    layoutLabel();
}

void TableCell::layoutLabel()
{
    QRect r = contentRect();
    textLabel_->setGeometry(r);
    QFontMetrics fm(textLabel_->font());
    textLabel_->setText(fm.elidedText(text_, Qt::ElideRight, std::max(0, r.width())));
}

void TableCell::updateLabelColours()
{
    // Highlighted rows show white text on the blue selection, like every
    // other label of the cell that has not chosen its own colour.
    QPalette p = textLabel_->palette();
    p.setColor(QPalette::WindowText, highlighted_ ? Qt::white : Qt::black);
    textLabel_->setPalette(p);
}

void TableCell::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    bool roundTop = position_ == Position::Single || position_ == Position::Top;
    bool roundBottom = position_ == Position::Single || position_ == Position::Bottom;

    // The outline: round corners only where the section starts or ends; a
    // row that continues below draws its bottom edge as the separator.
    QPainterPath path;
    double rt = roundTop ? kRadius : 0;
    double rb = roundBottom ? kRadius : 0;
    path.moveTo(r.left(), r.top() + rt);
    if (rt > 0)
        path.arcTo(QRectF(r.left(), r.top(), 2 * rt, 2 * rt), 180, -90);
    path.lineTo(r.right() - rt, r.top());
    if (rt > 0)
        path.arcTo(QRectF(r.right() - 2 * rt, r.top(), 2 * rt, 2 * rt), 90, -90);
    path.lineTo(r.right(), r.bottom() - rb);
    if (rb > 0)
        path.arcTo(QRectF(r.right() - 2 * rb, r.bottom() - 2 * rb, 2 * rb, 2 * rb), 0, -90);
    path.lineTo(r.left() + rb, r.bottom());
    if (rb > 0)
        path.arcTo(QRectF(r.left(), r.bottom() - 2 * rb, 2 * rb, 2 * rb), 270, -90);
    path.closeSubpath();

    if (highlighted_) {
        QLinearGradient g(0, 0, 0, height());
        g.setColorAt(0, phone::selectionTop());
        g.setColorAt(1, phone::selectionBottom());
        painter.fillPath(path, g);
    } else {
        painter.fillPath(path, Qt::white);
    }
    painter.setPen(QPen(phone::separator(), 1));
    painter.drawPath(path);

    if (accessory_ == Accessory::DisclosureIndicator) {
        // A chevron, grey on white, white on the selection.
        QPen pen(highlighted_ ? QColor(Qt::white) : QColor(0x80, 0x80, 0x80), 3);
        pen.setCapStyle(Qt::SquareCap);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        double cx = width() - 16, cy = height() / 2.0;
        QPainterPath chevron;
        chevron.moveTo(cx - 4, cy - 5);
        chevron.lineTo(cx + 1, cy);
        chevron.lineTo(cx - 4, cy + 5);
        painter.drawPath(chevron);
    }
}

void TableCell::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    pressed_ = true;
    if (selectionStyle_ != SelectionStyle::None)
        setHighlighted(true);
}

void TableCell::mouseMoveEvent(QMouseEvent* e)
{
    if (pressed_ && !rect().contains(e->position().toPoint())) {
        pressed_ = false;
        setHighlighted(false);
    }
}

void TableCell::mouseReleaseEvent(QMouseEvent* e)
{
    if (!pressed_ || e->button() != Qt::LeftButton)
        return;
    pressed_ = false;
    if (rect().contains(e->position().toPoint()))
        emit tapped();
    else
        setHighlighted(false);
}

} // namespace fieldmon
