// The trend's window: spans, pause and resume, panning and zooming.

#include "trends/TrendWindow.h"

#include <gtest/gtest.h>

#include <functional>

using fieldmon::trends::TrendWindow;

namespace {

TEST(TrendWindow, GesturesMoveTheWindow)
{
    struct Case {
        const char* story;
        std::function<void(TrendWindow&)> gestures; // at now = 1000
        double now;                                  // when the window is read
        double from, to;
        bool following;
    };
    using Span = TrendWindow::Span;
    const Case cases[] = {
        {"follows the present", [](TrendWindow& w) { w.setSpan(Span::Minute); }, 1100, 1040, 1100, true},
        {"pause freezes the end while time goes on",
         [](TrendWindow& w) {
             w.setSpan(Span::Minute);
             w.pause(1000);
         },
         1100, 940, 1000, false},
        {"resume jumps to the present",
         [](TrendWindow& w) {
             w.pause(1000);
             w.resume();
         },
         1100, 500, 1100, true},
        {"a drag into the past freezes the window",
         [](TrendWindow& w) {
             w.setSpan(Span::Hour);
             w.pan(600, 1000);
         },
         1100, -3200, 400, false},
        {"a drag back past the present follows again",
         [](TrendWindow& w) {
             w.pan(600, 1000);
             w.pan(-900, 1000);
         },
         1100, 500, 1100, true},
        {"zooming while following keeps the present at the right edge",
         [](TrendWindow& w) { w.zoom(0.5, 700, 1000); }, 1000, 700, 1000, true},
        {"zooming a paused window keeps the time under the finger in place",
         [](TrendWindow& w) {
             w.pause(1000);           // [400, 1000]
             w.zoom(0.5, 550, 1000);  // 550 is a quarter in: [475, 775]
         },
         2000, 475, 775, false},
        {"zoom stops at ten seconds", [](TrendWindow& w) { w.zoom(0.0001, 1000, 1000); }, 1000, 990, 1000, true},
        {"a span after a zoom sets the width again",
         [](TrendWindow& w) {
             w.zoom(3, 1000, 1000);
             w.setSpan(Span::Day);
         },
         1000, 1000 - 86'400, 1000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.story);
        TrendWindow w;
        c.gestures(w);
        auto [from, to] = w.window(c.now);
        EXPECT_DOUBLE_EQ(from, c.from);
        EXPECT_DOUBLE_EQ(to, c.to);
        EXPECT_EQ(w.following(), c.following);
    }
}

} // namespace
