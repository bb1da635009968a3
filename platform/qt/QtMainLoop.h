#pragma once
// The main loop of the app: platform::MainLoop on the Qt event loop of the
// thread that creates it (the GUI thread).
//
// post() queues the task as a queued invocation on a private context object,
// so tasks run in posting order between other Qt events; postAndWait() (from
// the base) waits on top of that. Timers share one precise QTimer that is
// re-armed for the earliest due time of a TimerQueue, so timers due at the
// same time fire in creation order, as on every other loop.
//
// Thread rule: post(), postAndWait(), now() and isMainThread() from any
// thread; after() and cancel() on the main thread only. Destroy on the main
// thread: tasks still queued then are dropped (their waiters return false).

#include "platform/MainLoop.h"
#include "platform/TimerQueue.h"

#include <QElapsedTimer>

#include <memory>

class QObject;
class QTimer;

namespace fieldmon::platform {

class QtMainLoop final : public MainLoop {
public:
    QtMainLoop();
    ~QtMainLoop() override;

    QtMainLoop(const QtMainLoop&) = delete;
    QtMainLoop& operator=(const QtMainLoop&) = delete;

    void post(Task fn) override;
    TimerId after(double seconds, Task fn) override;
    void cancel(TimerId id) override;
    double now() const override;
    bool isMainThread() const override;

    std::size_t pendingTimers() const { return timers_.size(); }

private:
    struct Gate;
    void rearm();
    void fireDue();

    std::shared_ptr<Gate> gate_;
    QObject* context_ = nullptr;
    QTimer* timer_ = nullptr;
    TimerQueue timers_;
    QElapsedTimer clock_;
};

} // namespace fieldmon::platform
