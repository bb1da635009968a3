// The MainLoop contract against the manual and the thread loop, and what
// only the manual loop's virtual clock does.

#include "support/ManualLoop.h"
#include "platform/ThreadLoop.h"

#include "support/MainLoopContract.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace fieldmon::platform;

namespace {

// Runs `step` until done() holds or three seconds of real time passed.
template <class Step>
bool pollUntil(const std::function<bool()>& done, Step step)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (; !done() && std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(1)))
        step();
    return done();
}

struct ManualDriver {
    static constexpr const char* kName = "ManualLoop";
    std::unique_ptr<MainLoop> make(bool) { return std::make_unique<ManualLoop>(); }
    bool runUntil(MainLoop& l, const std::function<bool()>& done, double seconds)
    {
        auto& loop = static_cast<ManualLoop&>(l);
        const double end = loop.now() + seconds;
        return pollUntil(done, [&] {
            if (loop.runPending() == 0 && loop.now() < end)
                loop.advance(0.005);
        });
    }
    void onMain(MainLoop&, const std::function<void()>& fn) { fn(); }
    void drain(MainLoop& l) { static_cast<ManualLoop&>(l).runPending(); }
};

struct ThreadDriver {
    static constexpr const char* kName = "ThreadLoop";
    std::unique_ptr<MainLoop> make(bool running)
    {
        auto loop = std::make_unique<ThreadLoop>();
        if (running)
            loop->start();
        return loop;
    }
    bool runUntil(MainLoop&, const std::function<bool()>& done, double) { return pollUntil(done, [] {}); }
    void onMain(MainLoop& loop, const std::function<void()>& fn) { ASSERT_TRUE(loop.postAndWait(fn)); }
    void drain(MainLoop& l)
    {
        auto& loop = static_cast<ThreadLoop&>(l);
        if (loop.isMainThread()) // not started: the constructing thread is its main thread
            loop.start();
        loop.postAndWait([] {});
    }
};

} // namespace

namespace fieldmon::test {
using LoopDrivers = testing::Types<ManualDriver, ThreadDriver>;
INSTANTIATE_TYPED_TEST_SUITE_P(Core, MainLoopContract, LoopDrivers, LoopDriverNames);
} // namespace fieldmon::test

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
