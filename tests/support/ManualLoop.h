#pragma once
// A main loop on a virtual clock for tests. Nothing happens until the test
// calls runPending() or advance(); the clock only moves in advance().
//
// Thread rule: the constructing thread is the main thread and is the only one
// that may call runPending()/advance()/after()/cancel(). post() and
// postAndWait() may come from any thread; a postAndWait from another thread
// blocks until the test thread runs the task.

#include "platform/MainLoop.h"
#include "platform/TimerQueue.h"

#include <deque>
#include <mutex>
#include <thread>

namespace fieldmon::platform {

class ManualLoop final : public MainLoop {
public:
    explicit ManualLoop(double start = 1000.0);
    ~ManualLoop() override;

    // Runs posted tasks until none are left (tasks posted meanwhile included).
    // Returns how many ran.
    std::size_t runPending();

    // Moves the clock forward by `seconds`, firing due timers in order. The
    // clock stands at each timer's due time while it fires, and posted tasks
    // run before and after every timer.
    void advance(double seconds);

    std::size_t pendingTimers() const;
    std::size_t pendingTasks() const;

    void post(Task fn) override;
    TimerId after(double seconds, Task fn) override;
    void cancel(TimerId id) override;
    double now() const override;
    bool isMainThread() const override;

private:
    mutable std::mutex mutex_;
    std::deque<Task> tasks_;
    TimerQueue timers_;
    double now_;
    std::thread::id mainThread_;
};

} // namespace fieldmon::platform
