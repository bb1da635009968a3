#include "platform/StorageThread.h"

#include "platform/Check.h"

#include <chrono>

namespace fieldmon::platform {

StorageThread::StorageThread() : thread_([this] { run(); })
{
    threadId_ = thread_.get_id();
}

StorageThread::~StorageThread()
{
    FM_CHECK(!isStorageThread(), "the storage thread cannot destroy itself");
    stop(Shutdown::Drain);
}

StorageThread::QueueId StorageThread::addQueue(std::string name, std::size_t capacity)
{
    std::lock_guard lock(mutex_);
    Queue& q = queues_.emplace_back();
    q.name = std::move(name);
    q.capacity = capacity;
    return QueueId{static_cast<std::uint32_t>(queues_.size() - 1)};
}

bool StorageThread::tryPush(QueueId id, Job job, std::size_t weight)
{
    {
        std::lock_guard lock(mutex_);
        FM_CHECK(id.index < queues_.size(), "a queue of another storage thread");
        Queue& q = queues_[id.index];
        if (!stopping_ && weight <= q.capacity && q.weight <= q.capacity - weight) {
            q.jobs.emplace_back(std::move(job), weight);
            q.weight += weight;
            ++q.accepted;
            wake_.notify_one();
            return true;
        }
        ++q.dropped;
    }
    // `job` dies here, outside the lock, when this returns.
    return false;
}

StorageThread::QueueStats StorageThread::stats(QueueId id) const
{
    std::lock_guard lock(mutex_);
    FM_CHECK(id.index < queues_.size(), "a queue of another storage thread");
    const Queue& q = queues_[id.index];
    return QueueStats{q.name, q.capacity, q.weight, q.jobs.size(), q.accepted, q.ran, q.dropped, q.discarded};
}

bool StorageThread::takeNext(Job& job, std::uint32_t& from)
{
    const auto n = static_cast<std::uint32_t>(queues_.size());
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t k = (next_ + i) % n;
        Queue& q = queues_[k];
        if (q.jobs.empty())
            continue;
        job = std::move(q.jobs.front().first);
        q.weight -= q.jobs.front().second;
        q.jobs.pop_front();
        from = k;
        next_ = (k + 1) % n;
        return true;
    }
    return false;
}

void StorageThread::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (dropAll_)
            break;
        Job job;
        std::uint32_t from = 0;
        if (takeNext(job, from)) {
            running_ = true;
            lock.unlock();
            job();
            job = nullptr; // its captures go before the lock is taken again
            lock.lock();
            running_ = false;
            ++queues_[from].ran;
            idle_.notify_all();
            continue;
        }
        if (stopping_)
            break;
        wake_.wait(lock);
    }
    // Dropping: whatever still waits is discarded, counted, and destroyed
    // unlocked (a capture's destructor may push or post).
    std::vector<Job> discarded;
    for (Queue& q : queues_) {
        q.discarded += q.jobs.size();
        for (auto& [job, weight] : q.jobs)
            discarded.push_back(std::move(job));
        q.jobs.clear();
        q.weight = 0;
    }
    lock.unlock();
    discarded.clear();
    idle_.notify_all();
}

void StorageThread::stop(Shutdown how)
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (how == Shutdown::Drop)
            dropAll_ = true;
    }
    // Released before the join: a job blocked in postAndWait on this token
    // returns, so the thread can finish even while the main thread is here.
    stopSource_.request_stop();
    wake_.notify_all();
    if (isStorageThread())
        return; // the destructor joins
    join();
}

void StorageThread::join()
{
    std::lock_guard lock(joinMutex_);
    if (thread_.joinable())
        thread_.join();
}

bool StorageThread::waitIdle(double seconds)
{
    std::unique_lock lock(mutex_);
    auto isIdle = [this] {
        if (running_)
            return false;
        for (const Queue& q : queues_)
            if (!q.jobs.empty())
                return false;
        return true;
    };
    return idle_.wait_for(lock, std::chrono::duration<double>(seconds), isIdle);
}

} // namespace fieldmon::platform
