// Link health figures: round-trip percentiles, loss against the 1 s reply
// deadline, silence, the one-minute window and the bounded ring.

#include "device/LinkHealth.h"

#include <gtest/gtest.h>

using fieldmon::LinkHealth;

namespace {

// A device record's link: its presence clock hears every datagram, a reply
// among them, and the health reads the silence from it.
struct Link {
    fieldmon::PresenceClock clock;
    LinkHealth health{clock};
    void sent(std::uint32_t id, double t) { health.requestSent(id, t); }
    void reply(std::uint32_t id, double t)
    {
        clock.setLastHeardTime(t);
        health.replyReceived(id, t);
    }
    void heard(double t) { clock.setLastHeardTime(t); }
};

TEST(LinkHealth, Figures)
{
    struct Case {
        const char* story;
        void (*feed)(Link&);
        double now;
        std::optional<double> median, p95, loss, since;
    };
    const std::optional<double> none;
    const Case cases[] = {
        {"nothing heard yet", [](Link&) {}, 100, none, none, none, none},
        {"twenty replies of 10..200 ms",
         [](Link& h) {
             for (int i = 1; i <= 20; ++i) {
                 h.sent(i, 10 + i);
                 h.reply(i, 10 + i + 0.01 * i);
             }
         },
         40, 0.10, 0.19, 0.0, 40 - 30.2},
        {"one of four unanswered; a fifth still within its deadline is not judged",
         [](Link& h) {
             for (int i = 0; i < 5; ++i)
                 h.sent(i, 10 + i);
             for (int i : {0, 1, 3})
                 h.reply(i, 10 + i + 0.05);
         },
         14.5, 0.05, 0.05, 0.25, 14.5 - 13.05},
        {"a late reply gives a round-trip time but its request counts as lost",
         [](Link& h) {
             h.sent(7, 10);
             h.reply(7, 11.5);
         },
         20, 1.5, 1.5, 1.0, 8.5},
        {"a minute later the old requests are out of the window, the silence is not",
         [](Link& h) {
             h.sent(1, 10);
             h.reply(1, 10.2);
         },
         75, none, none, none, 64.8},
        {"a reply nobody asked for, and a second reply, change only the time heard",
         [](Link& h) {
             h.sent(1, 10);
             h.reply(1, 10.1);
             h.reply(1, 10.9);
             h.reply(99, 11);
         },
         12, 0.1, 0.1, 0.0, 1.0},
        {"an identifier that came round again answers the newest request",
         [](Link& h) {
             h.sent(5, 10); // lost
             h.sent(5, 20);
             h.reply(5, 20.3);
         },
         30, 0.3, 0.3, 0.5, 9.7},
        {"only datagrams, no requests",
         [](Link& h) {
             h.heard(3); // an announcement or an event
         },
         5, none, none, none, 2.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.story);
        Link h;
        c.feed(h);
        auto f = h.health.figures(c.now);
        auto expectNear = [](std::optional<double> got, std::optional<double> want, const char* what) {
            ASSERT_EQ(got.has_value(), want.has_value()) << what;
            if (want) {
                EXPECT_NEAR(*got, *want, 1e-9) << what;
            }
        };
        expectNear(f.rttMedian, c.median, "median");
        expectNear(f.rttP95, c.p95, "p95");
        expectNear(f.loss, c.loss, "loss");
        expectNear(f.sinceLast, c.since, "since last");
    }
}

TEST(LinkHealth, RingIsBoundedAndKeepsTheNewest)
{
    // Ten minutes at 20 requests a second, every other one answered in
    // 40 ms: the ring holds the newest requests and the figures describe the
    // last minute, not the whole run.
    Link h;
    std::uint32_t id = 0;
    double t = 0;
    for (; t < 600; t += 0.05, ++id) {
        h.sent(id, t);
        if (id % 2 == 0)
            h.reply(id, t + 0.04);
    }
    auto f = h.health.figures(t);
    EXPECT_LE(f.requests, LinkHealth::kRemembered);
    EXPECT_GT(f.requests, 900u);
    ASSERT_TRUE(f.loss);
    EXPECT_NEAR(*f.loss, 0.5, 0.01);
    ASSERT_TRUE(f.rttP95);
    EXPECT_NEAR(*f.rttP95, 0.04, 1e-9);
}

TEST(LinkHealth, TotalsAndTheUpperPercentilesCountEachAnsweredRequestOnce)
{
    // Ten requests answered in 10..100 ms, one of them twice, and one never:
    // the totals a monitoring system rates count each request and each
    // first answer once, and the percentiles take the nearest rank.
    Link h;
    for (std::uint32_t id = 1; id <= 10; ++id) {
        h.sent(id, id);
        h.reply(id, id + 0.01 * id);
    }
    h.reply(3, 3.5); // a second reply to request 3
    h.sent(11, 11);
    auto f = h.health.figures(11.5);
    EXPECT_EQ(f.requestsSentTotal, 11u);
    EXPECT_EQ(f.repliesTotal, 10u);
    EXPECT_NEAR(f.rttSumTotal, 0.55, 1e-9);
    ASSERT_TRUE(f.rttP90 && f.rttP99);
    EXPECT_NEAR(*f.rttP90, 0.09, 1e-9);
    EXPECT_NEAR(*f.rttP99, 0.10, 1e-9);
}

} // namespace
