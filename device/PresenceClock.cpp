#include "device/PresenceClock.h"

#include <cmath>

namespace fieldmon {

PresenceClock::PresenceClock() : lastHeardTime_(std::nan("")), probeTime_(std::nan("")) {}

std::optional<double> PresenceClock::lastHeardTime() const
{
    double t = lastHeardTime_.load();
    if (std::isnan(t))
        return std::nullopt;
    return t;
}

void PresenceClock::setLastHeardTime(double t)
{
    lastHeardTime_ = t;
}

void PresenceClock::takeLastHeardTime(const PresenceClock& other)
{
    lastHeardTime_ = other.lastHeardTime_.load();
}

void PresenceClock::noteProbe(double t)
{
    // Only the first unanswered probe counts: a device that answers none
    // has been silent since then.
    if (!unansweredProbeSince())
        probeTime_ = t;
}

std::optional<double> PresenceClock::unansweredProbeSince() const
{
    double probe = probeTime_.load();
    if (std::isnan(probe))
        return std::nullopt;
    double heard = lastHeardTime_.load();
    if (!std::isnan(heard) && heard >= probe)
        return std::nullopt;
    return probe;
}

} // namespace fieldmon
