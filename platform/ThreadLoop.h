#pragma once
// A real-time main loop on a std::condition_variable, for headless tools and
// integration tests. The thread that calls run() (or the thread start() makes)
// is the main thread; before that, the constructing thread is.
//
// Thread rule: post(), postAndWait(), quit(), now() from any thread; after()
// and cancel() too (guarded by the loop's mutex), though callers keep to the
// main thread as the MainLoop contract says.

#include "platform/MainLoop.h"
#include "platform/TimerQueue.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace fieldmon::platform {

class ThreadLoop final : public MainLoop {
public:
    ThreadLoop();
    ~ThreadLoop() override; // quits, joins a started thread, drops pending tasks

    ThreadLoop(const ThreadLoop&) = delete;
    ThreadLoop& operator=(const ThreadLoop&) = delete;

    // Runs tasks and timers on the calling thread until quit().
    void run();
    // Runs the loop on a new thread of its own.
    void start();
    // Ends run() after the task in progress; tasks still queued are dropped
    // (their postAndWait callers return false).
    void quit();

    void post(Task fn) override;
    TimerId after(double seconds, Task fn) override;
    void cancel(TimerId id) override;
    double now() const override;
    bool isMainThread() const override;

private:
    void dropPending();

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Task> tasks_;
    TimerQueue timers_;
    bool quit_ = false;
    std::atomic<std::thread::id> mainThread_;
    std::thread thread_;
};

} // namespace fieldmon::platform
