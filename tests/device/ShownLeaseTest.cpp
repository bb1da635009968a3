#include "device/ShownLease.h"

#include "device/Client.h"

#include "support/TestServices.h"

#include <gtest/gtest.h>

#include <utility>

using namespace fieldmon;
using fieldmon::test::TestServices;

TEST(ShownLease, ARecordIsShownWhileAnyLeaseOnItLives)
{
    // A lease moved from one screen to another, or replaced by a lease on
    // another device, must give its count back exactly once: counted twice,
    // a record closed on every screen would still look shown (and come back
    // from the graveyard with a "Found client" alert nobody asked for);
    // counted never, a shown device would be forgotten when it falls silent.
    TestServices s;
    auto pump = Client::create(false, s.services);
    auto valve = Client::create(false, s.services);
    std::weak_ptr<Client> weak = pump;
    EXPECT_FALSE(pump->shown()) << "a reference is not a lease";

    Client::ShownLease detail(pump);
    Client::ShownLease log(pump);
    Client::ShownLease moved(std::move(log));
    EXPECT_FALSE(log);
    EXPECT_EQ(moved.record(), pump);
    moved.reset();
    EXPECT_TRUE(pump->shown()) << "the detail screen still shows it";

    detail = Client::ShownLease(valve);
    EXPECT_FALSE(pump->shown());
    EXPECT_TRUE(valve->shown());
    Client::ShownLease other;
    other = std::move(detail);
    EXPECT_TRUE(valve->shown());
    other = Client::ShownLease();
    EXPECT_FALSE(valve->shown());

    // The lease keeps its record alive and lets go of it last.
    Client::ShownLease last(std::move(pump));
    last.reset();
    EXPECT_TRUE(weak.expired());
}
