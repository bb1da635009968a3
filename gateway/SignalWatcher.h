#pragma once
// SIGTERM and SIGINT run a callback on the main thread (the gateway then
// publishes "offline" and stops). A second signal acts as the default
// would, so a stuck gateway can still be stopped.
//
// Thread rule: construct and destroy on the main thread; the signal
// handler only writes one byte into a pipe that the main thread watches.

#include <functional>
#include <memory>

class QSocketNotifier;

namespace fieldmon::gateway {

class SignalWatcher {
public:
    explicit SignalWatcher(std::function<void()> onSignal);
    ~SignalWatcher();

    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace fieldmon::gateway
