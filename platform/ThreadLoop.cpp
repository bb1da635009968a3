#include "platform/ThreadLoop.h"

#include <chrono>
#include <future>

namespace fieldmon::platform {

ThreadLoop::ThreadLoop() : mainThread_(std::this_thread::get_id()) {}

ThreadLoop::~ThreadLoop()
{
    quit();
    if (thread_.joinable())
        thread_.join();
    dropPending();
}

void ThreadLoop::start()
{
    std::promise<void> started;
    auto ready = started.get_future();
    thread_ = std::thread([this, &started] {
        mainThread_ = std::this_thread::get_id();
        started.set_value();
        run();
    });
    ready.wait();
}

void ThreadLoop::run()
{
    mainThread_ = std::this_thread::get_id();
    std::unique_lock lock(mutex_);
    while (!quit_) {
        // Swap the queue out and run it unlocked, so tasks may post freely.
        if (!tasks_.empty()) {
            std::deque<Task> batch;
            batch.swap(tasks_);
            lock.unlock();
            for (auto& task : batch)
                task();
            batch.clear();
            lock.lock();
            continue;
        }
        if (auto due = timers_.popDue(now())) {
            lock.unlock();
            due->second();
            due.reset();
            lock.lock();
            continue;
        }
        if (auto next = timers_.nextDue()) {
            auto wait = std::chrono::duration<double>(*next - now());
            cv_.wait_for(lock, wait);
        } else {
            cv_.wait(lock);
        }
    }
    lock.unlock();
    dropPending();
}

void ThreadLoop::dropPending()
{
    std::deque<Task> tasks;
    TimerQueue timers;
    {
        std::lock_guard lock(mutex_);
        tasks.swap(tasks_);
        std::swap(timers, timers_);
    }
    // Destroyed outside the lock: a dropped postAndWait task wakes its waiter.
}

void ThreadLoop::quit()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
}

void ThreadLoop::post(Task fn)
{
    {
        std::lock_guard lock(mutex_);
        if (quit_)
            return; // fn is destroyed here, which releases a waiting postAndWait
        tasks_.push_back(std::move(fn));
    }
    cv_.notify_all();
}

MainLoop::TimerId ThreadLoop::after(double seconds, Task fn)
{
    TimerId id;
    {
        std::lock_guard lock(mutex_);
        id = timers_.add(now() + (seconds > 0 ? seconds : 0), std::move(fn));
    }
    cv_.notify_all();
    return id;
}

void ThreadLoop::cancel(TimerId id)
{
    std::lock_guard lock(mutex_);
    timers_.cancel(id);
}

double ThreadLoop::now() const
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool ThreadLoop::isMainThread() const
{
    return std::this_thread::get_id() == mainThread_.load();
}

} // namespace fieldmon::platform
