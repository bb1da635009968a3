// When a shown value counts as stale, what colour the link dot takes, and
// how stale table cells are marked.

#include "app/SessionWatch.h"
#include "app/StaleMarks.h"

#include <QGraphicsOpacityEffect>

#include <gtest/gtest.h>

#include <cmath>

using namespace fieldmon;

TEST(StaleRule, ThreeTimesTheRatePlusOneSecond)
{
    struct Case {
        double now, stored, rate;
        bool stale;
    };
    const double never = std::nan("");
    const Case cases[] = {
        {10.0, 6.1, 1.0, false}, // 3.9 s after a 1 s value: still fresh
        {10.0, 5.9, 1.0, true},  // 4.1 s: stale
        {20.0, 12.5, 2.0, true}, // 7.5 s after a 2 s value
        {20.0, 13.5, 2.0, false},
        {10.0, 8.5, 0.0, true},  // a rate of 0 still allows 1 s
        {10.0, 9.5, 0.0, false},
        // Never stored: counted from when the page opened (at 0 here).
        {3.0, never, 0.5, true},
        {2.0, never, 0.5, false},
        // "load" and "once" bind without a period: never stale.
        {1e6, 0.0, INFINITY, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "now " << c.now << " stored " << c.stored << " rate " << c.rate);
        EXPECT_EQ(SessionWatch::staleAt(c.now, c.stored, 0.0, c.rate), c.stale);
    }
}

TEST(StaleRule, LinkDotThresholds)
{
    using Dot = SessionWatch::Dot;
    auto figures = [](double since, std::optional<double> loss, std::optional<double> rtt) {
        LinkHealth::Figures f;
        f.sinceLast = since;
        f.loss = loss;
        f.rttMedian = rtt;
        return f;
    };
    EXPECT_EQ(SessionWatch::dotFor(figures(0.5, 0.0, 0.05), false), Dot::Green);
    EXPECT_EQ(SessionWatch::dotFor(figures(0.5, std::nullopt, std::nullopt), false), Dot::Green);
    // One stale value on the page makes the dot red however good the link.
    EXPECT_EQ(SessionWatch::dotFor(figures(0.5, 0.0, 0.05), true), Dot::Red);
    EXPECT_EQ(SessionWatch::dotFor(figures(3, 0.0, 0.05), false), Dot::Amber);
    EXPECT_EQ(SessionWatch::dotFor(figures(0.5, 0.1, 0.05), false), Dot::Amber);
    EXPECT_EQ(SessionWatch::dotFor(figures(0.5, 0.0, 0.5), false), Dot::Amber);
    EXPECT_EQ(SessionWatch::dotFor(figures(6, 0.0, 0.05), false), Dot::Red);
    EXPECT_EQ(SessionWatch::dotFor(figures(0.5, 0.3, 0.05), false), Dot::Red);
    EXPECT_EQ(SessionWatch::dotFor(figures(0.5, 0.0, 1.5), false), Dot::Red);
    // Nothing heard yet: red.
    EXPECT_EQ(SessionWatch::dotFor(LinkHealth::Figures{}, false), Dot::Red);
}

// Table cells are reused as the list scrolls: a cell dimmed for a stale row
// that now shows a fresh one must look fresh again at the next check, and
// nothing stays dimmed once the marks go with the session.
TEST(StaleMarks, CellsAreMarkedAnewAtEveryCheck)
{
    QWidget a, b;
    auto opacity = [](QWidget& w) {
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(w.graphicsEffect());
        return effect ? effect->opacity() : 1.0;
    };
    {
        StaleMarks marks;
        marks.markCells({&a});
        EXPECT_DOUBLE_EQ(opacity(a), StaleMarks::kDimmed);
        EXPECT_DOUBLE_EQ(opacity(b), 1.0);
        marks.markCells({&b, &b});
        EXPECT_EQ(a.graphicsEffect(), nullptr);
        EXPECT_DOUBLE_EQ(opacity(b), StaleMarks::kDimmed) << "dimmed once, however often named";
        marks.markCells({&a, &b});
    }
    EXPECT_EQ(a.graphicsEffect(), nullptr);
    EXPECT_EQ(b.graphicsEffect(), nullptr);
}
