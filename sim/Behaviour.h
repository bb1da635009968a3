#pragma once
// Behaviour: how a simulated variable moves over time, so that the pages of
// the app visibly change: a constant, a saw-tooth ramp, a sine, a square wave
// or a bounded random walk. Values are in the variable's own units.
//
// Thread rule: one owner (the simulator's loop thread).

#include "sim/DeviceConfig.h"

#include <random>

namespace fieldmon::sim {

class Behaviour {
public:
    Behaviour(const BehaviourSpec& spec, std::uint32_t seed);

    // The value at `t` seconds after the simulation started. A random walk
    // takes one step per call, so call it once per update.
    double valueAt(double t);

    double every() const { return spec_.every; }

private:
    BehaviourSpec spec_;
    std::mt19937 random_;
    double walk_;
};

} // namespace fieldmon::sim
