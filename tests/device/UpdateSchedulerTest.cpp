#include "SchedulerFixture.h"

#include "expr/Scope.h"

#include <cmath>

using namespace fieldmon;
using fieldmon::test::CountingWidget;
using Sched = fieldmon::test::SchedulerFixture;

TEST_F(Sched, ConstantIsToldAtOnceAndNotKept)
{
    for (const char* text : {"3 * 4", "\"label\"", "max(1, 2.5)"}) {
        SCOPED_TRACE(text);
        auto w = widget();
        auto e = compile(text);
        client->scheduler().bind(e, w, &CountingWidget::update, w, &CountingWidget::isVisible, "1");
        EXPECT_EQ(w->told, 1); // synchronously, inside the call
        EXPECT_EQ(client->scheduler().size(), 0u);
        EXPECT_EQ(e->clientUpdate(), nullptr); // the binding is gone and let go of the expression
        EXPECT_EQ(w.use_count(), 1);
    }
    client->scheduler().start();
    EXPECT_TRUE(received().empty());
}

TEST_F(Sched, PeriodicRatesAreServicedOnTime)
{
    struct Case {
        const char* rate;
        std::vector<double> at; // seconds after start when the widget is asked
    };
    for (const Case& c : {Case{"1", {0, 1, 2, 3}}, Case{"0.5", {0, 0.5, 1, 1.5, 2, 2.5, 3}},
                          Case{"1.5 s", {0, 1.5, 3}}}) {
        SCOPED_TRACE(c.rate);
        client->scheduler().unscheduleAll();
        double start = s.loop.now();
        auto w = widget(), hidden = widget();
        hidden->visible = false;
        bind("temp", w, c.rate);
        bind("pressure", hidden, c.rate);
        client->scheduler().start();
        run(3.005);
        ASSERT_EQ(w->askedAt.size(), c.at.size());
        for (std::size_t i = 0; i < c.at.size(); ++i)
            EXPECT_NEAR(w->askedAt[i] - start, c.at[i], 1e-6) << i;
        // Each refresh got its values: the widget was told once per service,
        // plus once for the requests queued when it was scheduled.
        EXPECT_EQ(w->told, int(c.at.size()) + 1);
        // A hidden widget is still asked at its times, and moved on each
        // time, but never refreshed after the values queued at scheduling.
        EXPECT_EQ(hidden->askedAt, w->askedAt);
        EXPECT_EQ(hidden->told, 1);
    }
}

TEST_F(Sched, OnceIsQueuedAtSchedulingAndToldWhenItsValuesArrive)
{
    for (const char* rate : {"once", "every 2 s once"}) {
        SCOPED_TRACE(rate);
        client->scheduler().unscheduleAll();
        auto w = widget();
        bind("temp + level", w, rate);
        EXPECT_FALSE(client->variables().requests().addressQueue().empty() && client->variables().requests().valueQueue().empty()); // queued already
        client->scheduler().start();
        auto first = received();
        ASSERT_EQ(first.size(), 1u); // the queued requests, in the first batch

        // The first firing comes before the device has answered. It drops the
        // binding from the heap without asking the widget.
        quietly([&] { s.loop.advance(0); });
        EXPECT_EQ(client->scheduler().size(), 0u);
        EXPECT_EQ(w->asked, 0);
        EXPECT_EQ(w->told, 0);

        // The values arriving after that first firing still reach the widget:
        // the binding once died with the heap entry, its expression lost its
        // back-reference and the notifier never ran.
        for (const auto& req : first)
            answer(req);
        answerAll();
        EXPECT_EQ(w->told, 1);
        EXPECT_EQ(w->asked, 0);
        s.loop.runPending();
        EXPECT_EQ(client->scheduler().waitingOnce(), 0u); // told: let go
        EXPECT_EQ(w.use_count(), 1);
        run(3);
        EXPECT_EQ(w->told, 1);
    }
}

TEST_F(Sched, LoadIsServicedOnceAndStays)
{
    for (const char* rate : {"load", "onload"}) {
        SCOPED_TRACE(rate);
        client->scheduler().unscheduleAll();
        auto w = widget();
        bind("pressure", w, rate);
        client->scheduler().start();
        run(5);
        EXPECT_EQ(w->asked, 1);
        EXPECT_EQ(w->told, 2); // scheduling, and the first pass
        EXPECT_EQ(client->scheduler().size(), 1u);
        EXPECT_TRUE(std::isinf(client->scheduler().nextDue()));
        EXPECT_EQ(s.loop.pendingTimers(), 0u); // nothing will come due: the chain ended
        // A restarted chain's first pass services the earliest binding even
        // though it is not due. This once skipped bindings that are never
        // due again, so a restart never refreshed a "load" binding.
        client->scheduler().start();
        run(1);
        EXPECT_EQ(w->asked, 2);
        EXPECT_EQ(w->told, 3);
        EXPECT_EQ(s.loop.pendingTimers(), 0u);
    }
}

TEST_F(Sched, RatesBeyondTheTimerLimitWaitForTheirDueTime)
{
    // Timers are armed at most a day ahead. The firing at that limit once
    // serviced any binding due less than a further day later, hours early;
    // it must re-arm for the rest instead.
    ASSERT_LT(UpdateScheduler::kMaxTimerDelay, 100000.0);
    auto w = widget();
    bind("temp", w, "100000");
    client->scheduler().start();
    quietly([&] { s.loop.advance(100000.5); });
    ASSERT_EQ(w->askedAt.size(), 2u);
    EXPECT_NEAR(w->askedAt[1] - w->askedAt[0], 100000.0, 1e-6);
}

TEST_F(Sched, BindingsDueTogetherShareOneBatch)
{
    struct Case {
        const char* secondRate;
        int firingsAfterStart; // between start+0.9 s and start+1.5 s
        int valueDatagrams;
    };
    for (Case c : {Case{"1.03", 1, 1}, Case{"1.2", 2, 2}}) {
        SCOPED_TRACE(c.secondRate);
        client->scheduler().unscheduleAll();
        auto a = widget(), b = widget();
        bind("temp", a, "1");
        bind("pressure", b, c.secondRate);
        client->scheduler().start();
        run(0.9);
        std::uint64_t passes = client->scheduler().passes();
        sent.clear();
        run(0.6);
        EXPECT_EQ(client->scheduler().passes() - passes, std::uint64_t(c.firingsAfterStart));
        EXPECT_EQ(valueRequests(sent), c.valueDatagrams);
        EXPECT_EQ(a->told, 1 + 2);
        EXPECT_EQ(b->told, 1 + 2);
        if (c.valueDatagrams == 1) {
            // Both variables' items in the one datagram: "a" + id + 2 x 9 bytes.
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].size(), 2u + 18u);
        }
    }
}

TEST_F(Sched, UnscheduleAllEndsTheChainAndReleasesEverything)
{
    auto w = widget();
    std::weak_ptr<CountingWidget> weak = w;
    auto e = compile("temp");
    client->scheduler().bind(e, w, &CountingWidget::update, w, &CountingWidget::isVisible, "0.5");
    w.reset();
    client->scheduler().start();
    run(1);
    ASSERT_FALSE(weak.expired()); // the binding keeps its widget alive
    client->scheduler().unscheduleAll();
    EXPECT_EQ(client->scheduler().size(), 0u);
    EXPECT_FALSE(client->scheduler().running());
    EXPECT_EQ(s.loop.pendingTimers(), 0u);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(e->clientUpdate(), nullptr);
    sent.clear();
    run(3);
    EXPECT_TRUE(sent.empty());
}

TEST_F(Sched, RecordIsFreedOnceItsBindingsAreUnscheduled)
{
    // The cycle record -> binding -> expression -> record holds until the
    // bindings go; after unscheduleAll the record is freed with its last
    // holder. The chain's armed timer must neither keep the record alive nor,
    // when it fires, reach into freed memory (AddressSanitizer catches that).
    std::weak_ptr<Client> weak = client;
    auto w = widget();
    bind("temp", w, "1");
    client->scheduler().start();
    run(1.5);
    client->scheduler().unscheduleAll();
    client->variables().requests().clear();
    client->scheduler().start();
    ASSERT_EQ(s.loop.pendingTimers(), 1u);
    client.reset();
    EXPECT_TRUE(weak.expired());
    s.loop.advance(1);
    client = Client::create(false, s.services); // for the fixture's tear-down
}

TEST_F(Sched, TimeVariableAdvancesWithEachPass)
{
    auto w = widget();
    std::vector<double> seen;
    auto timeExpr = compile("time");
    w->onAsked = [&] { seen.push_back(timeExpr->doubleValue()); };
    run(2.5); // the record's clock starts before the page does
    bind("temp", w, "0.75");
    client->scheduler().start();
    run(1.6);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_NEAR(seen[0], 2.5, 1e-6);
    EXPECT_NEAR(seen[1], 3.25, 1e-6);
    EXPECT_NEAR(seen[2], 4.0, 1e-6);
    EXPECT_NEAR(client->expressions().time(), 4.0, 1e-6);
}

TEST_F(Sched, RatesBelowTheLookAheadAreBoundedPerPass)
{
    // A rate of 0 (also what a text without a number gives, a blank one
    // too, or a negative one) comes due again inside the look-ahead window every time; each pass
    // must still end, and firings come at most every 0.05 s. The fast binding
    // is set aside after its service, and the others keep their grouping: one
    // due 0.03 s after another is serviced in the same firing.
    for (const char* rate : {"0", "fast", "-2", "0.01", ""}) {
        SCOPED_TRACE(rate);
        client->scheduler().unscheduleAll();
        auto fast = widget(), slow = widget(), later = widget();
        bind("temp", fast, rate);
        bind("pressure", slow, "0.5");
        bind("level", later, "0.53");
        client->scheduler().start();
        std::uint64_t passes = client->scheduler().passes();
        run(1.0, 0.005);
        // Firings at 0, 0.05, ..., 1.0 at the most.
        EXPECT_LE(client->scheduler().passes() - passes, 21u);
        EXPECT_GE(fast->asked, 20);
        EXPECT_LE(fast->asked, 21);
        EXPECT_EQ(slow->asked, 3);
        EXPECT_EQ(later->askedAt, slow->askedAt);
        for (std::size_t i = 1; i < fast->askedAt.size(); ++i)
            EXPECT_GE(fast->askedAt[i] - fast->askedAt[i - 1], 0.05 - 1e-9);
    }
}

TEST_F(Sched, SecondStartRestartsTheOneChain)
{
    auto w = widget();
    bind("temp", w, "1");
    client->scheduler().start();
    client->scheduler().start();
    EXPECT_EQ(s.loop.pendingTimers(), 1u);
    run(0.5);
    client->scheduler().start(); // mid-way: services at once, then on its new beat
    EXPECT_EQ(s.loop.pendingTimers(), 1u);
    // A pass run by hand (not by the timer) does not fork a second chain either.
    client->scheduler().service();
    EXPECT_EQ(s.loop.pendingTimers(), 1u);
    run(2.6);
    // 0, 0.5 (restart), 1.5, 2.5 and nothing doubled.
    ASSERT_EQ(w->askedAt.size(), 4u);
    double t0 = w->askedAt[0];
    EXPECT_NEAR(w->askedAt[1] - t0, 0.5, 1e-6);
    EXPECT_NEAR(w->askedAt[2] - t0, 1.5, 1e-6);
    EXPECT_NEAR(w->askedAt[3] - t0, 2.5, 1e-6);
}

TEST_F(Sched, CallbacksMayChangeTheSchedulerDuringAPass)
{
    // A widget that leaves the device's pages from inside its redraw request:
    // the pass stops at once and puts nothing back.
    {
        auto a = widget(), b = widget();
        bind("temp", a, "1");
        bind("pressure", b, "1");
        a->onAsked = [&] { client->scheduler().unscheduleAll(); };
        b->onAsked = [&] { client->scheduler().unscheduleAll(); };
        client->scheduler().start();
        run(2);
        EXPECT_EQ(a->asked + b->asked, 1);
        EXPECT_EQ(client->scheduler().size(), 0u);
        EXPECT_EQ(s.loop.pendingTimers(), 0u);
    }
    // A notifier that schedules more bindings (a table adding rows).
    {
        auto table = widget(), row = widget();
        bool added = false;
        table->onTold = [&] {
            if (!added) {
                added = true;
                bind("level", row, "1");
            }
        };
        bind("temp", table, "1");
        client->scheduler().start();
        run(2.005);
        EXPECT_EQ(client->scheduler().size(), 2u);
        EXPECT_GE(row->told, 2);
    }
}

TEST_F(Sched, OneShotCommandRunsWhenItsValuesAreIn)
{
    // A switch's command: its expression wrapped in an environment binding
    // `state`, scheduled "once" with no redraw method, then sent off with a
    // batch of its own while the page's chain is running.
    auto page = widget();
    bind("pressure", page, "1");
    client->scheduler().start();
    run(0.5);

    auto command = expr::Scope::create(client, compile("state + temp"));
    command->setVariable("state", expr::Node::integer(client, 1));
    std::vector<std::int32_t> sentWith;
    client->scheduler().bind(command, [&] { sentWith.push_back(command->intValue()); }, nullptr, "once");
    client->variables().requests().submitRequests();
    answerAll();
    // temp lives at 0x100; its bytes are 00 01 02 03, little-endian.
    ASSERT_EQ(sentWith, (std::vector<std::int32_t>{0x03020100 + 1}));
    run(2);
    EXPECT_EQ(sentWith.size(), 1u);
    s.loop.runPending();
    EXPECT_EQ(client->scheduler().size(), 1u); // only the page's binding
    EXPECT_EQ(client->scheduler().waitingOnce(), 0u);
}

TEST_F(Sched, ANewBindingOfAnExpressionRetiresTheOneBeforeIt)
{
    // The joystick binds its command again at every tick. While the device
    // did not answer, every earlier binding stayed, with its widget, until
    // unscheduleAll(), though the expression tells only its newest binding:
    // one more at each tick, with the chain idle (in the heap) or running
    // (waiting for its values).
    auto e = compile("temp + level");
    auto page = widget();
    bind("pressure", page, "0.1");
    std::vector<std::weak_ptr<CountingWidget>> made;
    std::shared_ptr<CountingWidget> newest;
    for (bool running : {false, true}) {
        if (running)
            client->scheduler().start();
        for (int i = 0; i < 20; ++i) {
            newest = widget();
            made.push_back(newest);
            client->scheduler().bind(e, newest, &CountingWidget::update, newest, &CountingWidget::isVisible, "once");
            if (running)
                quietly([&] { s.loop.advance(0.1); });
            EXPECT_LE(client->scheduler().size() + client->scheduler().waitingOnce(), 2u) << "the page's and one";
        }
    }
    for (std::size_t i = 0; i + 1 < made.size(); ++i)
        EXPECT_TRUE(made[i].expired()) << i;
    answerAll();
    EXPECT_GE(newest->told, 1);
}
