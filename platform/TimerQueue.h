#pragma once
// Ordered one-shot timers shared by ThreadLoop and ManualLoop: earliest due
// time first, equal due times in creation order, cancellation by id.
//
// Thread rule: not synchronised; the owning loop guards it.

#include "platform/MainLoop.h"

#include <map>
#include <optional>
#include <utility>

namespace fieldmon::platform {

class TimerQueue {
public:
    MainLoop::TimerId add(double due, MainLoop::Task fn);
    void cancel(MainLoop::TimerId id);

    // Due time of the earliest timer, if any.
    std::optional<double> nextDue() const;

    // Removes and returns the earliest timer if it is due at or before `now`.
    std::optional<std::pair<double, MainLoop::Task>> popDue(double now);

    std::size_t size() const { return timers_.size(); }
    void clear() { timers_.clear(); ids_.clear(); }

private:
    // Key (due, sequence number) keeps equal due times in creation order;
    // the sequence number doubles as the timer id.
    using Key = std::pair<double, MainLoop::TimerId>;
    std::map<Key, MainLoop::Task> timers_;
    std::map<MainLoop::TimerId, double> ids_;
    MainLoop::TimerId nextId_ = 1;
};

} // namespace fieldmon::platform
