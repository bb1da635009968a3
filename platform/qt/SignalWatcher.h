#pragma once
// SIGTERM and SIGINT run a callback on the main thread (the app and the
// gateway quit their event loop, and shut down as after a normal quit: the
// gateway publishes "offline" first). A second signal acts as the default
// would, so a stuck program can still be stopped; the handler stays
// installed until then, also while the program is ending after the
// watcher has gone.
//
// Thread rule: construct and destroy on the main thread; the signal
// handler only writes one byte into a pipe that the main thread watches.

#include <functional>
#include <memory>

class QSocketNotifier;

namespace fieldmon::platform {

class SignalWatcher {
public:
    explicit SignalWatcher(std::function<void()> onSignal);
    ~SignalWatcher();

    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace fieldmon::platform
