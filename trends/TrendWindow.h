#pragma once
// Which stretch of time a trend shows, and how gestures move it.
//
// The window has a width (a span: 1 min, 10 min, 1 h, 24 h, then whatever
// zooming made of it) and an end. While it follows, the end is the present
// and the window slides with it. Pause freezes the end; recording goes on
// underneath, so resume simply follows again and shows everything since.
// A drag that pans into the past freezes the window the same way; panning
// forward to the present follows again. Zoom keeps the time under the
// finger (or the mouse) where it is; while following, the present stays
// at the right edge.
//
// Times are timeline seconds (history/HistoryTypes.h).
//
// Thread rule: a plain value; main thread (the trend screen).

#include <utility>

namespace fieldmon::trends {

class TrendWindow {
public:
    enum class Span { Minute, TenMinutes, Hour, Day };
    static constexpr double kMinWidth = 10;          // seconds
    static constexpr double kMaxWidth = 7 * 86'400;  // what the disk keeps

    static double seconds(Span span);

    // A new span sets the width; the end stays (the present, when following).
    void setSpan(Span span);
    Span span() const { return span_; }
    double width() const { return width_; }

    bool following() const { return following_; }
    bool paused() const { return !following_; }
    void pause(double now);
    void resume() { following_ = true; }

    // Scales the width by `factor` (below 1 zooms in) about time `anchor`.
    void zoom(double factor, double anchor, double now);
    // Moves the window `seconds` into the past (negative: toward now).
    void pan(double seconds, double now);

    // [from, to] at time `now`.
    std::pair<double, double> window(double now) const;

private:
    Span span_ = Span::TenMinutes;
    double width_ = 600;
    bool following_ = true;
    double end_ = 0; // when not following
};

} // namespace fieldmon::trends
