#pragma once
// The MainLoop contract, one typed suite run against every loop (ManualLoop
// and ThreadLoop in tests/platform, QtMainLoop in tests/ui) through a driver:
//   kName                  the loop's name in the test names
//   make(running)          a loop; with false, one that runs nothing before
//                          drain() (a ThreadLoop not yet started)
//   runUntil(loop, done, s) runs the main thread until done(); false after s
//                          seconds (virtual ones for the manual loop)
//   onMain(loop, fn)       runs fn on the main thread and waits for it
//   drain(loop)            runs what is queued

#include "platform/MainLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace fieldmon::test {

struct LoopDriverNames {
    template <class Driver>
    static std::string GetName(int)
    {
        return Driver::kName;
    }
};

// Names in the order they were added, from any thread.
class Record {
public:
    void add(std::string name)
    {
        std::lock_guard lock(mutex_);
        names_.push_back(std::move(name));
    }
    std::vector<std::string> get()
    {
        std::lock_guard lock(mutex_);
        return names_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> names_;
};

// Set on a thread while it is inside post(): a task that finds it set on its
// own thread was run inline.
inline bool& insidePost()
{
    thread_local bool inside = false;
    return inside;
}

template <class Driver>
class MainLoopContract : public testing::Test {
protected:
    Driver driver;
};

TYPED_TEST_SUITE_P(MainLoopContract);

TYPED_TEST_P(MainLoopContract, PostedTasksRunOnTheMainThreadInPostingOrderNeverInline)
{
    auto loop = this->driver.make(true);
    Record ran;
    std::atomic<bool> allOnMain{true}, ranInline{false};
    auto post = [&](platform::MainLoop::Task fn) {
        insidePost() = true;
        loop->post(std::move(fn));
        insidePost() = false;
    };
    auto task = [&](std::string name) {
        return [&, name] {
            allOnMain = allOnMain && loop->isMainThread();
            ranInline = ranInline || insidePost();
            ran.add(name);
        };
    };
    post(task("a"));
    post([&] {
        task("b")();
        post(task("c")); // posted by a task: runs after it
    });
    std::thread([&] { post(task("d")); }).join();
    ASSERT_TRUE(this->driver.runUntil(*loop, [&] { return ran.get().size() == 4; }, 3));
    auto order = ran.get();
    auto at = [&](const char* n) { return std::find(order.begin(), order.end(), n) - order.begin(); };
    EXPECT_TRUE(at("a") < at("b") && at("b") < at("c") && at("b") < at("d")) << testing::PrintToString(order);
    EXPECT_TRUE(allOnMain);
    EXPECT_FALSE(ranInline) << "post ran a task inside the call";
}

TYPED_TEST_P(MainLoopContract, PostAndWaitRunsOnTheMainThreadAndWaitsInlineThere)
{
    auto loop = this->driver.make(true);
    int value = 0;
    std::atomic<bool> ranOnMain{false}, returned{false};
    std::atomic<int> seenAfterReturn{-1};
    std::thread other([&] {
        bool ok = loop->postAndWait([&] {
            ranOnMain = loop->isMainThread();
            value = 2;
        });
        seenAfterReturn = ok ? value : -2; // the task has finished by now
        returned = true;
    });
    ASSERT_TRUE(this->driver.runUntil(*loop, [&] { return returned.load(); }, 3));
    other.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_EQ(seenAfterReturn, 2);

    // On the main thread it runs inline: waiting there would never end.
    bool ran = false, result = false;
    this->driver.onMain(*loop, [&] { result = loop->postAndWait([&] { ran = true; }) && ran; });
    EXPECT_TRUE(result);
}

TYPED_TEST_P(MainLoopContract, TimersFireInDueOrderEqualTimesInCreationOrderAndCancelWorks)
{
    auto loop = this->driver.make(true);
    Record fired;
    double start = 0, lateAt = 0;
    platform::MainLoop::TimerId victim = 0;
    this->driver.onMain(*loop, [&] {
        start = loop->now();
        loop->after(0.06, [&] {
            lateAt = loop->now();
            fired.add("late");
        });
        loop->after(0.02, [&] { fired.add("first"); });
        loop->after(0.04, [&] { fired.add("same-1"); });
        loop->after(0.04, [&] { fired.add("same-2"); });
        auto dropped = loop->after(0.03, [&] { fired.add("cancelled"); });
        loop->after(-1, [&] { fired.add("now"); });
        loop->cancel(dropped);
        loop->cancel(dropped);
        loop->cancel(9999); // unknown ids are ignored
        // A timer may cancel another, even one due in the same pass, and add one.
        loop->after(0.01, [&] {
            loop->cancel(victim);
            loop->after(0.1, [&] { fired.add("added"); });
        });
        victim = loop->after(0.01, [&] { fired.add("victim"); });
    });
    ASSERT_TRUE(this->driver.runUntil(*loop, [&] { return fired.get().size() == 6; }, 3));
    EXPECT_EQ(fired.get(), (std::vector<std::string>{"now", "first", "same-1", "same-2", "late", "added"}));
    EXPECT_GE(lateAt - start, 0.06 - 1e-9) << "a timer never fires before its time";
}

// Shutdown: the listen thread waits in postAndWait while the main thread
// wants it gone. A stop request, or the end of the loop, must answer the
// waiter (false), and a task left behind must never run.
TYPED_TEST_P(MainLoopContract, StopRequestsAndTheLoopsEndReleaseWaitersWhoseTasksNeverRun)
{
    for (bool byStop : {true, false}) {
        SCOPED_TRACE(byStop ? "stop request" : "end of the loop");
        auto loop = this->driver.make(false);
        std::stop_source stop;
        std::atomic<int> result{-1};
        std::atomic<bool> ran{false}, asked{false};
        std::thread other([&] {
            asked = true;
            result = loop->postAndWait([&] { ran = true; }, stop.get_token()) ? 1 : 0;
        });
        while (!asked)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(result, -1) << "the waiter returned before its task ran";
        if (byStop) {
            stop.request_stop();
        } else {
            loop->post([&] { ran = true; }); // dropped with the loop
            loop.reset();
        }
        other.join();
        EXPECT_EQ(result, 0);
        if (loop)
            this->driver.drain(*loop);
        EXPECT_FALSE(ran);
    }
}

// The finder's listen thread waits for a datagram's handler, and that handler
// may destroy the finder, whose destructor stops and joins the listen thread.
// Unless the stop also releases the waiter of the running task, the join on
// the main thread waits for a thread that waits for the main thread.
TYPED_TEST_P(MainLoopContract, AStopFromInsideTheRunningTaskReleasesAWaiterThatAllowsIt)
{
    auto loop = this->driver.make(false);
    std::stop_source stop;
    std::atomic<int> result{-1};
    std::atomic<bool> joinedInside{false}, finished{false};
    std::thread other([&] {
        result = loop->postAndWait(
                     [&] {
                         stop.request_stop();
                         other.join(); // the waiter has returned while this task still runs
                         joinedInside = true;
                         finished = result == 0;
                     },
                     stop.get_token(), platform::MainLoop::StopEnds::Running)
                     ? 1
                     : 0;
    });
    for (int i = 0; i < 3000 && !joinedInside; ++i) {
        this->driver.drain(*loop);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(joinedInside);
    EXPECT_TRUE(finished) << "the released waiter reports that its task did not run to its end";
}

REGISTER_TYPED_TEST_SUITE_P(MainLoopContract, PostedTasksRunOnTheMainThreadInPostingOrderNeverInline,
                            PostAndWaitRunsOnTheMainThreadAndWaitsInlineThere,
                            TimersFireInDueOrderEqualTimesInCreationOrderAndCancelWorks,
                            StopRequestsAndTheLoopsEndReleaseWaitersWhoseTasksNeverRun,
                            AStopFromInsideTheRunningTaskReleasesAWaiterThatAllowsIt);

} // namespace fieldmon::test
