#pragma once
// The wall clock along the timeline: which wall time a timeline instant is
// labelled with. Most of the time the wall clock runs with the monotonic
// one and the offset between them stays put; when someone sets the clock,
// or time synchronisation steps it, the offset jumps. Each jump starts a new
// segment, so samples keep their order and spacing (timeline) while their
// labels follow the wall clock that was in force when they arrived.
//
// Offsets that drift by less than kJumpMs from the segment in force are
// taken as the same segment (slewing, rounding). The list keeps at most
// `capacity` segments; the oldest goes first, and its samples are then
// labelled by the next older segment still kept.
//
// Thread rule: main thread only (owned by the history store).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fieldmon::history {

class ClockSegments {
public:
    static constexpr std::int64_t kJumpMs = 2000;

    explicit ClockSegments(std::size_t capacity = 64);

    // A wall reading taken at timeline instant `tMs`. Readings mostly come
    // in timeline order; older ones (history loaded from disk) are placed
    // where they belong.
    void note(std::int64_t tMs, std::int64_t wallMs);

    // The wall time a timeline instant is labelled with; the timeline itself
    // before the first reading.
    std::int64_t wallAt(std::int64_t tMs) const;

    std::size_t size() const { return segments_.size(); }

private:
    struct Segment {
        std::int64_t fromMs;
        std::int64_t offsetMs; // wall − timeline
    };
    // The segment in force at tMs, or null before the first.
    const Segment* at(std::int64_t tMs) const;

    std::size_t capacity_;
    std::vector<Segment> segments_; // by fromMs
};

} // namespace fieldmon::history
