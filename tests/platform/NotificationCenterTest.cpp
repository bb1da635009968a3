#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace fieldmon::platform;

TEST(NotificationCenter, DeliversToObserversOfTheNameInSubscriptionOrder)
{
    NotificationCenter center;
    std::vector<std::string> calls;
    auto a = center.subscribe("eventFrom1207", [&](const Notification& n) { calls.push_back("a:" + *n.text()); });
    auto other = center.subscribe("eventFrom99", [&](const Notification&) { calls.push_back("other"); });
    auto b = center.subscribe("eventFrom1207", [&](const Notification& n) { calls.push_back("b:" + *n.text()); });
    center.post("eventFrom1207", std::string("PUMP STARTED"));
    EXPECT_EQ(calls, (std::vector<std::string>{"a:PUMP STARTED", "b:PUMP STARTED"}));
}

TEST(NotificationCenter, CarriesEachKindOfObject)
{
    NotificationCenter center;
    Notification last;
    auto s = center.subscribe("n", [&](const Notification& n) { last = n; });
    int poster = 0;

    center.post("n");
    EXPECT_TRUE(last.empty());
    center.post("n", std::string("text"));
    ASSERT_NE(last.text(), nullptr);
    EXPECT_EQ(*last.text(), "text");
    center.post("n", Bytes{1, 0, 255});
    ASSERT_NE(last.bytes(), nullptr);
    EXPECT_EQ(*last.bytes(), (Bytes{1, 0, 255}));
    center.post("n", static_cast<const void*>(&poster));
    EXPECT_EQ(last.sender(), &poster);
    EXPECT_EQ(last.text(), nullptr);
}

TEST(NotificationCenter, DroppedSubscriptionIsNeverCalledAgain)
{
    NotificationCenter center;
    int calls = 0;
    {
        auto s = center.subscribe("n", [&](const Notification&) { ++calls; });
        center.post("n");
    }
    center.post("n");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(center.observerCount("n"), 0u);

    auto moved = center.subscribe("n", [&](const Notification&) { ++calls; });
    Subscription target = std::move(moved);
    center.post("n");
    target.reset();
    center.post("n");
    EXPECT_EQ(calls, 2);
}

TEST(NotificationCenter, ObserverMayDropItselfAndOthersDuringDelivery)
{
    NotificationCenter center;
    std::vector<std::string> calls;
    Subscription first, second;
    first = center.subscribe("n", [&](const Notification&) {
        calls.push_back("first");
        first.reset();
        second.reset(); // later in the snapshot: must not be called now
    });
    second = center.subscribe("n", [&](const Notification&) { calls.push_back("second"); });
    center.post("n");
    center.post("n");
    EXPECT_EQ(calls, (std::vector<std::string>{"first"}));
}

TEST(NotificationCenter, SubscriptionOutlivingTheCenterIsHarmless)
{
    Subscription s;
    {
        NotificationCenter center;
        s = center.subscribe("n", [](const Notification&) {});
    }
    s.reset();
    EXPECT_FALSE(s.active());
}

TEST(NotificationCenter, PostsFromAnotherThreadRunOnThatThread)
{
    NotificationCenter center;
    std::atomic<int> calls{0};
    std::thread::id seen;
    auto s = center.subscribe("ListeningFoundNewClient", [&](const Notification&) {
        seen = std::this_thread::get_id();
        ++calls;
    });
    std::thread poster([&] {
        for (int i = 0; i < 1000; ++i)
            center.post("ListeningFoundNewClient");
    });
    std::thread::id posterId = poster.get_id();
    poster.join();
    EXPECT_EQ(calls.load(), 1000);
    EXPECT_EQ(seen, posterId);
}

// An observer dropped on one thread while another thread is delivering to it:
// after reset() returns the callback must not run, so the object it points at
// may be destroyed right away.
TEST(NotificationCenter, ResetWaitsForADeliveryInFlightOnAnotherThread)
{
    NotificationCenter center;
    std::atomic<int> late{0};
    for (int round = 0; round < 200; ++round) {
        auto alive = std::make_unique<std::atomic<int>>(0);
        auto* target = alive.get();
        std::atomic<bool> dropped{false};
        auto s = center.subscribe("n", [&late, &dropped, target](const Notification&) {
            if (dropped)
                ++late;
            target->fetch_add(1);
        });
        std::atomic<bool> go{true};
        std::thread poster([&] {
            while (go)
                center.post("n");
        });
        while (target->load() == 0) // deliveries are under way
            std::this_thread::yield();
        s.reset();
        dropped = true;
        alive.reset();
        go = false;
        poster.join();
    }
    EXPECT_EQ(late.load(), 0);
}
