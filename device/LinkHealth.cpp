#include "device/LinkHealth.h"

#include <algorithm>
#include <cmath>

namespace fieldmon {

void LinkHealth::requestSent(std::uint32_t id, double time)
{
    if (!ring_)
        ring_ = std::make_unique<Ring>();
    (*ring_)[next_] = Request{id, time, -1};
    next_ = (next_ + 1) % kRemembered;
    count_ = std::min(count_ + 1, kRemembered);
    ++requestsSentTotal_;
}

void LinkHealth::replyReceived(std::uint32_t id, double time)
{
    if (!ring_)
        return;
    // Newest first: a reused identifier belongs to the latest request.
    for (std::size_t i = 1; i <= count_; ++i) {
        Request& r = (*ring_)[(next_ + kRemembered - i) % kRemembered];
        if (r.id != id)
            continue;
        if (r.replied < 0 && time >= r.sent) {
            r.replied = time;
            ++repliesTotal_;
            rttSumTotal_ += time - r.sent;
        }
        return;
    }
}

LinkHealth::Figures LinkHealth::figures(double now) const
{
    Figures f;
    f.requestsSentTotal = requestsSentTotal_;
    f.repliesTotal = repliesTotal_;
    f.rttSumTotal = rttSumTotal_;
    if (std::optional<double> last = heard_.lastHeardTime())
        f.sinceLast = std::max(0.0, now - *last);
    if (!ring_)
        return f;

    std::array<double, kRemembered> rtts;
    std::size_t lost = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        const Request& r = (*ring_)[i];
        const bool answered = r.replied >= 0;
        if (answered && r.replied > now - kWindowSeconds && r.replied <= now)
            rtts[f.replies++] = r.replied - r.sent;
        const bool judged = r.sent > now - kWindowSeconds && r.sent <= now - kReplyDeadline;
        if (!judged)
            continue;
        ++f.requests;
        if (!answered || r.replied - r.sent > kReplyDeadline)
            ++lost;
    }
    if (f.requests > 0)
        f.loss = static_cast<double>(lost) / static_cast<double>(f.requests);
    if (f.replies == 0)
        return f;

    // Nearest rank: the smallest time with at least p of the times at or below it.
    auto rank = [&](double p) {
        auto k = static_cast<std::size_t>(std::ceil(p * static_cast<double>(f.replies)));
        k = std::clamp<std::size_t>(k, 1, f.replies) - 1;
        std::nth_element(rtts.begin(), rtts.begin() + static_cast<std::ptrdiff_t>(k),
                         rtts.begin() + static_cast<std::ptrdiff_t>(f.replies));
        return rtts[k];
    };
    f.rttMedian = rank(0.5);
    f.rttP90 = rank(0.9);
    f.rttP95 = rank(0.95);
    f.rttP99 = rank(0.99);
    return f;
}

} // namespace fieldmon
