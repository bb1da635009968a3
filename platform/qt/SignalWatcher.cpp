#include "platform/qt/SignalWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace fieldmon::platform {

namespace {

int wakeFds[2] = {-1, -1};

extern "C" void onSignal(int)
{
    char byte = 1;
    // Async-signal-safe; a full pipe already says "stop".
    [[maybe_unused]] ssize_t n = ::write(wakeFds[1], &byte, 1);
}

} // namespace

SignalWatcher::SignalWatcher(std::function<void()> callback)
{
    if (wakeFds[0] < 0 && ::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(wakeFds[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [callback = std::move(callback)] {
        char buffer[16];
        while (::read(wakeFds[0], buffer, sizeof buffer) > 0) {
        }
        callback();
    });
    struct sigaction action{};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

SignalWatcher::~SignalWatcher() = default;

} // namespace fieldmon::platform
