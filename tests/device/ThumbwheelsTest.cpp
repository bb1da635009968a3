#include "device/Client.h"
#include "device/Thumbwheels.h"

#include "support/TestServices.h"

#include <gtest/gtest.h>

using namespace fieldmon;

namespace {

struct ThumbwheelFixture : testing::Test {
    test::TestServices s;
    std::shared_ptr<Client> c = Client::create(false, s.services);
    void SetUp() override { Thumbwheels::shared().clear(); }
    void TearDown() override { Thumbwheels::shared().clear(); }
};

} // namespace

TEST_F(ThumbwheelFixture, ColumnsAndRowsAsTheReaderDefinesThem)
{
    c->setwheelName("Speed", "", "", 0);
    c->setwheelName("", "slow", "cset speed 1", 0);
    c->setwheelName("", "fast", "cset speed 9", 0);
    c->setwheelName("Dir", "", "", 0);
    c->setwheelName("", "left", "", 0);

    EXPECT_EQ(c->getthumbwheelCols(0), 2);
    EXPECT_EQ(c->getthumbwheelRows(0, 0), 2);
    EXPECT_EQ(c->getthumbwheelRows(1, 0), 1);
    EXPECT_EQ(c->getthumbwheeldisprow(1, 0, 0), "fast");
    EXPECT_EQ(c->getthumbwheeldisprow(0, 1, 0), "left");
    EXPECT_EQ(Thumbwheels::shared().command(1, 0, 0), "cset speed 9");
    EXPECT_EQ(c->getthumbwheelCols(1), 0);
}

TEST_F(ThumbwheelFixture, DefinitionsBeyondTheLimitsAreIgnored)
{
    // Wheel numbers outside 0..9 touch nothing.
    for (int wheel : {-1, -1000, 10, 1 << 30}) {
        c->setwheelName("X", "y", "z", wheel);
        EXPECT_EQ(c->getthumbwheelCols(wheel), 0);
        EXPECT_EQ(c->getthumbwheelRows(0, wheel), 0);
        EXPECT_EQ(c->getthumbwheeldisprow(0, 0, wheel), "");
    }
    // A 51st column and a 51st row have no room.
    for (int col = 0; col < 51; ++col)
        c->setwheelName("col" + std::to_string(col), "", "", 9);
    EXPECT_EQ(c->getthumbwheelCols(9), 50);
    for (int row = 0; row < 51; ++row)
        c->setwheelName("", "row" + std::to_string(row), "cmd" + std::to_string(row), 9);
    EXPECT_EQ(c->getthumbwheelRows(49, 9), 50);
    EXPECT_EQ(c->getthumbwheeldisprow(49, 49, 9), "row49");
    EXPECT_EQ(Thumbwheels::shared().command(49, 49, 9), "cmd49") << "the ignored 51st row must not overwrite row 50";
    // Reads outside the table are empty.
    EXPECT_EQ(c->getthumbwheelRows(50, 9), 0);
    EXPECT_EQ(c->getthumbwheelRows(-1, 9), 0);
    EXPECT_EQ(c->getthumbwheeldisprow(50, 0, 9), "");
    EXPECT_EQ(c->getthumbwheeldisprow(-1, 0, 9), "");
}

TEST_F(ThumbwheelFixture, RowBeforeAnyColumnGoesNowhere)
{
    c->setwheelName("", "orphan", "cmd", 3);
    EXPECT_EQ(c->getthumbwheelCols(3), 0);
}

TEST_F(ThumbwheelFixture, DescriptionsStartFreshOnlyForTheFirstWheelOfADevice)
{
    c->initthumbArray();
    c->addthumbWheel({});
    c->setNumthumb(1);
    c->initthumbArray(); // numthumb is 1: the list stays
    c->addthumbWheel({});
    EXPECT_EQ(Thumbwheels::shared().descriptionCount(), 2u);
    c->setNumthumb(0);
    c->initthumbArray();
    EXPECT_EQ(Thumbwheels::shared().descriptionCount(), 0u);
}
