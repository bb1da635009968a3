// The Qt main loop adapter: ordering, waiting across threads, timers and
// what happens to work still queued when the loop goes away.

#include "platform/qt/QtMainLoop.h"
#include "ui/UiSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using fieldmon::platform::QtMainLoop;
using fieldmon::test::waitFor;

TEST(QtMainLoop, PostedTasksRunLaterInPostingOrderFromAnyThread)
{
    QtMainLoop loop;
    std::vector<std::string> ran;
    loop.post([&] { ran.push_back("a"); });
    loop.post([&] { ran.push_back("b"); });
    EXPECT_TRUE(ran.empty()) << "post never runs inline";

    std::atomic<bool> onMain{false};
    std::thread other([&] { loop.post([&] { onMain = loop.isMainThread(); ran.push_back("c"); }); });
    other.join();
    ASSERT_TRUE(waitFor([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(onMain);
}

TEST(QtMainLoop, PostAndWaitBlocksTheCallerUntilTheMainThreadRanIt)
{
    QtMainLoop loop;
    int value = 0;
    // On the main thread it runs inline.
    EXPECT_TRUE(loop.postAndWait([&] { value = 1; }));
    EXPECT_EQ(value, 1);

    std::atomic<bool> returned{false};
    std::atomic<bool> ranOnMain{false};
    std::thread other([&] {
        bool ok = loop.postAndWait([&] {
            ranOnMain = loop.isMainThread();
            value = 2;
        });
        returned = ok;
    });
    ASSERT_TRUE(waitFor([&] { return returned.load(); }));
    other.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_EQ(value, 2);
}

TEST(QtMainLoop, TimersFireInDueOrderEqualTimesInCreationOrderAndCancelWorks)
{
    QtMainLoop loop;
    std::vector<std::string> fired;
    loop.after(0.06, [&] { fired.push_back("late"); });
    loop.after(0.02, [&] { fired.push_back("first"); });
    loop.after(0.04, [&] { fired.push_back("same-1"); });
    loop.after(0.04, [&] { fired.push_back("same-2"); });
    auto dropped = loop.after(0.03, [&] { fired.push_back("cancelled"); });
    loop.after(-1, [&] { fired.push_back("now"); });
    loop.cancel(dropped);
    loop.cancel(9999); // unknown ids are ignored

    double start = loop.now();
    ASSERT_TRUE(waitFor([&] { return fired.size() == 5; }));
    EXPECT_EQ(fired, (std::vector<std::string>{"now", "first", "same-1", "same-2", "late"}));
    EXPECT_GE(loop.now() - start, 0.06);
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST(QtMainLoop, ATimerMayScheduleAndCancelOthers)
{
    QtMainLoop loop;
    std::vector<int> fired;
    QtMainLoop::TimerId victim = 0;
    loop.after(0.01, [&] {
        fired.push_back(1);
        loop.cancel(victim);
        loop.after(0.01, [&] { fired.push_back(3); });
    });
    victim = loop.after(0.015, [&] { fired.push_back(2); });
    ASSERT_TRUE(waitFor([&] { return fired.size() == 2; }));
    QTest::qWait(30);
    EXPECT_EQ(fired, (std::vector<int>{1, 3}));
}

TEST(QtMainLoop, DestroyingTheLoopReleasesAWaiterWhoseTaskNeverRan)
{
    // A listen thread blocked in postAndWait while the app shuts down must
    // get its answer (false) instead of waiting forever.
    auto loop = std::make_unique<QtMainLoop>();
    std::atomic<int> result{-1};
    std::atomic<bool> ran{false};
    std::thread other([&] { result = loop->postAndWait([&] { ran = true; }) ? 1 : 0; });
    // Let the task be queued, without running the event loop.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(result, -1) << "the waiter must still be waiting";
    loop.reset();
    other.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(ran);
}

TEST(QtMainLoop, PostAfterTheLoopIsGoneIsDroppedNotRun)
{
    std::atomic<bool> ran{false};
    {
        QtMainLoop loop;
        loop.post([&] { ran = true; });
    }
    QTest::qWait(20);
    EXPECT_FALSE(ran) << "a task queued on a destroyed loop must not run";
}
