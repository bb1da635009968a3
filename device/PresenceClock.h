#pragma once
// PresenceClock: when a device was last heard from and since when a presence
// probe to it waits for an answer, on the main loop's clock. The registry's
// presence check reads it on the listen thread while the main thread notes
// each datagram, so both times are atomics (NaN standing for "none").
//
// Thread rule: any thread.

#include <atomic>
#include <optional>

namespace fieldmon {

class PresenceClock {
public:
    PresenceClock();

    // When the last datagram from the device arrived; nullopt while nothing
    // has been heard.
    std::optional<double> lastHeardTime() const;
    void setLastHeardTime(double t);
    // Takes the other clock's last-heard time (a record that replaces
    // another); the probe is left alone.
    void takeLastHeardTime(const PresenceClock& other);

    // A probe counts as unanswered while nothing has been heard since it
    // went; the first such probe's time is kept.
    void noteProbe(double t);
    std::optional<double> unansweredProbeSince() const;

private:
    std::atomic<double> lastHeardTime_;
    std::atomic<double> probeTime_;
};

} // namespace fieldmon
