#pragma once
// ReloadPacer: runs a screen's reload at most once every kIntervalSeconds.
// A request after a quiet spell reloads at once; requests that come sooner
// are folded into one reload at the end of the interval, so the screen
// still ends up showing the latest state. A flood of forged announcements
// (a thousand new "devices" a second, each posting "ListeningFoundNewClient")
// once kept the main thread busy rebuilding the device list.
//
// Thread rule: main thread only. The pending reload dies with the pacer.

#include "platform/MainLoop.h"

#include <functional>
#include <optional>

namespace fieldmon {

class ReloadPacer {
public:
    static constexpr double kIntervalSeconds = 0.25;

    ReloadPacer(platform::MainLoop& loop, std::function<void()> reload) : loop_(loop), reload_(std::move(reload)) {}
    ~ReloadPacer()
    {
        if (timer_)
            loop_.cancel(timer_);
    }
    ReloadPacer(const ReloadPacer&) = delete;
    ReloadPacer& operator=(const ReloadPacer&) = delete;

    void request()
    {
        if (timer_)
            return; // one reload is due already
        const double now = loop_.now();
        if (!last_ || now - *last_ >= kIntervalSeconds || now < *last_) {
            run();
            return;
        }
        timer_ = loop_.after(*last_ + kIntervalSeconds - now, [this] {
            timer_ = 0;
            run();
        });
    }

private:
    void run()
    {
        last_ = loop_.now();
        reload_();
    }

    platform::MainLoop& loop_;
    std::function<void()> reload_;
    std::optional<double> last_;
    platform::MainLoop::TimerId timer_ = 0;
};

} // namespace fieldmon
