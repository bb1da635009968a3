#pragma once
// The event log screen: a device's event log, one line per 45-point row,
// shown in landscape. It keeps its place while events arrive and the log
// (at most 100 lines) drops its oldest lines at the top:
//
// - following the end (stayAtEnd): each new event scrolls to the last line;
// - pinned (stayAt is an event number): the rows under the user stay put on
//   screen although every row moves up by one when a line is dropped;
// - free: nothing is adjusted;
// - moving (a drag or the list still gliding): the table's scroll
//   coordinates are shifted by scrollingOffset, so the scroller keeps
//   dragging the same lines while they move up underneath it.
//
// Event numbers: with n lines and the device's eventNumber E, row r shows
// event E - n + r. Positions are rows × 45 plus an in-row remainder, so a
// pinned place is kept as (event number, remainder) = (stayAt, screenOffset).
//
// The index on the right ("Old" … "New") jumps through the log; "New"
// follows the end again. Where the jump lands is settled as after a drag:
// with the last row in view (or the second-last, unless following) the
// list follows the end, otherwise it is pinned there.
//
// While it lives the screen holds a shown lease on its device's record (see
// ShownLease).
//
// Thread rule: main thread only (events are posted on the main thread).

#include "device/ShownLease.h"
#include "platform/NotificationCenter.h"
#include "widgets/GroupedTableView.h"
#include "widgets/Screen.h"

#include <memory>

namespace fieldmon {

class Client;
class TrackingTableView;

class EventLog : public Screen, public TableSource {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 45;

    explicit EventLog(std::shared_ptr<Client> client, QWidget* parent = nullptr);
    ~EventLog() override;

    // Stops observing the old device's events, shows the new device (a
    // lease on it) and observes its "eventFrom%d" notification.
    void setRemoteClient(std::shared_ptr<Client> client);
    const std::shared_ptr<Client>& remoteClient() const { return remoteClient_.record(); }

    // Refreshes the list after an event and restores the position.
    void reloadData();
    // Pins the current position: the event at the last visible row, shifted
    // by `delta` events, and the view's offset from that row.
    void stayHere() { stayDeltaHere(0); }
    void stayDeltaHere(int delta);

    Orientation orientation() const override { return Orientation::Landscape; }
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

    TrackingTableView* tableView() const { return tableView_; }
    QString automationKind() const override { return QStringLiteral("eventlog"); }
    GroupedTableView* automationTable() const override;

    // State, for tests and diagnostics.
    int count() const { return count_; }
    bool stayAtEnd() const { return stayAtEnd_; }
    int stayAt() const { return stayAt_; }
    bool moving() const { return moving_; }
    double screenOffset() const { return screenOffset_; }
    int lastIndex() const { return lastIndex_; }

    // TableSource
    int numberOfSections(GroupedTableView&) override { return 1; }
    QString titleForHeader(GroupedTableView&, int) override;
    int numberOfRows(GroupedTableView&, int section) override;
    TableCell* cellForRow(GroupedTableView& table, IndexPath path) override;
    QStringList sectionIndexTitles(GroupedTableView&) override;
    void sectionIndexTouched(GroupedTableView&, int index) override;
    double offset() const override { return scrollingOffset_; }
    void willBeginDragging(GroupedTableView&) override;
    void didEndDragging(GroupedTableView&, bool decelerate) override;
    void didEndDecelerating(GroupedTableView&) override;
    void didEndScrollingAnimation(GroupedTableView&) override;

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    int lines() const;
    int eventNumber() const;
    void decelerationEnded();
    void scrollToEnd();

    TrackingTableView* tableView_;
    ShownLease remoteClient_;
    int count_ = 0;
    bool stayAtEnd_ = false;
    int stayAt_ = -1;
    bool moving_ = false;
    double screenOffset_ = 0;
    int lastIndex_ = -1;
    double scrollingOffset_ = 0;
    // Last member: dropped first, so no event reaches a half-destroyed screen.
    platform::Subscription events_;
};

} // namespace fieldmon
