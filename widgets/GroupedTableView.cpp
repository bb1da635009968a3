#include "widgets/GroupedTableView.h"

#include "widgets/PhoneStyle.h"
#include "widgets/ScrollIndicator.h"
#include "widgets/SectionIndex.h"

#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScrollBar>
#include <QScrollerProperties>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <utility>

namespace fieldmon {

namespace {

constexpr int kSideMargin = 10;
constexpr int kHeaderHeight = 40;
constexpr int kGapWithoutHeader = 10;
constexpr int kSectionGap = 10;
constexpr int kHeaderInset = 20;
constexpr int kAnimationMs = 300;

QBrush pinstripes()
{
    QPixmap tile(7, 1);
    tile.fill(phone::stripeDark());
    QPainter p(&tile);
    p.fillRect(5, 0, 2, 1, phone::stripeLight());
    return QBrush(tile);
}

} // namespace

GroupedTableView::GroupedTableView(QWidget* parent)
    : QAbstractScrollArea(parent), content_(new QWidget(viewport())), index_(new SectionIndex(this)),
      animation_(new QVariantAnimation(this)), indicator_(new ScrollIndicator(viewport()))
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAttribute(Qt::WA_AcceptTouchEvents);
    QPalette pal = viewport()->palette();
    pal.setBrush(QPalette::Window, pinstripes());
    pal.setBrush(QPalette::Base, pinstripes());
    viewport()->setPalette(pal);
    viewport()->setAutoFillBackground(true);
    content_->setAttribute(Qt::WA_AcceptTouchEvents);

    index_->hide();
    index_->onTouched = [this](int i) {
        if (source_)
            source_->sectionIndexTouched(*this, i);
    };

    indicator_->setObjectName("scrollIndicator");

    animation_->setDuration(kAnimationMs);
    animation_->setEasingCurve(QEasingCurve::OutCubic);
    connect(animation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& v) { setRealOffset(v.toDouble()); });
    connect(animation_, &QVariantAnimation::finished, this, [this] {
        if (source_)
            source_->didEndScrollingAnimation(*this);
    });

    // Kinetic scrolling. A finger's touches arrive as synthesised mouse
    // events where nothing takes them, so the left-button gesture serves both.
    QScroller::grabGesture(viewport(), QScroller::LeftMouseButtonGesture);
    QScroller* scroller = QScroller::scroller(viewport());
    QScrollerProperties props = scroller->scrollerProperties();
    props.setScrollMetric(QScrollerProperties::VerticalOvershootPolicy,
                          QVariant::fromValue(QScrollerProperties::OvershootAlwaysOff));
    props.setScrollMetric(QScrollerProperties::HorizontalOvershootPolicy,
                          QVariant::fromValue(QScrollerProperties::OvershootAlwaysOff));
    scroller->setScrollerProperties(props);
    connect(scroller, &QScroller::stateChanged, this, [this](QScroller::State s) { onScrollerState(s); });

    verticalScrollBar()->setSingleStep(20);
}

GroupedTableView::~GroupedTableView()
{
    source_ = nullptr;
    animation_->stop();
    // Gives back the gesture recognizer that grabGesture() registered.
    QScroller::ungrabGesture(viewport());
}

void GroupedTableView::setSource(TableSource* source)
{
    source_ = source;
}

void GroupedTableView::setRowHeight(int h)
{
    if (h == rowHeight_ || h <= 0)
        return;
    rowHeight_ = h;
    layoutContent();
}

int GroupedTableView::numberOfRows(int section) const
{
    if (section < 0 || section >= numberOfSections())
        return 0;
    return sections_[static_cast<std::size_t>(section)].rows;
}

QString GroupedTableView::headerTitle(int section) const
{
    if (section < 0 || section >= numberOfSections())
        return {};
    return sections_[static_cast<std::size_t>(section)].title;
}

QWidget* GroupedTableView::headerView(int section) const
{
    if (section < 0 || section >= numberOfSections())
        return nullptr;
    return sections_[static_cast<std::size_t>(section)].header;
}

TableCell* GroupedTableView::cellForRow(IndexPath path) const
{
    if (path.section < 0 || path.section >= numberOfSections())
        return nullptr;
    const auto& s = sections_[static_cast<std::size_t>(path.section)];
    if (path.row < 0 || path.row >= static_cast<int>(s.cells.size()))
        return nullptr;
    return s.cells[static_cast<std::size_t>(path.row)];
}

std::optional<IndexPath> GroupedTableView::pathOfCell(const TableCell* cell) const
{
    if (!cell)
        return std::nullopt;
    for (int si = 0; si < numberOfSections(); ++si) {
        const auto& cells = sections_[static_cast<std::size_t>(si)].cells;
        auto it = std::find(cells.begin(), cells.end(), cell);
        if (it != cells.end())
            return IndexPath{si, static_cast<int>(it - cells.begin())};
    }
    return std::nullopt;
}

TableCell* GroupedTableView::dequeueReusableCell(const QString& identifier)
{
    return pool_.take(identifier);
}

void GroupedTableView::reloadData()
{
    // Every shown cell goes back to the pool; the source takes back what it
    // needs. Selection does not survive a reload.
    for (auto& s : sections_) {
        for (TableCell* cell : s.cells) {
            if (cell)
                release(cell, gestures_.tracking());
        }
        if (s.header) {
            s.header->hide();
            headerPool_.push_back(s.header);
        }
    }
    sections_.clear();
    selected_.reset();

    if (source_) {
        int count = std::max(0, source_->numberOfSections(*this));
        sections_.resize(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            auto& s = sections_[static_cast<std::size_t>(i)];
            s.title = phone::singleLine(source_->titleForHeader(*this, i));
            s.rows = std::max(0, source_->numberOfRows(*this, i));
        }
        for (int i = 0; i < count; ++i) {
            auto& s = sections_[static_cast<std::size_t>(i)];
            if (lazy_) {
                // Cells come as rows near the view (placeWidgets).
                s.cells.assign(static_cast<std::size_t>(s.rows), nullptr);
            } else {
                s.cells.reserve(static_cast<std::size_t>(s.rows));
                for (int r = 0; r < s.rows; ++r) {
                    TableCell* cell = source_->cellForRow(*this, {i, r});
                    adopt(cell);
                    s.cells.push_back(cell);
                }
            }
            if (!s.title.isEmpty()) {
                QLabel* header;
                if (!headerPool_.empty()) {
                    header = headerPool_.back();
                    headerPool_.pop_back();
                } else {
                    header = new QLabel(content_);
                    header->setFont(phone::systemFont(17, true));
                    QPalette p = header->palette();
                    p.setColor(QPalette::WindowText, phone::headerText());
                    header->setPalette(p);
                    header->setAttribute(Qt::WA_TransparentForMouseEvents);
                }
                s.header = header;
            }
        }
        index_->setTitles(source_->sectionIndexTitles(*this));
    }
    layoutContent();
}

void GroupedTableView::adopt(TableCell* cell)
{
    if (!cell)
        return;
    if (cell->parent() != content_) {
        cell->setParent(content_);
        connect(cell, &TableCell::tapped, this, [this, cell] {
            if (std::optional<IndexPath> path = pathOfCell(cell)) {
                selected_ = *path;
                if (source_)
                    source_->didSelectRow(*this, *path);
            }
        });
    }
    // A cell the source dequeued is no longer in the pool; one it made
    // fresh never was.
    pool_.remove(cell);
}

void GroupedTableView::release(TableCell* cell, bool fingerDown)
{
    pool_.put(cell, fingerDown);
}

void GroupedTableView::materializeRows()
{
    if (!source_)
        return;
    // Rows within one viewport height above and below the view have cells.
    const double margin = std::max(viewport()->height(), rowHeight_);
    const double top = realOffset() - margin;
    const double bottom = realOffset() + viewport()->height() + margin;
    // The window's focus widget, also while the window is not the active one.
    QWidget* focus = window()->focusWidget();
    for (int si = 0; si < numberOfSections(); ++si) {
        auto& s = sections_[static_cast<std::size_t>(si)];
        int first = std::max(0, static_cast<int>(std::floor((top - s.firstRowTop) / rowHeight_)));
        int last = std::min(s.rows - 1, static_cast<int>(std::ceil((bottom - s.firstRowTop) / rowHeight_)));
        for (int r = 0; r < s.rows; ++r) {
            TableCell*& cell = s.cells[static_cast<std::size_t>(r)];
            const bool near = r >= first && r <= last;
            if (near || !cell)
                continue;
            // Far away: back to the pool, unless the user is typing in it.
            if (focus && cell->isAncestorOf(focus))
                continue;
            release(cell);
            cell = nullptr;
        }
        for (int r = first; r <= last; ++r) {
            TableCell*& cell = s.cells[static_cast<std::size_t>(r)];
            if (cell)
                continue;
            cell = source_->cellForRow(*this, {si, r});
            adopt(cell);
            if (cell && selected_ == IndexPath{si, r} && cell->selectionStyle() != TableCell::SelectionStyle::None)
                cell->setHighlighted(true);
        }
    }
}

void GroupedTableView::layoutContent()
{
    int y = 0;
    for (auto& s : sections_) {
        s.headerTop = y;
        s.headerHeight = s.title.isEmpty() ? kGapWithoutHeader : kHeaderHeight;
        y += s.headerHeight;
        s.firstRowTop = y;
        y += s.rows * rowHeight_;
        y += kSectionGap;
    }
    contentHeight_ = y;
    updateScrollRange();
    placeWidgets();
}

int GroupedTableView::rowLeft() const
{
    return kSideMargin;
}

int GroupedTableView::rowWidth() const
{
    int right = index_->titles().isEmpty() ? kSideMargin : SectionIndex::kWidth;
    return std::max(0, viewport()->width() - kSideMargin - right);
}

void GroupedTableView::placeWidgets()
{
    if (lazy_)
        materializeRows();
    int w = viewport()->width();
    content_->setGeometry(0, -static_cast<int>(std::lround(realOffset())), w, std::max(contentHeight_, viewport()->height()));
    for (auto& s : sections_) {
        if (s.header) {
            QFontMetrics fm(s.header->font());
            int textWidth = rowWidth() - (kHeaderInset - kSideMargin);
            s.header->setText(fm.elidedText(s.title, Qt::ElideRight, textWidth));
            s.header->setGeometry(kHeaderInset, s.headerTop + 8, textWidth, s.headerHeight - 10);
            s.header->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            s.header->show();
        }
        for (int r = 0; r < static_cast<int>(s.cells.size()); ++r) {
            TableCell* cell = s.cells[static_cast<std::size_t>(r)];
            if (!cell)
                continue;
            using P = TableCell::Position;
            P pos = s.rows == 1 ? P::Single : r == 0 ? P::Top : r == s.rows - 1 ? P::Bottom : P::Middle;
            cell->setPosition(pos);
            // Rows overlap by one point so that neighbours share one separator.
            int h = rowHeight_ + (r < s.rows - 1 ? 1 : 0);
            cell->setGeometry(rowLeft(), s.firstRowTop + r * rowHeight_, rowWidth(), h);
            cell->show();
        }
    }
    QRect vp = viewport()->geometry();
    index_->setGeometry(vp.right() + 1 - SectionIndex::kWidth, vp.top(), SectionIndex::kWidth, vp.height());
    index_->raise();

    if (auto* indicator = viewport()->findChild<QWidget*>("scrollIndicator")) {
        int vh = viewport()->height();
        if (contentHeight_ > vh && vh > 0) {
            int barH = std::max(20, vh * vh / contentHeight_);
            double frac = maxContentOffset() > 0 ? realOffset() / maxContentOffset() : 0;
            int x = index_->isVisible() ? w - SectionIndex::kWidth - 8 : w - 8;
            indicator->setGeometry(x, 2 + static_cast<int>(frac * (vh - 4 - barH)), 6, barH);
        } else {
            indicator->hide();
        }
    }
}

QRect GroupedTableView::rectForRow(IndexPath path) const
{
    if (path.section < 0 || path.section >= numberOfSections())
        return {};
    const auto& s = sections_[static_cast<std::size_t>(path.section)];
    if (path.row < 0 || path.row >= s.rows)
        return {};
    return QRect(rowLeft(), s.firstRowTop + path.row * rowHeight_, rowWidth(), rowHeight_);
}

QRect GroupedTableView::visualRectForRow(IndexPath path) const
{
    QRect r = rectForRow(path);
    if (r.isNull())
        return r;
    return r.translated(content_->pos());
}

void GroupedTableView::selectRow(IndexPath path)
{
    if (selected_ && *selected_ != path)
        if (TableCell* old = cellForRow(*selected_))
            old->setHighlighted(false);
    selected_ = path;
    if (TableCell* cell = cellForRow(path))
        if (cell->selectionStyle() != TableCell::SelectionStyle::None)
            cell->setHighlighted(true);
}

void GroupedTableView::deselectRow(IndexPath path, bool animated)
{
    if (selected_ == path)
        selected_.reset();
    QPointer<TableCell> cell = cellForRow(path);
    if (!cell)
        return;
    if (!animated) {
        cell->setHighlighted(false);
        return;
    }
    // The highlight lingers a moment, so a quick tap is still seen.
    QTimer::singleShot(200, cell, [this, cell, path] {
        if (cell && selected_ != path)
            cell->setHighlighted(false);
    });
}

void GroupedTableView::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    updateScrollRange();
    placeWidgets();
}

} // namespace fieldmon
