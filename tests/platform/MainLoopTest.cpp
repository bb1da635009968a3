#include "platform/ManualLoop.h"
#include "platform/ThreadLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace fieldmon::platform;

TEST(ManualLoop, TimersFireInDueOrderAndEqualDueTimesInCreationOrder)
{
    ManualLoop loop;
    std::vector<std::string> fired;
    loop.after(0.5, [&] { fired.push_back("b@0.5"); });
    loop.after(0.2, [&] { fired.push_back("a@0.2"); });
    loop.after(0.5, [&] { fired.push_back("c@0.5"); });
    loop.after(0.5, [&] { fired.push_back("d@0.5"); });
    loop.after(-3, [&] { fired.push_back("neg"); });

    loop.advance(0.3);
    EXPECT_EQ(fired, (std::vector<std::string>{"neg", "a@0.2"}));
    loop.advance(0.2);
    EXPECT_EQ(fired, (std::vector<std::string>{"neg", "a@0.2", "b@0.5", "c@0.5", "d@0.5"}));
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST(ManualLoop, ClockStandsAtDueTimeWhileTimerFiresAndChainedTimersFollow)
{
    ManualLoop loop(100.0);
    std::vector<double> seen;
    std::function<void()> tick = [&] {
        seen.push_back(loop.now());
        if (seen.size() < 4)
            loop.after(0.25, tick);
    };
    loop.after(0.25, tick);
    loop.advance(10);
    ASSERT_EQ(seen.size(), 4u);
    for (std::size_t i = 0; i < seen.size(); ++i)
        EXPECT_DOUBLE_EQ(seen[i], 100.0 + 0.25 * static_cast<double>(i + 1));
    EXPECT_DOUBLE_EQ(loop.now(), 110.0);
}

TEST(ManualLoop, CancelledTimerNeverFiresAndUnknownIdsAreIgnored)
{
    ManualLoop loop;
    int fired = 0;
    auto keep = loop.after(1, [&] { fired += 1; });
    auto drop = loop.after(1, [&] { fired += 10; });
    loop.cancel(drop);
    loop.cancel(drop);
    loop.cancel(12345);
    (void)keep;
    loop.advance(2);
    EXPECT_EQ(fired, 1);
}

TEST(ManualLoop, TimerCancelledByAnEarlierTimerInTheSamePassDoesNotFire)
{
    ManualLoop loop;
    int fired = 0;
    MainLoop::TimerId second = 0;
    loop.after(1, [&] { loop.cancel(second); });
    second = loop.after(1, [&] { ++fired; });
    loop.advance(1);
    EXPECT_EQ(fired, 0);
}

TEST(ManualLoop, PostedTasksRunInOrderIncludingTasksPostedByTasks)
{
    ManualLoop loop;
    std::vector<int> order;
    loop.post([&] {
        order.push_back(1);
        loop.post([&] { order.push_back(3); });
    });
    loop.post([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty()); // post never runs inline
    EXPECT_EQ(loop.runPending(), 3u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(ManualLoop, PostAndWaitFromAnotherThreadBlocksUntilTheTestRunsIt)
{
    ManualLoop loop;
    std::atomic<bool> returned{false};
    int value = 0;
    std::thread other([&] {
        EXPECT_TRUE(loop.postAndWait([&] { value = 42; }));
        returned = true;
    });
    while (loop.pendingTasks() == 0)
        std::this_thread::yield();
    EXPECT_FALSE(returned.load());
    loop.runPending();
    other.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(value, 42);
}

TEST(ManualLoop, PostAndWaitOnTheMainThreadRunsInline)
{
    ManualLoop loop;
    bool ran = false;
    EXPECT_TRUE(loop.postAndWait([&] { ran = true; }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(loop.pendingTasks(), 0u);
}

// Shutdown of the listen thread: the thread is blocked in postAndWait while
// the main thread wants it gone. Requesting stop must release it without the
// task ever running.
TEST(ManualLoop, StopRequestReleasesAPendingPostAndWaitAndTheTaskNeverRuns)
{
    ManualLoop loop;
    std::stop_source stop;
    std::atomic<int> result{-1};
    bool ran = false;
    std::thread other([&] { result = loop.postAndWait([&] { ran = true; }, stop.get_token()) ? 1 : 0; });
    while (loop.pendingTasks() == 0)
        std::this_thread::yield();
    stop.request_stop();
    other.join();
    EXPECT_EQ(result.load(), 0);
    loop.runPending();
    EXPECT_FALSE(ran);
}

TEST(ThreadLoop, PostAndWaitRunsOnTheLoopThreadAndWaits)
{
    ThreadLoop loop;
    loop.start();
    std::thread::id ranOn;
    bool wasMain = false;
    EXPECT_TRUE(loop.postAndWait([&] {
        ranOn = std::this_thread::get_id();
        wasMain = loop.isMainThread();
    }));
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(wasMain);
    EXPECT_FALSE(loop.isMainThread());
}

TEST(ThreadLoop, TimersFireInOrderInRealTime)
{
    ThreadLoop loop;
    loop.start();
    std::mutex m;
    std::vector<int> order;
    std::atomic<int> count{0};
    loop.postAndWait([&] {
        loop.after(0.03, [&] { std::lock_guard l(m); order.push_back(3); ++count; });
        loop.after(0.01, [&] { std::lock_guard l(m); order.push_back(1); ++count; });
        loop.after(0.01, [&] { std::lock_guard l(m); order.push_back(2); ++count; });
        auto id = loop.after(0.02, [&] { std::lock_guard l(m); order.push_back(99); });
        loop.cancel(id);
    });
    for (int i = 0; i < 500 && count < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::lock_guard l(m);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(ThreadLoop, PostAndWaitReturnsFalseWhenTheLoopQuitsWithTheTaskQueued)
{
    auto loop = std::make_unique<ThreadLoop>(); // never run: tasks just queue
    std::atomic<int> result{-1};
    // The thread gets the loop itself, not the unique_ptr that reset() writes.
    std::thread other([&result, raw = loop.get()] { result = raw->postAndWait([] {}) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    loop.reset(); // drops the queued task
    other.join();
    EXPECT_EQ(result.load(), 0);
}

TEST(ThreadLoop, NowIsMonotonic)
{
    ThreadLoop loop;
    double a = loop.now();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    double b = loop.now();
    EXPECT_GT(b - a, 0.004);
}
