// The event log screen: landscape, following the end, pinning while the
// full log drops lines, the "Old" … "New" index and the coordinate shift
// under a drag.

#include "app/AppWindow.h"
#include "device/Client.h"
#include "events/EventLog.h"
#include "events/TrackingTableView.h"
#include "support/TestServices.h"
#include "ui/AppRig.h"
#include "widgets/NavigationStack.h"
#include "widgets/SectionIndex.h"

#include <gtest/gtest.h>

using namespace fieldmon;
using fieldmon::test::waitFor;

namespace {

// A device record with its own services, its log filled with numbered
// lines, and the event log screen shown landscape in a window.
struct LogRig {
    test::TestServices s;
    std::shared_ptr<Client> client = Client::create(false, s.services);
    AppWindow window;
    QPointer<EventLog> log;
    int next = 0;

    explicit LogRig(int lines)
    {
        client->setSerialNumber(1207);
        for (int i = 0; i < lines; ++i)
            add();
        auto* root = new Screen;
        root->setTitle("Device");
        window.navigationStack()->setRoot(root);
        window.show();
        log = new EventLog(client);
        log->setAttribute(Qt::WA_DeleteOnClose);
        window.navigationStack()->push(log, false);
    }

    void add()
    {
        int n = next++;
        client->broadcastEvent(
            QStringLiteral("12:00:%1 EVENT %2").arg(n % 60, 2, 10, QChar('0')).arg(n).toStdString());
    }

    TrackingTableView& table() { return *log->tableView(); }
    void settle() { ASSERT_TRUE(waitFor([&] { return !table().isAnimatingScroll(); })); }
    int rows() { return table().numberOfRows(0); }

    // The text of the row at a height inside the visible list.
    QString textAt(int viewportY)
    {
        double y = table().contentOffset() + log->offset() + viewportY;
        for (int r = 0; r < rows(); ++r)
            if (table().rectForRow({0, r}).contains(QPoint(20, static_cast<int>(y))))
                return table().cellForRow({0, r})->text();
        return {};
    }
    bool showsEnd() { return table().lastVisibleRow() && table().lastVisibleRow()->row == rows() - 1; }
};

} // namespace

TEST(EventLogScreen, OpensLandscapeWith45PointRowsAndTheIndex)
{
    platform::DiagnosticCapture out;
    LogRig rig(3);
    auto& table = rig.table();
    EXPECT_EQ(rig.window.phoneScreen()->size(), QSize(480, 320));
    EXPECT_EQ(rig.log->size(), QSize(480, 256));
    EXPECT_EQ(rig.window.navigationStack()->bar()->title(), "Event Log");
    EXPECT_EQ(table.headerTitle(0), "Event Log");
    ASSERT_EQ(rig.rows(), 3);
    EXPECT_EQ(table.rectForRow({0, 1}).top() - table.rectForRow({0, 0}).top(), 45);
    TableCell* cell = table.cellForRow({0, 0});
    EXPECT_EQ(cell->reuseIdentifier(), "ClientListIdentifier");
    EXPECT_EQ(cell->selectionStyle(), TableCell::SelectionStyle::None);
    EXPECT_EQ(cell->textLabel()->font().pixelSize(), 16);
    EXPECT_EQ(cell->text(), "12:00:00 EVENT 0");
    EXPECT_EQ(table.sectionIndex()->titles(),
              (QStringList{"Old", "", "", "", "Recent", "", "", "", "New"}));
    EXPECT_TRUE(rig.log->stayAtEnd()) << "a short log follows its end";
    test::shot(rig.window.phoneScreen(), "05-event-log-short");
    std::string printed = out.take();
    for (const char* line : {"Making a tracking version.\n", "Starting up the event view\n", "View will appear\n"})
        EXPECT_NE(printed.find(line), std::string::npos) << line;
}

TEST(EventLogScreen, AShortLogFollowsNewEventsToTheEnd)
{
    LogRig rig(3);
    for (int i = 0; i < 12; ++i) {
        rig.add();
        rig.settle();
        ASSERT_TRUE(rig.showsEnd()) << "after event " << i;
    }
    EXPECT_EQ(rig.rows(), 15);
    EXPECT_DOUBLE_EQ(rig.table().contentOffset(), rig.table().maxContentOffset());
    test::shot(rig.window.phoneScreen(), "06-event-log-following");
}

TEST(EventLogScreen, ALongLogOpensAtItsOldestLinesAndStaysThere)
{
    LogRig rig(50);
    EXPECT_FALSE(rig.log->stayAtEnd());
    EXPECT_EQ(rig.textAt(60), "12:00:00 EVENT 0");
    for (int i = 0; i < 10; ++i)
        rig.add();
    rig.settle();
    EXPECT_EQ(rig.rows(), 60);
    EXPECT_DOUBLE_EQ(rig.table().contentOffset(), 0);
    EXPECT_EQ(rig.textAt(60), "12:00:00 EVENT 0");
}

TEST(EventLogScreen, APinnedLineStaysInPlaceWhileTheFullLogDropsLinesUntilItIsDropped)
{
    LogRig rig(100);
    auto& table = rig.table();
    // The user drags to somewhere in the middle and lets go without a glide.
    table.setContentOffset(20 * 45 + 17);
    QScroller* scroller = QScroller::scroller(table.viewport());
    const QPointF at(100, 100);
    scroller->handleInput(QScroller::InputPress, at, 0);
    scroller->handleInput(QScroller::InputMove, at + QPointF(0, 30), 1000);
    scroller->handleInput(QScroller::InputMove, at + QPointF(0, 40), 2000);
    ASSERT_TRUE(table.isDragging());
    scroller->handleInput(QScroller::InputRelease, at + QPointF(0, 40), 3000);
    ASSERT_FALSE(table.isDragging());
    ASSERT_FALSE(table.isDecelerating()) << "let go without a glide";
    rig.settle();
    ASSERT_GE(rig.log->stayAt(), 0);
    ASSERT_FALSE(rig.log->stayAtEnd());
    const QString pinned = rig.textAt(100);
    const double offsetBefore = table.contentOffset();
    ASSERT_FALSE(pinned.isEmpty());

    for (int i = 0; i < 5; ++i) {
        rig.add();
        ASSERT_EQ(rig.rows(), 100);
        EXPECT_EQ(rig.textAt(100), pinned) << "after event " << i;
    }
    EXPECT_DOUBLE_EQ(table.contentOffset(), offsetBefore - 5 * 45) << "rows moved up, the view with them";
    test::shot(rig.window.phoneScreen(), "07-event-log-pinned");

    // Enough events that the pinned line leaves the log: the top is shown.
    for (int i = 0; i < 30; ++i)
        rig.add();
    EXPECT_EQ(rig.log->stayAt(), -1);
    EXPECT_DOUBLE_EQ(table.contentOffset(), 0);
}

TEST(EventLogScreen, NewFollowsTheEndAndOldGoesToTheFirstLineAndStopsFollowing)
{
    LogRig rig(100);
    auto& table = rig.table();
    SectionIndex* index = table.sectionIndex();
    ASSERT_TRUE(index->isVisible());

    QTest::mouseClick(index, Qt::LeftButton, {}, index->entryRect(8).center());
    rig.settle();
    EXPECT_TRUE(rig.log->stayAtEnd());
    EXPECT_TRUE(rig.showsEnd());
    rig.add();
    rig.settle();
    EXPECT_TRUE(rig.showsEnd());
    EXPECT_EQ(rig.textAt(static_cast<int>(table.viewport()->height()) - 20), "12:00:40 EVENT 100");
    test::shot(rig.window.phoneScreen(), "08-event-log-new");

    QTest::mouseClick(index, Qt::LeftButton, {}, index->entryRect(0).center());
    rig.settle();
    EXPECT_FALSE(rig.log->stayAtEnd());
    EXPECT_DOUBLE_EQ(table.contentOffset(), 0);
    EXPECT_EQ(rig.textAt(60), "12:00:01 EVENT 1");
    // The log is full, so the next event drops the first line; the view
    // stays at the top instead of following the end.
    rig.add();
    rig.settle();
    EXPECT_DOUBLE_EQ(table.contentOffset(), 0);
    EXPECT_EQ(rig.textAt(60), "12:00:02 EVENT 2");
    EXPECT_FALSE(rig.showsEnd());
}

TEST(EventLogScreen, AnIndexJumpThatLeavesTheLastRowsInViewFollowsTheEnd)
{
    // Every entry but "New" pinned the place it jumped to. The scroll's end
    // settles it as after a drag: in a short log "Old" leaves the last row
    // (4 lines, no scroll runs) or the second-last (6 lines) in view, and
    // the list follows the end.
    for (int lines : {4, 6}) {
        SCOPED_TRACE(lines);
        LogRig rig(lines);
        SectionIndex* index = rig.table().sectionIndex();
        QTest::mouseClick(index, Qt::LeftButton, {}, index->entryRect(0).center());
        rig.settle();
        EXPECT_TRUE(rig.log->stayAtEnd());
        EXPECT_LT(rig.log->stayAt(), 0);
        for (int i = 0; i < 6; ++i)
            rig.add();
        rig.settle();
        EXPECT_TRUE(rig.showsEnd());
    }
}

TEST(EventLogScreen, TheIndexJumpsProportionallyThroughALogThatIsNotFull)
{
    LogRig rig(60);
    auto& table = rig.table();
    SectionIndex* index = table.sectionIndex();
    // Entry 4 ("Recent") centres row 4 * 59 / 8 = 29.
    QTest::mouseClick(index, Qt::LeftButton, {}, index->entryRect(4).center());
    rig.settle();
    EXPECT_FALSE(rig.log->stayAtEnd());
    EXPECT_EQ(rig.textAt(table.viewport()->height() / 2), "12:00:29 EVENT 29");
    ASSERT_GE(rig.log->stayAt(), 0) << "the place is pinned once the scroll ends";
    // Lines are added, none dropped: the same lines stay in view.
    rig.add();
    EXPECT_EQ(rig.textAt(table.viewport()->height() / 2), "12:00:29 EVENT 29");
}

TEST(EventLogScreen, LeavingTurnsTheDisplayBackAndStopsListening)
{
    LogRig rig(3);
    const std::string name = rig.client->eventNotificationIDString();
    EXPECT_EQ(rig.s.notifications.observerCount(name), 1u);
    platform::DiagnosticCapture out;
    rig.window.navigationStack()->pop(false);
    EXPECT_NE(out.take().find("Switching back\n"), std::string::npos);
    EXPECT_EQ(rig.window.phoneScreen()->size(), QSize(320, 480));
    EXPECT_EQ(rig.s.notifications.observerCount(name), 0u);
    ASSERT_TRUE(waitFor([&] { return rig.log.isNull(); }));
    rig.add(); // nothing listens any more; nothing may crash
}

TEST(EventLogScreen, EventsFromADeviceOnTheNetworkAppearInItsLog)
{
    test::AppRig rig;
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;North well;3;1207;1"));
    auto& list = *rig.list().tableView();
    ASSERT_TRUE(waitFor([&] { return list.numberOfRows(0) == 1; }));
    test::tapRow(list, {0, 0});
    // The detail screen scrolls (its link rows); its rows take taps once it has slid in.
    ASSERT_TRUE(waitFor([&] { return !rig.stack().isAnimating(); }));
    test::tapRow(*rig.detail().tableView(), {0, DeviceDetailScreen::EventLogRow});
    auto* log = dynamic_cast<EventLog*>(rig.stack().top());
    ASSERT_NE(log, nullptr);
    const int before = log->tableView()->numberOfRows(0);
    rig.send(2, "e08:15:00 PUMP STARTED");
    rig.send(2, "e08:15:03 PRESSURE LOW");
    ASSERT_TRUE(waitFor([&] { return log->tableView()->numberOfRows(0) == before + 2; }));
    EXPECT_EQ(log->tableView()->cellForRow({0, before + 1})->text(), "08:15:03 PRESSURE LOW");
    ASSERT_TRUE(waitFor([&] { return !log->tableView()->isAnimatingScroll(); }));
    test::shot(rig.screen(), "09-event-log-live");
}

TEST(EventLogScreen, ADragCarriesOnSmoothlyWhenLinesAreDroppedUnderIt)
{
    // Without the coordinate shift, the scroller would put back the old
    // position on the next move and the list would jump by a row per event.
    LogRig rig(100);
    auto& table = rig.table();
    table.setContentOffset(30 * 45);
    QWidget* vp = table.viewport();
    QPoint p(200, 200);
    QTest::mousePress(vp, Qt::LeftButton, {}, p);
    for (int i = 1; i <= 6; ++i) {
        QTest::qWait(16);
        QTest::mouseMove(vp, p - QPoint(0, 10 * i));
    }
    QTest::qWait(50);
    ASSERT_TRUE(rig.log->moving());
    const QString under = rig.textAt(120);
    const double reported = table.contentOffset();

    rig.add();
    rig.add();
    EXPECT_EQ(rig.textAt(120), under) << "the content moved with the dropped lines";
    EXPECT_DOUBLE_EQ(rig.log->offset(), -2 * 45.0);
    EXPECT_DOUBLE_EQ(table.contentOffset(), reported) << "the scroller sees the position it set";

    // The drag goes on from there: 30 more points up, no jump back.
    const QPoint last = p - QPoint(0, 60);
    for (int i = 1; i <= 3; ++i) {
        QTest::qWait(16);
        QTest::mouseMove(vp, last - QPoint(0, 10 * i));
    }
    QTest::qWait(50);
    double moved = table.contentOffset() - reported;
    EXPECT_NEAR(moved, 30, 12);

    // The finger lifts: the shift ends and the place is pinned.
    QTest::mouseRelease(vp, Qt::LeftButton, {}, last - QPoint(0, 30));
    ASSERT_TRUE(waitFor([&] { return !rig.log->moving(); }, 5000));
    EXPECT_DOUBLE_EQ(rig.log->offset(), 0);
    EXPECT_GE(rig.log->stayAt(), 0);
}
