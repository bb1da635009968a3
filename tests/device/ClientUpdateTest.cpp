#include "device/ClientUpdate.h"
#include "variables/RemoteData.h"

#include "SchedulerFixture.h"

#include <cmath>
#include <limits>

using namespace fieldmon;
using fieldmon::test::CountingWidget;

TEST(ClientUpdate, RateTexts)
{
    const double never = std::numeric_limits<double>::infinity();
    struct Case {
        const char* text;
        bool once;
        double rate;
    };
    const Case cases[] = {
        {"1", false, 1},
        {"0.5", false, 0.5},
        {"  2.5s", false, 2.5},
        {"+3", false, 3},
        {"-1", false, -1},
        {"1e-1", false, 0.1},
        {"2E1x", false, 20},
        {".5", false, 0.5},
        {"5.", false, 5},
        {"1e", false, 1},
        {"1e+", false, 1},
        {"1,5", false, 1}, // the decimal point is always '.', whatever the locale
        {"abc", false, 0},
        {"-", false, 0},
        {"nan", false, 0},
        {"inf", false, 0},
        {"0x10", false, 0},
        {"1e999", false, never},
        {"1e-999", false, 0},
        {"once", true, never},
        {"every 2 s once", true, never},
        {"once load", true, never},
        {"load", false, never},
        {"reload 5", false, never},
        {"", false, 0},    // present but blank: no number
        {" \t", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto r = ClientUpdate::parseUpdateRate(c.text);
        EXPECT_EQ(r.scheduleOnce, c.once);
        if (std::isinf(c.rate))
            EXPECT_EQ(r.updateRate, c.rate);
        else
            EXPECT_DOUBLE_EQ(r.updateRate, c.rate);
    }
    // A 400-digit number without exponent is too large, not 0.
    EXPECT_TRUE(std::isinf(ClientUpdate::parseUpdateRate(std::string(400, '9')).updateRate));
}

struct ClientUpdateFixture : fieldmon::test::SchedulerFixture {};

TEST_F(ClientUpdateFixture, BindingRegistersWithItsExpressionAndLetsGo)
{
    auto w = widget();
    auto e = compile("temp");
    {
        ClientUpdate u(e, ClientUpdate::notifierFor(w, &CountingWidget::update),
                       ClientUpdate::redrawFor(w, &CountingWidget::isVisible), "2", s.loop.now());
        EXPECT_EQ(e->clientUpdate(), &u);
        EXPECT_EQ(u.nextUpdate(), s.loop.now()); // due at once
        EXPECT_TRUE(u.needsReschedule());
        EXPECT_TRUE(u.needsUpdate());
        u.updateDate(s.loop.now());
        EXPECT_DOUBLE_EQ(u.nextUpdate(), s.loop.now() + 2);
        EXPECT_EQ(w.use_count(), 3); // both callables keep the widget alive
        u.updateTarget();
        EXPECT_EQ(w->told, 1);
    }
    EXPECT_EQ(e->clientUpdate(), nullptr);
    EXPECT_EQ(w.use_count(), 1);
}

TEST_F(ClientUpdateFixture, SecondBindingOfOneExpressionKeepsTheBackReference)
{
    // Two bindings on one expression: the first one going away used to clear
    // the back-reference the second had taken over, so the second widget was
    // never told again.
    auto e = compile("temp");
    auto first = std::make_unique<ClientUpdate>(e, nullptr, nullptr, "1", 0);
    ClientUpdate second(e, nullptr, nullptr, "1", 0);
    first.reset();
    EXPECT_EQ(e->clientUpdate(), &second);
}

TEST_F(ClientUpdateFixture, OnceBindingNeverAsksAndNoRedrawMeansNo)
{
    auto e = compile("temp");
    ClientUpdate once(e, nullptr, [] {
        ADD_FAILURE() << "a once binding's widget need not implement a redraw method";
        return true;
    }, "once", 0);
    EXPECT_FALSE(once.needsReschedule());
    ClientUpdate none(e, nullptr, nullptr, "1", 0);
    EXPECT_FALSE(none.needsUpdate());
    none.updateTarget(); // no notifier: nothing to call, no crash
    EXPECT_EQ(none.timesTold(), 1u);
}

TEST_F(ClientUpdateFixture, ArrayWalkedPastTheElementCacheIsToldEveryValue)
{
    // Past the element cache's 1,024 entries each resolve once made a fresh
    // element, so the reply never reached the one the expression read: the
    // binding was never told and every reply asked again.
    quietly([&] { client->variables().parseVariableDeclaration("(BYTE) arr = 3;"); });
    auto w = widget();
    const int last = static_cast<int>(RemoteData::kMaxCachedElements) + 8;
    for (int k = 1; k <= last; ++k) {
        auto e = compile("arr[" + std::to_string(k) + "]");
        quietly([&] {
            client->scheduler().bind(e, w, &CountingWidget::update, w, &CountingWidget::isVisible, "once");
            client->variables().requests().submitRequests();
        });
        ASSERT_LE(answerAll(4), 2) << k; // the address once, then the value
        ASSERT_EQ(w->told, k);
        ASSERT_EQ(e->intValue(), static_cast<std::int8_t>(0x1C0 + k)) << k; // arr lives at 0x1C0
    }
}
