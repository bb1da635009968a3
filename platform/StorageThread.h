#pragma once
// The storage thread: the one thread that touches files for history and
// recording, so that the main thread never waits on a disk.
//
// Work arrives as jobs (std::function<void()>) in named queues, each with a
// capacity. A job carries a weight (1 by default; a recorder may pass its
// bytes): a queue accepts a job only while the weights waiting in it stay
// within its capacity. When a queue is full, tryPush refuses the whole job
// and counts it as dropped; nothing is ever cut in half. The thread takes
// one job at a time from the queues in turn (round robin), so a busy queue
// cannot starve a quiet one, and runs it without holding any lock.
//
//   platform::StorageThread storage;
//   auto history = storage.addQueue("history", 8);
//   if (!storage.tryPush(history, [batch = std::move(batch)] { write(batch); }))
//       ++batchesLost; // full: the job (and what it captured) is gone
//
// Shutdown: stop(Shutdown::Drain) runs every job still queued, then joins;
// stop(Shutdown::Drop) lets the job in progress finish, discards and counts
// the rest, then joins. Either way, pushes made after stop() are refused and
// counted as dropped. Jobs must not wait for the main thread unconditionally:
// a job that needs the main thread posts to it, or uses
// MainLoop::postAndWait(fn, storage.stopToken()), which stop() releases
// before it joins. That is why stop() cannot deadlock with a job that waits
// for a main thread that is itself stopping the storage thread.
//
// Dropped and discarded jobs are destroyed outside the lock (their captures
// may be large or may post), on the thread that dropped them: the pusher for
// a refused push, the stopping thread for discarded ones.
//
// Thread rule: every call from any thread, with two exceptions. stop() on
// the storage thread itself (from inside a job) only asks the thread to end;
// the join then happens in the destructor. The destructor must not run on
// the storage thread (checked).

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace fieldmon::platform {

class StorageThread {
public:
    using Job = std::function<void()>;

    // A queue of this thread, as addQueue() returned it.
    struct QueueId {
        std::uint32_t index = 0;
    };

    struct QueueStats {
        std::string name;
        std::size_t capacity = 0;
        std::size_t waitingWeight = 0; // weight of the jobs waiting now
        std::size_t waitingJobs = 0;
        std::uint64_t accepted = 0;  // pushes taken
        std::uint64_t ran = 0;       // jobs run to their end
        std::uint64_t dropped = 0;   // pushes refused: queue full, too heavy, or after stop()
        std::uint64_t discarded = 0; // accepted, then thrown away by stop(Shutdown::Drop)
    };

    enum class Shutdown { Drain, Drop };

    // Starts the thread.
    StorageThread();
    // stop(Shutdown::Drain) unless stopped before.
    ~StorageThread();

    StorageThread(const StorageThread&) = delete;
    StorageThread& operator=(const StorageThread&) = delete;

    // A new queue. The name is for stats and diagnostics only.
    QueueId addQueue(std::string name, std::size_t capacity);

    // Queues `job` unless the queue's waiting weight plus `weight` would pass
    // its capacity, or the thread is stopping. Never waits for a job to run.
    // On refusal the job is destroyed before this returns, and false comes back.
    bool tryPush(QueueId queue, Job job, std::size_t weight = 1);

    QueueStats stats(QueueId queue) const;

    // Ends the thread as described at the top; later calls do nothing.
    void stop(Shutdown how);

    // Requested when stop() begins; jobs pass it to MainLoop::postAndWait.
    std::stop_token stopToken() const { return stopSource_.get_token(); }

    bool isStorageThread() const { return std::this_thread::get_id() == threadId_.load(); }

    // Waits until no job waits or runs, or `seconds` pass; true when idle.
    // For tests and tools: the app's main thread never calls it.
    bool waitIdle(double seconds);

private:
    struct Queue {
        std::string name;
        std::size_t capacity = 0;
        std::size_t weight = 0;
        std::deque<std::pair<Job, std::size_t>> jobs;
        std::uint64_t accepted = 0;
        std::uint64_t ran = 0;
        std::uint64_t dropped = 0;
        std::uint64_t discarded = 0;
    };

    void run();
    // The next job in round-robin order; the lock is held. False when none.
    bool takeNext(Job& job, std::uint32_t& from);
    void join();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Queue> queues_; // a deque: QueueId indexes stay valid as queues are added
    std::uint32_t next_ = 0;   // the queue to look at first
    bool running_ = false;     // a job is running now
    bool stopping_ = false;
    bool dropAll_ = false;
    std::stop_source stopSource_;
    std::mutex joinMutex_; // one joiner at a time
    std::atomic<std::thread::id> threadId_;
    std::thread thread_; // last: it starts once everything above is made
};

} // namespace fieldmon::platform
