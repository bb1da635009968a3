#include "events/EventLog.h"

#include "device/Client.h"
#include "events/TrackingTableView.h"
#include "platform/Diagnostics.h"
#include "widgets/PhoneStyle.h"

namespace fieldmon {

namespace {
const QString kCellIdentifier = QStringLiteral("ClientListIdentifier");
// A log of at most this many lines opens following its end; a longer one
// opens at its oldest lines.
constexpr int kFollowAtOpen = 6;
constexpr int kIndexEntries = 9;
} // namespace

EventLog::EventLog(std::shared_ptr<Client> client, QWidget* parent)
    : Screen(parent), tableView_(new TrackingTableView(this))
{
    setRemoteClient(std::move(client));
    tableView_->setSource(this);
    tableView_->setRowHeight(kRowHeight);
    stayAtEnd_ = lines() <= kFollowAtOpen;
    stayAt_ = -1;
    moving_ = false;
    setTitle(QStringLiteral("Event Log"));
    diag("Starting up the event view\n");
}

EventLog::~EventLog()
{
    events_.reset();
    tableView_->setSource(nullptr);
}

void EventLog::setRemoteClient(std::shared_ptr<Client> client)
{
    events_.reset();
    remoteClient_ = ShownLease(std::move(client));
    if (!remoteClient_)
        return;
    events_ = remoteClient_->notifications().subscribe(remoteClient_->eventNotificationIDString(),
                                                        [this](const platform::Notification&) { reloadData(); });
}

int EventLog::lines() const
{
    return remoteClient_ ? static_cast<int>(remoteClient_->eventLog().size()) : 0;
}

int EventLog::eventNumber() const
{
    return remoteClient_ ? remoteClient_->eventNumber() : 0;
}

GroupedTableView* EventLog::automationTable() const
{
    return tableView_;
}

void EventLog::resizeEvent(QResizeEvent*)
{
    tableView_->setGeometry(rect());
}

void EventLog::viewWillAppear(bool)
{
    diag("View will appear\n");
    tableView_->reloadData();
    if (auto sel = tableView_->selectedRow())
        tableView_->deselectRow(*sel, false);
}

void EventLog::viewDidAppear(bool)
{
    tableView_->flashScrollIndicators();
}

void EventLog::viewWillDisappear(bool)
{
    events_.reset();
    diag("Switching back\n");
}

QString EventLog::titleForHeader(GroupedTableView&, int)
{
    return QStringLiteral("Event Log");
}

int EventLog::numberOfRows(GroupedTableView&, int)
{
    count_ = lines();
    return count_;
}

TableCell* EventLog::cellForRow(GroupedTableView& table, IndexPath path)
{
    TableCell* cell = table.dequeueReusableCell(kCellIdentifier);
    if (!cell) {
        cell = new TableCell(kCellIdentifier);
        cell->setSelectionStyle(TableCell::SelectionStyle::None);
        cell->textLabel()->setFont(phone::systemFont(16));
    }
    QString text;
    if (!remoteClient_) {
        cell->setText(text);
        return cell;
    }
    const auto& log = remoteClient_->eventLog();
    if (path.row >= 0 && static_cast<std::size_t>(path.row) < log.size())
        text = QString::fromUtf8(log[static_cast<std::size_t>(path.row)]);
    cell->setText(text);
    return cell;
}

QStringList EventLog::sectionIndexTitles(GroupedTableView&)
{
    return {QStringLiteral("Old"), QString(), QString(), QString(), QStringLiteral("Recent"),
            QString(), QString(), QString(), QStringLiteral("New")};
}

void EventLog::sectionIndexTouched(GroupedTableView& table, int index)
{
    int n = table.numberOfRows(0);
    if (n <= 0 || index < 0 || index >= kIndexEntries)
        return;
    int row = index * (n - 1) / (kIndexEntries - 1);
    stayAtEnd_ = index == kIndexEntries - 1;
    table.scrollToRow({0, row}, GroupedTableView::ScrollPosition::Middle, true);
    // The scroll's end settles the place as after a drag: a jump that leaves
    // the last (or, unless following, the second-last) row in view follows
    // the end, any other pins its place. Already there, no scroll runs, and
    // it settles now.
    if (!table.isAnimatingScroll())
        decelerationEnded();
}

void EventLog::stayDeltaHere(int delta)
{
    stayAtEnd_ = false;
    auto v = tableView_->lastVisibleRow();
    if (!v) {
        stayAt_ = -1;
        return;
    }
    int n = lines();
    stayAt_ = delta + eventNumber() + v->row - n;
    screenOffset_ = tableView_->contentOffset() - kRowHeight * v->row;
}

void EventLog::willBeginDragging(GroupedTableView&)
{
    stayAt_ = -1;
    stayAtEnd_ = false;
    moving_ = true;
    if (lastIndex_ == -1) {
        lastIndex_ = eventNumber();
        scrollingOffset_ = 0;
    }
}

void EventLog::didEndDragging(GroupedTableView&, bool decelerate)
{
    if (decelerate)
        return;
    stayAtEnd_ = true;
    decelerationEnded();
}

void EventLog::didEndDecelerating(GroupedTableView&)
{
    decelerationEnded();
}

void EventLog::didEndScrollingAnimation(GroupedTableView&)
{
    decelerationEnded();
}

void EventLog::scrollToEnd()
{
    int n = tableView_->numberOfRows(0);
    if (n > 0)
        tableView_->scrollToRow({0, n - 1}, GroupedTableView::ScrollPosition::Middle, true);
}

void EventLog::decelerationEnded()
{
    scrollingOffset_ = 0;
    if (auto v = tableView_->lastVisibleRow()) {
        int n = tableView_->numberOfRows(0);
        if (v->row == n - 1 || (!stayAtEnd_ && v->row == n - 2)) {
            stayAtEnd_ = true;
            scrollToEnd();
        } else {
            stayHere();
        }
    }
    lastIndex_ = -1;
    moving_ = false;
}

void EventLog::reloadData()
{
    tableView_->reloadData();
    const int n = lines();
    const int e = eventNumber();
    const bool tracking = tableView_->isTracking();
    if (tracking && lastIndex_ == -1)
        lastIndex_ = n == e ? e : e - 1;

    if (moving_) {
        if (e - n < 1) {
            // Nothing has been dropped from the log yet: rows keep their places.
            lastIndex_ = e;
            scrollingOffset_ = 0;
            return;
        }
        // Rows moved up by one per dropped line since the drag began; shift
        // the coordinates the scroller sees by as much and set the same
        // (shifted) position again, which moves the content under the finger.
        double y = tableView_->contentOffset();
        scrollingOffset_ = (lastIndex_ - e) * double(kRowHeight);
        tableView_->setContentOffset(y);
        return;
    }

    if (stayAtEnd_ && n > 0) {
        scrollingOffset_ = 0;
        if (!tracking) {
            lastIndex_ = -1;
            scrollToEnd();
            return;
        }
        if (e == n) {
            stayHere();
            return;
        }
        stayDeltaHere(-1);
        lastIndex_ = e - 1;
        double y = (n - (e - stayAt_)) * double(kRowHeight) + screenOffset_;
        scrollingOffset_ = (lastIndex_ - e) * double(kRowHeight);
        y -= scrollingOffset_;
        if (y <= 0) {
            stayAt_ = -1;
            y = 0;
        }
        tableView_->setContentOffset(y);
        return;
    }

    if (stayAt_ < 0 || n < 1) {
        if (lastIndex_ != -1 && tracking)
            lastIndex_ = -1;
        return;
    }
    double y = (n + stayAt_ - e) * double(kRowHeight) + screenOffset_;
    if (tracking) {
        scrollingOffset_ = (lastIndex_ - e) * double(kRowHeight);
        y -= scrollingOffset_;
    } else {
        scrollingOffset_ = 0;
        lastIndex_ = -1;
    }
    if (y <= 0) {
        // The pinned event has left the log: show the top.
        stayAt_ = -1;
        y = 0;
    }
    tableView_->setContentOffset(y);
}

} // namespace fieldmon
