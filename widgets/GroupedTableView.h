#pragma once
// A phone-style grouped table: sections of rounded rows on a pinstriped
// background, section headers, an optional section index strip on the right,
// kinetic scrolling with a finger or a mouse (QScroller), and the scroll
// notifications a screen needs to keep its place while rows come and go.
//
// The table asks its source for sections, rows and cells on reloadData(),
// and lays every row out at once (most tables here hold at most a few
// hundred rows). A table of many rows can ask for cells lazily instead
// (setLazyRows): only the rows within a screen's height of the view have
// cells, taken from the source as they come near and handed back to the pool
// as they leave (a row whose text field is being edited keeps its cell).
// Cells are recycled by reuse identifier: reloadData() puts the old cells in
// a pool, and cellForRow() takes them back with dequeueReusableCell().
//
// Scroll coordinates: contentOffset() is the vertical scroll position in
// points from the top of the content. A source may shift the coordinates
// that the table reports and accepts by answering offset(): the reported
// position is the real one minus the offset, and a position set on the
// table (by code or by the kinetic scroller while a finger drags) is moved
// by the offset before it takes effect. A screen uses this to move the
// content under a finger that is dragging without the drag noticing.
//
// The kinetic scroller's states become the source's drag notifications
// through ScrollGestures (willBeginDragging, didEndDragging(decelerate),
// didEndDecelerating); the cells not shown wait in a CellPool. An animated
// scroll from code calls didEndScrollingAnimation when it arrives.
//
// Thread rule: main thread only.

#include "widgets/CellPool.h"
#include "widgets/ScrollGestures.h"
#include "widgets/TableCell.h"

#include <QAbstractScrollArea>
#include <QScroller>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

class QVariantAnimation;

namespace fieldmon {

class GroupedTableView;
class ScrollIndicator;
class SectionIndex;

struct IndexPath {
    int section = 0;
    int row = 0;
    friend bool operator==(const IndexPath&, const IndexPath&) = default;
};

// Data source and delegate in one; every method but two has a default.
class TableSource {
public:
    virtual ~TableSource() = default;
    virtual int numberOfSections(GroupedTableView&) { return 1; }
    virtual QString titleForHeader(GroupedTableView&, int /*section*/) { return {}; }
    virtual int numberOfRows(GroupedTableView&, int section) = 0;
    virtual TableCell* cellForRow(GroupedTableView&, IndexPath path) = 0;
    virtual void didSelectRow(GroupedTableView&, IndexPath) {}

    // The section index: titles shown from top to bottom, and what a touch
    // on entry `index` does.
    virtual QStringList sectionIndexTitles(GroupedTableView&) { return {}; }
    virtual void sectionIndexTouched(GroupedTableView&, int /*index*/) {}

    // Scroll coordinate shift (see the class comment); 0 for most tables.
    virtual double offset() const { return 0; }

    virtual void willBeginDragging(GroupedTableView&) {}
    virtual void didEndDragging(GroupedTableView&, bool /*decelerate*/) {}
    virtual void didEndDecelerating(GroupedTableView&) {}
    virtual void didEndScrollingAnimation(GroupedTableView&) {}
};

class GroupedTableView : public QAbstractScrollArea, private ScrollGestures::Listener {
    Q_OBJECT
public:
    enum class ScrollPosition { Top, Middle, Bottom };

    explicit GroupedTableView(QWidget* parent = nullptr);
    ~GroupedTableView() override;

    // The source is not owned and must outlive the table or be reset first.
    void setSource(TableSource* source);
    void setRowHeight(int h);
    int rowHeight() const { return rowHeight_; }

    void reloadData();
    // Cells only for the rows near the view (see the class comment). Set
    // before the first reloadData().
    void setLazyRows(bool lazy) { lazy_ = lazy; }
    bool lazyRows() const { return lazy_; }
    TableCell* dequeueReusableCell(const QString& identifier);

    int numberOfSections() const { return static_cast<int>(sections_.size()); }
    int numberOfRows(int section) const;
    QString headerTitle(int section) const;
    // The cell shown at `path`, or null (also for a lazy table's row far
    // from the view).
    TableCell* cellForRow(IndexPath path) const;
    // The header label of a section, or null when it has no title.
    QWidget* headerView(int section) const;

    // Content geometry in points, unshifted.
    QRect rectForRow(IndexPath path) const;
    // Where a row is now, in viewport coordinates: above or below the
    // viewport when it is scrolled out of view.
    QRect visualRectForRow(IndexPath path) const;
    int contentHeight() const { return contentHeight_; }
    double maxContentOffset() const;

    double contentOffset() const;
    void setContentOffset(double y, bool animated = false);
    void scrollToRow(IndexPath path, ScrollPosition where, bool animated);
    // Ends a flick's deceleration and any scroll animation where the list is
    // now, as a finger laid on a moving list does (the source is told the
    // deceleration ended). A finger that is down keeps its drag.
    void stopScrolling();
    // The last row with any part inside the viewport, or nothing.
    std::optional<IndexPath> lastVisibleRow() const;
    // Every row with any part inside the viewport, top to bottom.
    std::vector<IndexPath> visibleRows() const;
    // Where `cell` is shown now, or nothing (a cell in the pool shows no row).
    std::optional<IndexPath> pathOfCell(const TableCell* cell) const;

    void selectRow(IndexPath path);
    void deselectRow(IndexPath path, bool animated);
    std::optional<IndexPath> selectedRow() const { return selected_; }

    bool isTracking() const { return gestures_.tracking(); }
    bool isDragging() const { return gestures_.dragging(); }
    bool isDecelerating() const { return gestures_.decelerating(); }
    bool isAnimatingScroll() const;

    // Shows the scroll indicator for a moment.
    void flashScrollIndicators();

    SectionIndex* sectionIndex() const { return index_; }

protected:
    // A finger (or the mouse) went down on the list.
    virtual void touchDown() {}
    bool viewportEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Section {
        QString title;
        int rows = 0;
        int headerTop = 0;
        int headerHeight = 0;
        int firstRowTop = 0;
        QLabel* header = nullptr;
        std::vector<TableCell*> cells;
    };

    void layoutContent();
    void placeWidgets();
    // Makes `cell` the table's (parent, tap routing, out of the pool).
    void adopt(TableCell* cell);
    // A lazy table: cells for the rows near the view, none for the others.
    void materializeRows();
    // Back to the pool, hidden; while a finger is down only out of sight.
    void release(TableCell* cell, bool fingerDown = false);
    void updateScrollRange();
    void onScrollerState(QScroller::State state);
    // ScrollGestures::Listener: the source hears of drags.
    void fingerDown() override { touchDown(); }
    void willBeginDragging() override;
    void didEndDragging(bool decelerate) override;
    void didEndDecelerating() override;
    void setRealOffset(double y);
    double realOffset() const;
    double shift() const { return source_ ? source_->offset() : 0.0; }
    int rowLeft() const;
    int rowWidth() const;

    TableSource* source_ = nullptr;
    QWidget* content_;
    SectionIndex* index_;
    QVariantAnimation* animation_;
    ScrollIndicator* indicator_;
    int rowHeight_ = 44;
    int contentHeight_ = 0;
    std::vector<Section> sections_;
    CellPool pool_;
    std::vector<QLabel*> headerPool_;
    std::optional<IndexPath> selected_;
    ScrollGestures gestures_{*this};
    bool lazy_ = false;
};

} // namespace fieldmon
