#pragma once
// Turning a block of one-second aggregates from full precision (OpenBlock)
// into its compact form (SecondBlock) and back; see SecondBlock for the
// format and its precision.
//
// Thread rule: functions of their arguments; any thread.

#include "history/ChunkPool.h"

namespace fieldmon::history {

struct Aggregate {
    double min = 0;
    double max = 0;
    double mean = 0;
    double last = 0;
};

void quantise(const OpenBlock& from, SecondBlock& to);
// Back to full precision as far as the block still knows it (counts of 1).
void unquantise(const SecondBlock& from, OpenBlock& to);
// Second `i` of the block; it must be present.
Aggregate decode(const SecondBlock& block, int i);
// A number without a fractional part (all of them from 2^53 on).
inline bool isWhole(double v)
{
    return !(v > -9007199254740992.0 && v < 9007199254740992.0) ||
           v == static_cast<double>(static_cast<long long>(v));
}

} // namespace fieldmon::history
