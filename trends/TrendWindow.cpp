#include "trends/TrendWindow.h"

#include <algorithm>

namespace fieldmon::trends {

double TrendWindow::seconds(Span span)
{
    switch (span) {
    case Span::Minute:
        return 60;
    case Span::TenMinutes:
        return 600;
    case Span::Hour:
        return 3600;
    case Span::Day:
        return 86'400;
    }
    return 600;
}

void TrendWindow::setSpan(Span span)
{
    span_ = span;
    width_ = seconds(span);
}

void TrendWindow::pause(double now)
{
    if (!following_)
        return;
    following_ = false;
    end_ = now;
}

void TrendWindow::zoom(double factor, double anchor, double now)
{
    if (!(factor > 0))
        return;
    const auto [from, to] = window(now);
    const double width = std::clamp(width_ * factor, kMinWidth, kMaxWidth);
    if (!following_) {
        // The anchor keeps its place across the window; the end never
        // passes the present.
        const double share = to > from ? std::clamp((anchor - from) / (to - from), 0.0, 1.0) : 1.0;
        end_ = std::min(anchor + (1 - share) * width, now);
    }
    width_ = width;
}

void TrendWindow::pan(double seconds, double now)
{
    const double end = (following_ ? now : end_) - seconds;
    if (end >= now) {
        following_ = true;
        return;
    }
    following_ = false;
    end_ = end;
}

std::pair<double, double> TrendWindow::window(double now) const
{
    const double end = following_ ? now : end_;
    return {end - width_, end};
}

} // namespace fieldmon::trends
