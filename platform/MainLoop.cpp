#include "platform/MainLoop.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace fieldmon::platform {

namespace {

// Shared between the waiting thread and the task on the main thread. The task
// marks itself Running before it calls fn, so a stop request cancels a task
// that has not begun; it ends the wait for a running one only when the
// caller allowed it (`released`).
struct WaitState {
    enum class Phase { Pending, Running, Ran, Dropped, Cancelled };
    std::mutex mutex;
    std::condition_variable cv;
    Phase phase = Phase::Pending;
    bool released = false;

    void finish(Phase p)
    {
        {
            std::lock_guard lock(mutex);
            phase = p;
        }
        cv.notify_all();
    }
};

// Owns fn on its way to the main thread. If the loop destroys the task
// without running it, the destructor releases the waiter.
struct Runner {
    std::shared_ptr<WaitState> state;
    MainLoop::Task fn;

    Runner(std::shared_ptr<WaitState> s, MainLoop::Task f) : state(std::move(s)), fn(std::move(f)) {}
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    void run()
    {
        {
            std::lock_guard lock(state->mutex);
            if (state->phase != WaitState::Phase::Pending)
                return;
            state->phase = WaitState::Phase::Running;
        }
        fn();
        state->finish(WaitState::Phase::Ran);
    }

    ~Runner()
    {
        std::lock_guard lock(state->mutex);
        if (state->phase == WaitState::Phase::Pending) {
            state->phase = WaitState::Phase::Dropped;
            state->cv.notify_all();
        }
    }
};

} // namespace

bool MainLoop::postAndWait(Task fn, std::stop_token stop, StopEnds ends)
{
    if (isMainThread()) {
        if (stop.stop_requested())
            return false;
        fn();
        return true;
    }
    auto state = std::make_shared<WaitState>();
    auto runner = std::make_shared<Runner>(state, std::move(fn));
    post([runner] { runner->run(); });
    runner.reset();

    std::stop_callback onStop(stop, [state, ends] {
        std::lock_guard lock(state->mutex);
        if (state->phase == WaitState::Phase::Pending) {
            state->phase = WaitState::Phase::Cancelled;
            state->cv.notify_all();
        } else if (state->phase == WaitState::Phase::Running && ends == StopEnds::Running) {
            state->released = true;
            state->cv.notify_all();
        }
    });
    std::unique_lock lock(state->mutex);
    state->cv.wait(lock, [&] {
        return state->released ||
               (state->phase != WaitState::Phase::Pending && state->phase != WaitState::Phase::Running);
    });
    return !state->released && state->phase == WaitState::Phase::Ran;
}

} // namespace fieldmon::platform
