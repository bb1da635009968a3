#include "platform/TimerQueue.h"

namespace fieldmon::platform {

MainLoop::TimerId TimerQueue::add(double due, MainLoop::Task fn)
{
    MainLoop::TimerId id = nextId_++;
    timers_.emplace(Key{due, id}, std::move(fn));
    ids_.emplace(id, due);
    return id;
}

void TimerQueue::cancel(MainLoop::TimerId id)
{
    auto it = ids_.find(id);
    if (it == ids_.end())
        return;
    timers_.erase(Key{it->second, id});
    ids_.erase(it);
}

std::optional<double> TimerQueue::nextDue() const
{
    if (timers_.empty())
        return std::nullopt;
    return timers_.begin()->first.first;
}

std::optional<std::pair<double, MainLoop::Task>> TimerQueue::popDue(double now)
{
    if (timers_.empty() || timers_.begin()->first.first > now)
        return std::nullopt;
    auto node = timers_.extract(timers_.begin());
    ids_.erase(node.key().second);
    return std::pair{node.key().first, std::move(node.mapped())};
}

} // namespace fieldmon::platform
