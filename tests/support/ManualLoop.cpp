#include "support/ManualLoop.h"

namespace fieldmon::platform {

ManualLoop::ManualLoop(double start) : now_(start), mainThread_(std::this_thread::get_id()) {}

ManualLoop::~ManualLoop()
{
    std::deque<Task> tasks;
    {
        std::lock_guard lock(mutex_);
        tasks.swap(tasks_);
    }
}

std::size_t ManualLoop::runPending()
{
    std::size_t count = 0;
    for (;;) {
        std::deque<Task> batch;
        {
            std::lock_guard lock(mutex_);
            batch.swap(tasks_);
        }
        if (batch.empty())
            return count;
        for (auto& task : batch) {
            task();
            ++count;
        }
    }
}

void ManualLoop::advance(double seconds)
{
    double target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + (seconds > 0 ? seconds : 0);
    }
    runPending();
    for (;;) {
        std::optional<std::pair<double, Task>> due;
        {
            std::lock_guard lock(mutex_);
            due = timers_.popDue(target);
            if (due && due->first > now_)
                now_ = due->first;
        }
        if (!due)
            break;
        due->second();
        runPending();
    }
    std::lock_guard lock(mutex_);
    now_ = target;
}

std::size_t ManualLoop::pendingTimers() const
{
    std::lock_guard lock(mutex_);
    return timers_.size();
}

std::size_t ManualLoop::pendingTasks() const
{
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

void ManualLoop::post(Task fn)
{
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(fn));
}

MainLoop::TimerId ManualLoop::after(double seconds, Task fn)
{
    std::lock_guard lock(mutex_);
    return timers_.add(now_ + (seconds > 0 ? seconds : 0), std::move(fn));
}

void ManualLoop::cancel(TimerId id)
{
    std::lock_guard lock(mutex_);
    timers_.cancel(id);
}

double ManualLoop::now() const
{
    std::lock_guard lock(mutex_);
    return now_;
}

bool ManualLoop::isMainThread() const
{
    return std::this_thread::get_id() == mainThread_;
}

} // namespace fieldmon::platform
