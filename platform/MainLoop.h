#pragma once
// The main loop that every core object reaches the main thread through.
//
// Thread rule: post(), postAndWait() and now() may be called from any thread.
// after() and cancel() are main-thread only. Implementations: ThreadLoop (real
// time), ManualLoop (virtual time for tests) and the Qt adapter in platform/qt/.

#include <cstdint>
#include <functional>
#include <stop_token>

namespace fieldmon::platform {

class MainLoop {
public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t;

    virtual ~MainLoop() = default;

    // Queues fn to run on the main thread in posting order. Never runs it inline.
    virtual void post(Task fn) = 0;

    // Which waits a stop request ends.
    enum class StopEnds {
        // Only a wait for fn that has not started (fn is then never run).
        // Once fn has started, the wait lasts until it returns, so fn may
        // borrow from the waiter: what it captures stays valid for its run.
        Pending,
        // Also a wait for fn that is running. For a waiter that fn itself may
        // stop and then wait for (a thread joined from inside fn). fn must
        // own everything it uses: its waiter may be gone before it returns.
        Running,
    };

    // Runs fn on the main thread and waits until it has finished. Runs inline
    // when called on the main thread. Returns true when fn ran; false when it
    // was dropped (the loop went away) or when `stop` ended the wait (see
    // StopEnds).
    bool postAndWait(Task fn, std::stop_token stop = {}, StopEnds ends = StopEnds::Pending);

    // One-shot timer: fn runs on the main thread `seconds` from now (negative
    // counts as 0). Timers due at the same time fire in creation order.
    virtual TimerId after(double seconds, Task fn) = 0;

    // Cancels a timer that has not fired yet; unknown or fired ids are ignored.
    virtual void cancel(TimerId id) = 0;

    // Monotonic time in seconds. Only differences mean anything.
    virtual double now() const = 0;

    virtual bool isMainThread() const = 0;
};

} // namespace fieldmon::platform
