#include "widgets/PickerView.h"

#include "widgets/PickerColumn.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <numeric>

namespace fieldmon {

namespace {
constexpr int kSide = 10;  // frame beside the outer wheels
constexpr int kEdge = 6;   // frame above and below the wheels
constexpr int kGap = 4;    // frame between two wheels
} // namespace

PickerView::PickerView(QWidget* parent) : QWidget(parent)
{
    resize(kWidth, kHeight);
    setAttribute(Qt::WA_AcceptTouchEvents);
}

void PickerView::setColumns(const std::vector<Column>& columns)
{
    for (PickerColumn* c : columns_)
        delete c;
    columns_.clear();
    widths_.clear();
    for (std::size_t i = 0; i < columns.size(); ++i) {
        auto* c = new PickerColumn(this);
        c->setRows(columns[i].rows);
        const int index = static_cast<int>(i);
        connect(c, &PickerColumn::rowSettled, this, [this, index](int row) { emit rowSettled(index, row); });
        columns_.push_back(c);
        widths_.push_back(std::max(1, columns[i].width));
        c->show();
    }
    layoutColumns();
}

PickerColumn* PickerView::column(int c) const
{
    return c >= 0 && c < columnCount() ? columns_[static_cast<std::size_t>(c)] : nullptr;
}

int PickerView::selectedRow(int c) const
{
    PickerColumn* col = column(c);
    return col ? col->selectedRow() : 0;
}

void PickerView::setSelectedRow(int c, int row)
{
    if (PickerColumn* col = column(c))
        col->setSelectedRow(row);
}

bool PickerView::isMoving() const
{
    return std::any_of(columns_.begin(), columns_.end(), [](PickerColumn* c) { return c->isMoving(); });
}

void PickerView::resizeEvent(QResizeEvent*)
{
    layoutColumns();
}

void PickerView::layoutColumns()
{
    if (columns_.empty()) {
        // Nothing to show, nothing to touch.
        frame_ = QRect();
        setAttribute(Qt::WA_TransparentForMouseEvents, true);
        clearMask();
        update();
        return;
    }
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    const int wheels = std::accumulate(widths_.begin(), widths_.end(), 0);
    const int inner = wheels + kGap * (columnCount() - 1);
    const int frameWidth = inner + 2 * kSide;
    frame_ = QRect((width() - frameWidth) / 2, 0, frameWidth, height());
    int x = frame_.left() + kSide;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        columns_[i]->setGeometry(x, kEdge, widths_[i], height() - 2 * kEdge);
        x += widths_[i] + kGap;
    }
    // Touches beside the frame go to the page and its other widgets.
    setMask(QRegion(frame_, QRegion::Rectangle));
    update();
}

void PickerView::paintEvent(QPaintEvent*)
{
    if (columns_.empty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient metal(0, 0, 0, height());
    metal.setColorAt(0, QColor(0x8c, 0x91, 0x9e));
    metal.setColorAt(0.5, QColor(0x45, 0x4a, 0x57));
    metal.setColorAt(0.51, QColor(0x34, 0x38, 0x44));
    metal.setColorAt(1, QColor(0x23, 0x26, 0x2e));
    p.fillRect(frame_, metal);
    // A dark rim around each wheel.
    p.setPen(QPen(QColor(0x15, 0x16, 0x1a), 1));
    p.setBrush(Qt::NoBrush);
    for (PickerColumn* c : columns_)
        p.drawRect(QRectF(c->geometry()).adjusted(-0.5, -0.5, 0.5, 0.5));
}

} // namespace fieldmon
