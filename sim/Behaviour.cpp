#include "sim/Behaviour.h"

#include <algorithm>
#include <cmath>

namespace fieldmon::sim {

Behaviour::Behaviour(const BehaviourSpec& spec, std::uint32_t seed) : spec_(spec), random_(seed), walk_(spec.start)
{
    if (spec_.high < spec_.low && spec_.kind == BehaviourSpec::Kind::RandomWalk)
        std::swap(spec_.low, spec_.high);
    walk_ = std::clamp(walk_, std::min(spec_.low, spec_.high), std::max(spec_.low, spec_.high));
}

double Behaviour::valueAt(double t)
{
    const double cycle = t / spec_.period + spec_.phase;
    const double frac = cycle - std::floor(cycle);
    switch (spec_.kind) {
    case BehaviourSpec::Kind::Constant:
        return spec_.value;
    case BehaviourSpec::Kind::Ramp:
        return spec_.low + (spec_.high - spec_.low) * frac;
    case BehaviourSpec::Kind::Sine: {
        const double mid = (spec_.low + spec_.high) / 2;
        const double amp = (spec_.high - spec_.low) / 2;
        return mid + amp * std::sin(2 * M_PI * frac);
    }
    case BehaviourSpec::Kind::Square:
        return frac < spec_.duty ? spec_.high : spec_.low;
    case BehaviourSpec::Kind::RandomWalk: {
        std::uniform_real_distribution<double> move(-spec_.step, spec_.step);
        walk_ = std::clamp(walk_ + move(random_), spec_.low, spec_.high);
        return walk_;
    }
    }
    return 0;
}

} // namespace fieldmon::sim
