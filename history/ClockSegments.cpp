#include "history/ClockSegments.h"

#include <algorithm>
#include <cstdlib>

namespace fieldmon::history {

ClockSegments::ClockSegments(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 2))
{
    segments_.reserve(capacity_);
}

const ClockSegments::Segment* ClockSegments::at(std::int64_t tMs) const
{
    auto it = std::upper_bound(segments_.begin(), segments_.end(), tMs,
                               [](std::int64_t t, const Segment& s) { return t < s.fromMs; });
    if (it == segments_.begin())
        return nullptr;
    return &*(it - 1);
}

void ClockSegments::note(std::int64_t tMs, std::int64_t wallMs)
{
    const std::int64_t offset = wallMs - tMs;
    // The common case, once per sample: same segment as the newest.
    if (!segments_.empty() && tMs >= segments_.back().fromMs) {
        if (std::llabs(offset - segments_.back().offsetMs) <= kJumpMs)
            return;
        if (segments_.size() == capacity_)
            segments_.erase(segments_.begin());
        segments_.push_back({tMs, offset});
        return;
    }
    const Segment* current = at(tMs);
    if (current && std::llabs(offset - current->offsetMs) <= kJumpMs)
        return;
    if (!current && !segments_.empty() && std::llabs(offset - segments_.front().offsetMs) <= kJumpMs) {
        // Older than every segment with the same offset as the first: that
        // segment simply began earlier.
        segments_.front().fromMs = tMs;
        return;
    }
    if (segments_.size() == capacity_) {
        if (!current)
            return; // older than everything kept, and no room: labelled by the oldest
        segments_.erase(segments_.begin());
    }
    auto it = std::upper_bound(segments_.begin(), segments_.end(), tMs,
                               [](std::int64_t t, const Segment& s) { return t < s.fromMs; });
    segments_.insert(it, {tMs, offset});
}

std::int64_t ClockSegments::wallAt(std::int64_t tMs) const
{
    if (const Segment* s = at(tMs))
        return tMs + s->offsetMs;
    if (!segments_.empty())
        return tMs + segments_.front().offsetMs;
    return tMs;
}

} // namespace fieldmon::history
