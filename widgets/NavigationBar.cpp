#include "widgets/NavigationBar.h"

#include "widgets/PhoneStyle.h"

#include <QPainter>
#include <QPainterPath>

namespace fieldmon {

namespace {
constexpr int kButtonHeight = 30;
constexpr int kArrow = 12;
constexpr int kMaxButtonWidth = 110;
} // namespace

BackButton::BackButton(QWidget* parent) : QAbstractButton(parent)
{
    setFont(phone::systemFont(12, true));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_AcceptTouchEvents);
}

QSize BackButton::sizeHint() const
{
    int w = fontMetrics().horizontalAdvance(text()) + kArrow + 14;
    return QSize(std::min(w, kMaxButtonWidth), kButtonHeight);
}

void BackButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    // A rounded button whose left end is an arrow pointing back.
    QPainterPath path;
    double mid = r.center().y();
    path.moveTo(r.left(), mid);
    path.lineTo(r.left() + kArrow, r.top() + 1);
    path.lineTo(r.right() - 5, r.top());
    path.quadTo(r.right(), r.top(), r.right(), r.top() + 5);
    path.lineTo(r.right(), r.bottom() - 5);
    path.quadTo(r.right(), r.bottom(), r.right() - 5, r.bottom());
    path.lineTo(r.left() + kArrow, r.bottom() - 1);
    path.closeSubpath();
    QLinearGradient g(0, 0, 0, height());
    QColor top = isDown() ? QColor(0x4a, 0x5e, 0x7a) : QColor(0x8a, 0x9c, 0xb6);
    QColor bottom = isDown() ? QColor(0x34, 0x46, 0x60) : QColor(0x4c, 0x63, 0x83);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillPath(path, g);
    p.setPen(QPen(QColor(0x3b, 0x4b, 0x61), 1));
    p.drawPath(path);
    p.setPen(Qt::white);
    QRectF textRect = r.adjusted(kArrow + 2, 0, -5, 0);
    p.drawText(textRect, Qt::AlignCenter, fontMetrics().elidedText(text(), Qt::ElideRight, static_cast<int>(textRect.width())));
}

NavigationBar::NavigationBar(QWidget* parent) : QWidget(parent), back_(new BackButton(this))
{
    back_->hide();
    connect(back_, &QAbstractButton::clicked, this, &NavigationBar::backPressed);
}

void NavigationBar::setTitle(const QString& title)
{
    if (title_ == title)
        return;
    title_ = title;
    update();
}

void NavigationBar::setBackTitle(const QString& title)
{
    back_->setText(title);
    back_->setVisible(!title.isEmpty());
    layoutButton();
    update();
}

void NavigationBar::resizeEvent(QResizeEvent*)
{
    layoutButton();
}

void NavigationBar::layoutButton()
{
    QSize s = back_->sizeHint();
    back_->setGeometry(5, (height() - s.height()) / 2, s.width(), s.height());
}

void NavigationBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, phone::barTop());
    g.setColorAt(0.5, QColor(0x8b, 0x9c, 0xb5));
    g.setColorAt(0.5001, QColor(0x7f, 0x92, 0xad));
    g.setColorAt(1, phone::barBottom());
    p.fillRect(rect(), g);
    p.setPen(QColor(0x2d, 0x36, 0x42));
    p.drawLine(0, height() - 1, width(), height() - 1);

    TitleLayout title = titleLayout();
    p.setFont(title.font);
    p.setPen(QColor(0x40, 0x4c, 0x5e));
    p.drawText(title.rect.translated(0, -1), Qt::AlignCenter, title.text);
    p.setPen(Qt::white);
    p.drawText(title.rect, Qt::AlignCenter, title.text);
}

NavigationBar::TitleLayout NavigationBar::titleLayout() const
{
    constexpr int kLargest = 20;
    constexpr int kSmallest = 14;
    constexpr int kMargin = 8;
    QFont font = phone::systemFont(kLargest, true);
    int left = back_->isVisible() ? back_->geometry().right() + kMargin : kMargin;
    QRect rect(0, 0, width(), height());
    if (QFontMetrics(font).horizontalAdvance(title_) > width() - 2 * left) {
        rect = QRect(left, 0, std::max(0, width() - kMargin - left), height());
        for (int size = kLargest - 1;
             size >= kSmallest && QFontMetrics(font).horizontalAdvance(title_) > rect.width(); --size)
            font = phone::systemFont(size, true);
    }
    return {rect, font, QFontMetrics(font).elidedText(title_, Qt::ElideRight, rect.width())};
}

} // namespace fieldmon
