#include "widgets/PickerColumn.h"

#include "widgets/PhoneStyle.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollEvent>
#include <QScrollPrepareEvent>
#include <QScrollerProperties>
#include <QVariantAnimation>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace fieldmon {

namespace {
constexpr int kTurnMs = 250;         // a turn to a tapped row or by a notch
constexpr int kBandHeight = 44;      // the selection band, a little taller than a row
constexpr double kDragStartMeters = 0.002;
} // namespace

PickerColumn::PickerColumn(QWidget* parent) : QWidget(parent), turn_(new QVariantAnimation(this))
{
    turn_->setDuration(kTurnMs);
    turn_->setEasingCurve(QEasingCurve::OutCubic);
    connect(turn_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) { setOffset(v.toDouble()); });
    connect(turn_, &QVariantAnimation::finished, this, [this] { settle(); });
    setAttribute(Qt::WA_AcceptTouchEvents);
    // A finger's touches arrive as synthesised mouse events, so the
    // left-button gesture serves the finger and the mouse alike.
    QScroller::grabGesture(this, QScroller::LeftMouseButtonGesture);
    QScroller* scroller = QScroller::scroller(this);
    QScrollerProperties props = scroller->scrollerProperties();
    props.setScrollMetric(QScrollerProperties::VerticalOvershootPolicy,
                          QVariant::fromValue(QScrollerProperties::OvershootAlwaysOff));
    props.setScrollMetric(QScrollerProperties::HorizontalOvershootPolicy,
                          QVariant::fromValue(QScrollerProperties::OvershootAlwaysOff));
    // A wheel follows the finger almost at once.
    props.setScrollMetric(QScrollerProperties::DragStartDistance, kDragStartMeters);
    scroller->setScrollerProperties(props);
    connect(scroller, &QScroller::stateChanged, this, [this](QScroller::State s) { onScrollerState(s); });
}

PickerColumn::~PickerColumn()
{
    QScroller::ungrabGesture(this);
}

void PickerColumn::setRows(QStringList rows)
{
    rows_ = std::move(rows);
    for (QString& r : rows_)
        r = phone::singleLine(r);
    updateSnapPositions();
    setSelectedRow(selected_);
}

void PickerColumn::updateSnapPositions()
{
    QScroller::scroller(this)->setSnapPositionsY(0, kRowHeight);
}

double PickerColumn::maxOffset() const
{
    return std::max(0, rowCount() - 1) * static_cast<double>(kRowHeight);
}

bool PickerColumn::isMoving() const
{
    return scrollerState_ != QScroller::Inactive || turn_->state() == QAbstractAnimation::Running;
}

void PickerColumn::setSelectedRow(int row)
{
    QScroller::scroller(this)->stop();
    turn_->stop();
    selected_ = rowCount() == 0 ? 0 : std::clamp(row, 0, rowCount() - 1);
    setOffset(selected_ * static_cast<double>(kRowHeight));
}

int PickerColumn::rowUnderBand() const
{
    if (rowCount() == 0)
        return 0;
    return std::clamp(static_cast<int>(std::lround(offset_ / kRowHeight)), 0, rowCount() - 1);
}

double PickerColumn::dragStartPixels() const
{
    return QScroller::scroller(this)->scrollerProperties().scrollMetric(QScrollerProperties::DragStartDistance).toDouble() *
           QScroller::scroller(this)->pixelPerMeter().y();
}

void PickerColumn::setOffset(double y)
{
    y = std::clamp(y, 0.0, maxOffset());
    if (y == offset_)
        return;
    offset_ = y;
    update();
}

void PickerColumn::turnTo(int row)
{
    if (rowCount() == 0)
        return;
    row = std::clamp(row, 0, rowCount() - 1);
    if (scrollerState_ != QScroller::Inactive)
        return; // a finger has the wheel
    turn_->stop();
    turn_->setStartValue(offset_);
    turn_->setEndValue(row * static_cast<double>(kRowHeight));
    turn_->start();
}

void PickerColumn::onScrollerState(QScroller::State state)
{
    scrollerState_ = state;
    if (state == QScroller::Pressed) {
        pressedStill_ = true;
        turn_->stop(); // a finger stops a turning wheel
    } else if (state == QScroller::Dragging) {
        pressedStill_ = false;
    }
    if (state == QScroller::Inactive && turn_->state() != QAbstractAnimation::Running)
        settle();
}

void PickerColumn::settle()
{
    // At rest: exactly on a row, and told only when it is another row.
    wheelTarget_ = -1;
    wheelRemainder_ = 0;
    int row = rowUnderBand();
    setOffset(row * static_cast<double>(kRowHeight));
    if (rowCount() == 0 || row == selected_)
        return;
    selected_ = row;
    emit rowSettled(row);
}

bool PickerColumn::event(QEvent* e)
{
    switch (e->type()) {
    case QEvent::ScrollPrepare: {
        auto* se = static_cast<QScrollPrepareEvent*>(e);
        se->setViewportSize(size());
        se->setContentPosRange(QRectF(0, 0, 0, maxOffset()));
        se->setContentPos(QPointF(0, offset_));
        se->accept();
        return true;
    }
    case QEvent::Scroll:
        setOffset(static_cast<QScrollEvent*>(e)->contentPos().y());
        return true;
    default:
        return QWidget::event(e);
    }
}

void PickerColumn::wheelEvent(QWheelEvent* e)
{
    e->accept();
    if (rowCount() == 0)
        return;
    // One row per notch (120 eighths of a degree); finer wheels add up.
    wheelRemainder_ += e->angleDelta().y();
    int steps = wheelRemainder_ / 120;
    if (steps == 0)
        return;
    wheelRemainder_ -= steps * 120;
    int from = wheelTarget_ >= 0 ? wheelTarget_ : rowUnderBand();
    wheelTarget_ = std::clamp(from - steps, 0, rowCount() - 1);
    turnTo(wheelTarget_);
}

void PickerColumn::mousePressEvent(QMouseEvent* e)
{
    e->accept();
}

void PickerColumn::mouseReleaseEvent(QMouseEvent* e)
{
    e->accept();
    // A tap (the wheel was not dragged) on a row above or below the band
    // turns that row into the band.
    if (!pressedStill_ || e->button() != Qt::LeftButton || rowCount() == 0)
        return;
    double fromBand = e->position().y() - height() / 2.0;
    if (std::abs(fromBand) <= kBandHeight / 2.0)
        return;
    turnTo(static_cast<int>(std::lround((offset_ + fromBand) / kRowHeight)));
}

void PickerColumn::resizeEvent(QResizeEvent*)
{
    update();
}

void PickerColumn::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    p.fillRect(r, Qt::white);

    // Rows, centred in the band when they rest there.
    p.setFont(phone::systemFont(20, true));
    QFontMetrics fm(p.font());
    const double middle = height() / 2.0;
    int first = std::max(0, static_cast<int>(std::floor((offset_ - middle) / kRowHeight)));
    int last = std::min(rowCount() - 1, static_cast<int>(std::ceil((offset_ + middle) / kRowHeight)));
    p.setPen(Qt::black);
    for (int row = first; row <= last; ++row) {
        double centre = middle + row * kRowHeight - offset_;
        QRectF box(4, centre - kRowHeight / 2.0, width() - 8, kRowHeight);
        p.drawText(box, Qt::AlignCenter, fm.elidedText(rows_[row], Qt::ElideRight, static_cast<int>(box.width())));
    }

    // The wheel's curve: rows darken towards the top and bottom edges.
    QLinearGradient shade(0, 0, 0, height());
    shade.setColorAt(0.0, QColor(0x20, 0x22, 0x2a, 200));
    shade.setColorAt(0.28, QColor(0x20, 0x22, 0x2a, 30));
    shade.setColorAt(0.5, QColor(0, 0, 0, 0));
    shade.setColorAt(0.72, QColor(0x20, 0x22, 0x2a, 30));
    shade.setColorAt(1.0, QColor(0x20, 0x22, 0x2a, 200));
    p.fillRect(r, shade);

    // The selection band: a pale glass strip over the resting row.
    QRectF band(0, middle - kBandHeight / 2.0, width(), kBandHeight);
    QLinearGradient glass(0, band.top(), 0, band.bottom());
    glass.setColorAt(0, QColor(0xe6, 0xea, 0xf6, 110));
    glass.setColorAt(0.5, QColor(0xa9, 0xb4, 0xd6, 90));
    glass.setColorAt(1, QColor(0x8c, 0x9a, 0xc8, 110));
    p.fillRect(band, glass);
    p.setPen(QPen(QColor(0x6d, 0x78, 0x9c), 1));
    p.drawLine(band.topLeft() + QPointF(0, 0.5), band.topRight() + QPointF(0, 0.5));
    p.drawLine(band.bottomLeft() - QPointF(0, 0.5), band.bottomRight() - QPointF(0, 0.5));
}

} // namespace fieldmon
