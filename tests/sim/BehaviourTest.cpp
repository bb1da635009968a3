#include "sim/Behaviour.h"

#include <gtest/gtest.h>

using namespace fieldmon::sim;

namespace {

BehaviourSpec spec(BehaviourSpec::Kind kind, double low, double high, double period)
{
    BehaviourSpec s;
    s.kind = kind;
    s.low = low;
    s.high = high;
    s.period = period;
    return s;
}

} // namespace

TEST(Behaviour, PeriodicShapes)
{
    struct Case {
        BehaviourSpec spec;
        double t;
        double want;
    };
    BehaviourSpec constant;
    constant.value = 42;
    BehaviourSpec shifted = spec(BehaviourSpec::Kind::Ramp, 0, 100, 10);
    shifted.phase = 0.5;
    BehaviourSpec shortDuty = spec(BehaviourSpec::Kind::Square, 0, 1, 10);
    shortDuty.duty = 0.2;
    const std::vector<Case> cases = {
        {constant, 123, 42},
        {spec(BehaviourSpec::Kind::Ramp, 0, 100, 10), 0, 0},
        {spec(BehaviourSpec::Kind::Ramp, 0, 100, 10), 2.5, 25},
        {spec(BehaviourSpec::Kind::Ramp, 0, 100, 10), 12.5, 25}, // repeats
        {spec(BehaviourSpec::Kind::Ramp, 100, 0, 10), 2.5, 75},  // falling ramp
        {shifted, 0, 50},
        {spec(BehaviourSpec::Kind::Sine, 10, 30, 8), 0, 20},
        {spec(BehaviourSpec::Kind::Sine, 10, 30, 8), 2, 30},
        {spec(BehaviourSpec::Kind::Sine, 10, 30, 8), 6, 10},
        {spec(BehaviourSpec::Kind::Square, 0, 1, 10), 4.9, 1},
        {spec(BehaviourSpec::Kind::Square, 0, 1, 10), 5.1, 0},
        {shortDuty, 1.9, 1},
        {shortDuty, 2.1, 0},
    };
    for (const Case& c : cases) {
        Behaviour b(c.spec, 1);
        EXPECT_NEAR(b.valueAt(c.t), c.want, 1e-9) << "t=" << c.t;
    }
}

TEST(Behaviour, RandomWalkStaysInBoundsAndMoves)
{
    BehaviourSpec s = spec(BehaviourSpec::Kind::RandomWalk, -5, 5, 1);
    s.step = 2;
    s.start = 4;
    Behaviour b(s, 7);
    double previous = 4;
    int moved = 0;
    for (int i = 0; i < 1000; ++i) {
        const double v = b.valueAt(i);
        ASSERT_GE(v, -5);
        ASSERT_LE(v, 5);
        ASSERT_LE(std::abs(v - previous), 2 + 1e-9) << "a step is at most `step`";
        moved += v != previous;
        previous = v;
    }
    EXPECT_GT(moved, 900);

    // The same seed gives the same walk, so a device behaves the same every run.
    Behaviour again(s, 7);
    Behaviour first(s, 7);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(first.valueAt(i), again.valueAt(i));
}
