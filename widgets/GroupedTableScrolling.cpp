// GroupedTableView's scrolling: the scroll range and offsets in real and
// shifted coordinates, scrolls from code (animated or not), the kinetic
// scroller's events, the scroll indicator, and the drag notifications the
// source hears. The rows, cells and their layout are in GroupedTableView.cpp.
#include "widgets/GroupedTableView.h"

#include "widgets/ScrollIndicator.h"

#include <QScrollBar>
#include <QScrollEvent>
#include <QScrollPrepareEvent>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace fieldmon {

void GroupedTableView::updateScrollRange()
{
    int vh = viewport()->height();
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(std::max(1, vh));
    bar->setRange(0, std::max(0, contentHeight_ - vh));
}

double GroupedTableView::maxContentOffset() const
{
    return verticalScrollBar()->maximum();
}

double GroupedTableView::realOffset() const
{
    return verticalScrollBar()->value();
}

void GroupedTableView::setRealOffset(double y)
{
    int v = static_cast<int>(std::lround(std::clamp(y, 0.0, maxContentOffset())));
    if (v == verticalScrollBar()->value())
        return;
    verticalScrollBar()->setValue(v);
}

double GroupedTableView::contentOffset() const
{
    return realOffset() - shift();
}

void GroupedTableView::setContentOffset(double y, bool animated)
{
    double target = std::clamp(y + shift(), 0.0, maxContentOffset());
    animation_->stop();
    if (!animated || std::abs(target - realOffset()) < 1.0) {
        setRealOffset(target);
        return;
    }
    animation_->setStartValue(realOffset());
    animation_->setEndValue(target);
    animation_->start();
}

void GroupedTableView::stopScrolling()
{
    animation_->stop();
    if (gestures_.scrollerState() == QScroller::Scrolling)
        QScroller::scroller(viewport())->stop();
}

void GroupedTableView::scrollToRow(IndexPath path, ScrollPosition where, bool animated)
{
    QRect r = rectForRow(path);
    if (r.isNull())
        return;
    double vh = viewport()->height();
    double target = r.top();
    if (where == ScrollPosition::Middle)
        target = r.center().y() + 0.5 - vh / 2;
    else if (where == ScrollPosition::Bottom)
        target = r.bottom() + 1 - vh;
    // Rows are placed in real coordinates, whatever shift is in force.
    setContentOffset(target - shift(), animated);
}

bool GroupedTableView::isAnimatingScroll() const
{
    return animation_->state() == QAbstractAnimation::Running;
}

void GroupedTableView::flashScrollIndicators()
{
    if (contentHeight_ <= viewport()->height())
        return;
    indicator_->flash(800);
}

void GroupedTableView::scrollContentsBy(int, int)
{
    placeWidgets();
    if (gestures_.scrollerState() != QScroller::Inactive || isAnimatingScroll())
        indicator_->flash(500);
}

bool GroupedTableView::viewportEvent(QEvent* e)
{
    switch (e->type()) {
    case QEvent::ScrollPrepare: {
        // The scroller works in the shifted coordinates the source asks for.
        auto* se = static_cast<QScrollPrepareEvent*>(e);
        se->setViewportSize(viewport()->size());
        se->setContentPosRange(QRectF(0, -shift(), 0, maxContentOffset()));
        se->setContentPos(QPointF(0, contentOffset()));
        se->accept();
        return true;
    }
    case QEvent::Scroll: {
        auto* se = static_cast<QScrollEvent*>(e);
        setRealOffset(se->contentPos().y() + shift());
        return true;
    }
    default:
        return QAbstractScrollArea::viewportEvent(e);
    }
}

void GroupedTableView::onScrollerState(QScroller::State state)
{
    const bool fingerLifted = gestures_.tracking() && (state == QScroller::Scrolling || state == QScroller::Inactive);
    if (fingerLifted && pool_.hasParked())
        // Once the cell has had the release that ends the finger's events.
        QTimer::singleShot(0, this, [this] {
            if (!gestures_.tracking())
                pool_.hideParked();
        });
    if (state == QScroller::Pressed)
        animation_->stop();
    gestures_.onScrollerState(state);
}

void GroupedTableView::willBeginDragging()
{
    if (source_)
        source_->willBeginDragging(*this);
}

void GroupedTableView::didEndDragging(bool decelerate)
{
    if (source_)
        source_->didEndDragging(*this, decelerate);
}

void GroupedTableView::didEndDecelerating()
{
    if (source_)
        source_->didEndDecelerating(*this);
}

std::optional<IndexPath> GroupedTableView::lastVisibleRow() const
{
    double top = realOffset();
    double bottom = top + viewport()->height();
    for (int si = numberOfSections() - 1; si >= 0; --si) {
        const auto& s = sections_[static_cast<std::size_t>(si)];
        if (s.rows == 0)
            continue;
        // The last row that starts above the bottom edge and ends below the top.
        int r = static_cast<int>(std::ceil((bottom - s.firstRowTop) / rowHeight_)) - 1;
        r = std::min(r, s.rows - 1);
        if (r < 0)
            continue;
        if (s.firstRowTop + (r + 1) * rowHeight_ <= top)
            return std::nullopt; // everything of this section is above the view
        return IndexPath{si, r};
    }
    return std::nullopt;
}

std::vector<IndexPath> GroupedTableView::visibleRows() const
{
    std::vector<IndexPath> out;
    const double top = realOffset();
    const double bottom = top + viewport()->height();
    for (int si = 0; si < numberOfSections(); ++si) {
        const auto& s = sections_[static_cast<std::size_t>(si)];
        const int first = std::max(0, static_cast<int>(std::floor((top - s.firstRowTop) / rowHeight_)));
        const int last = std::min(s.rows - 1, static_cast<int>(std::ceil((bottom - s.firstRowTop) / rowHeight_)) - 1);
        for (int r = first; r <= last; ++r)
            out.push_back({si, r});
    }
    return out;
}

} // namespace fieldmon
