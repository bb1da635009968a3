// The storage thread: bounded queues that drop whole jobs, round robin,
// concurrent pushers, and shutdown (drain, drop, from inside a job, while a
// job waits for the main thread).

#include "support/ManualLoop.h"
#include "platform/StorageThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace fieldmon::platform;

namespace {

// Holds the storage thread inside a job until open() is called.
struct Gate {
    std::promise<void> entered;
    std::promise<void> opener;
    std::shared_future<void> opened;
    Gate() : opened(opener.get_future().share()) {}
    StorageThread::Job job()
    {
        return [this] {
            entered.set_value();
            opened.wait();
        };
    }
    void open() { opener.set_value(); }
};

TEST(StorageThread, FullQueueRefusesWholeJobsAndCountsThem)
{
    StorageThread storage;
    auto q = storage.addQueue("history", 4);
    Gate gate;
    ASSERT_TRUE(storage.tryPush(q, gate.job()));
    gate.entered.get_future().wait(); // the gate job runs: the queue is empty again

    std::vector<int> ran;
    std::mutex ranMutex;
    auto record = [&](int n) {
        return [&, n] {
            std::lock_guard lock(ranMutex);
            ran.push_back(n);
        };
    };
    // Weights: 1 + 2 fit in 4, 2 more would not, 1 more does; heavier than
    // the capacity never fits.
    struct Push {
        std::size_t weight;
        bool accepted;
    };
    const std::vector<Push> pushes = {{1, true}, {2, true}, {2, false}, {1, true}, {1, false}, {5, false}};
    auto captured = std::make_shared<int>(0);
    for (std::size_t i = 0; i < pushes.size(); ++i) {
        auto job = record(static_cast<int>(i));
        bool ok = storage.tryPush(q, [job, captured] { job(); }, pushes[i].weight);
        EXPECT_EQ(ok, pushes[i].accepted) << "push " << i;
    }
    // Refused jobs are gone at once, with what they captured.
    EXPECT_EQ(captured.use_count(), 1 + 3);
    auto s = storage.stats(q);
    EXPECT_EQ(s.waitingWeight, 4u);
    EXPECT_EQ(s.waitingJobs, 3u);
    EXPECT_EQ(s.dropped, 3u);

    gate.open();
    ASSERT_TRUE(storage.waitIdle(5));
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 3})); // in push order
    s = storage.stats(q);
    EXPECT_EQ(s.accepted, 4u);
    EXPECT_EQ(s.ran, 4u);
    EXPECT_EQ(s.waitingWeight, 0u);
}

TEST(StorageThread, QueuesTakeTurns)
{
    // A queue full of work must not hold back a queue with one job: the
    // capture file and the history batches share the thread.
    StorageThread storage;
    auto busy = storage.addQueue("capture", 100);
    auto quiet = storage.addQueue("history", 100);
    Gate gate;
    ASSERT_TRUE(storage.tryPush(busy, gate.job()));
    gate.entered.get_future().wait();
    std::vector<char> order;
    for (int i = 0; i < 5; ++i)
        storage.tryPush(busy, [&] { order.push_back('c'); });
    storage.tryPush(quiet, [&] { order.push_back('h'); });
    gate.open();
    ASSERT_TRUE(storage.waitIdle(5));
    ASSERT_EQ(order.size(), 6u);
    EXPECT_LE(std::find(order.begin(), order.end(), 'h') - order.begin(), 1);
}

TEST(StorageThread, ConcurrentPushersLoseNothingTheyWereToldWasTaken)
{
    StorageThread storage;
    auto a = storage.addQueue("a", 16);
    auto b = storage.addQueue("b", 3);
    constexpr int kThreads = 4;
    constexpr int kPushes = 5000;
    std::atomic<int> accepted{0};
    std::mutex seenMutex;
    std::set<int> seen;
    std::vector<std::thread> pushers;
    for (int t = 0; t < kThreads; ++t) {
        pushers.emplace_back([&, t] {
            for (int i = 0; i < kPushes; ++i) {
                const int tag = t * kPushes + i;
                auto job = [&, tag] {
                    std::lock_guard lock(seenMutex);
                    EXPECT_TRUE(seen.insert(tag).second) << "job " << tag << " ran twice";
                };
                if (storage.tryPush(i % 2 ? a : b, job))
                    ++accepted;
            }
        });
    }
    for (auto& p : pushers)
        p.join();
    ASSERT_TRUE(storage.waitIdle(10));
    auto sa = storage.stats(a);
    auto sb = storage.stats(b);
    EXPECT_EQ(sa.accepted + sa.dropped + sb.accepted + sb.dropped, std::uint64_t(kThreads * kPushes));
    EXPECT_EQ(sa.accepted + sb.accepted, std::uint64_t(accepted.load()));
    EXPECT_EQ(sa.ran + sb.ran, std::uint64_t(accepted.load()));
    EXPECT_EQ(seen.size(), std::size_t(accepted.load()));
}

TEST(StorageThread, ShutdownWhileBusy)
{
    // Drain runs what was queued before stop(); Drop finishes the job in
    // progress and discards the rest, counted, releasing their captures.
    // Either way, later pushes are refused.
    for (auto how : {StorageThread::Shutdown::Drain, StorageThread::Shutdown::Drop}) {
        const bool drain = how == StorageThread::Shutdown::Drain;
        SCOPED_TRACE(drain ? "drain" : "drop");
        StorageThread storage;
        auto q = storage.addQueue("q", 10);
        Gate gate;
        std::atomic<bool> gateDone{false};
        ASSERT_TRUE(storage.tryPush(q, [&] {
            gate.job()();
            gateDone = true;
        }));
        gate.entered.get_future().wait();
        std::atomic<int> ran{0};
        auto captured = std::make_shared<int>(0);
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(storage.tryPush(q, [&ran, captured] { ++ran; }));

        auto stopped = std::async(std::launch::async, [&] { storage.stop(how); });
        while (!storage.stopToken().stop_requested())
            std::this_thread::yield();
        // stop() waits for the job in progress, which has not ended.
        EXPECT_EQ(stopped.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
        EXPECT_FALSE(storage.tryPush(q, [&ran] { ++ran; }));
        gate.open();
        ASSERT_EQ(stopped.wait_for(std::chrono::seconds(5)), std::future_status::ready);

        EXPECT_TRUE(gateDone);
        EXPECT_EQ(ran, drain ? 5 : 0);
        EXPECT_EQ(captured.use_count(), 1);
        auto s = storage.stats(q);
        EXPECT_EQ(s.discarded, drain ? 0u : 5u);
        EXPECT_EQ(s.dropped, 1u);
        EXPECT_EQ(s.waitingJobs, 0u);
        storage.stop(how); // a second stop does nothing
    }
}

TEST(StorageThread, StopDoesNotDeadlockWithAJobWaitingForTheMainThread)
{
    // The main thread stops the storage thread while a job waits for the
    // main thread (postAndWait). Waiting on the stop token, the job gives up
    // and the join ends; without the token both threads would wait forever.
    ManualLoop loop; // nothing runs on this "main thread" while it is in stop()
    StorageThread storage;
    auto q = storage.addQueue("q", 4);
    std::promise<void> waiting;
    std::atomic<int> result{-1};
    ASSERT_TRUE(storage.tryPush(q, [&] {
        waiting.set_value();
        result = loop.postAndWait([] {}, storage.stopToken()) ? 1 : 0;
    }));
    waiting.get_future().wait();
    auto stopped = std::async(std::launch::async, [&] { storage.stop(StorageThread::Shutdown::Drain); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(result, 0);
    loop.runPending(); // the cancelled task does nothing
}

TEST(StorageThread, StopFromInsideAJob)
{
    // A job may end the thread (say, on an unrecoverable disk error); it
    // must not join itself. The destructor joins.
    auto storage = std::make_unique<StorageThread>();
    auto q = storage->addQueue("q", 4);
    std::atomic<bool> after{false};
    ASSERT_TRUE(storage->tryPush(q, [&] { storage->stop(StorageThread::Shutdown::Drop); }));
    ASSERT_TRUE(storage->waitIdle(5));
    EXPECT_FALSE(storage->tryPush(q, [&] { after = true; }));
    storage.reset();
    EXPECT_FALSE(after);
}

} // namespace
