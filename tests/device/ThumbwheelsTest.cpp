#include "device/Client.h"
#include "device/Thumbwheels.h"

#include "support/TestServices.h"

#include <gtest/gtest.h>

using namespace fieldmon;

namespace {

struct ThumbwheelFixture : testing::Test {
    test::TestServices s;
    std::shared_ptr<Client> c = Client::create(false, s.services);

    // One column per definition: what the reader calls for a document whose
    // "thumb_def"s each hold one "wheel" named `name` with entries `rows`.
    static void read(Client& device, const std::vector<std::pair<std::string, std::vector<std::string>>>& defs)
    {
        device.startThumbwheelDefinitions();
        for (const auto& [name, rows] : defs) {
            device.initthumbArray();
            device.setNumthumb(device.numthumb() + 1);
            device.addthumbWheel({});
            device.setwheelName(name, "", "", device.numthumb() - 1);
            for (const auto& r : rows)
                device.setwheelName("", r, "c" + r, device.numthumb() - 1);
        }
    }
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
    EXPECT_EQ(c->getthumbwheelcommandrow(1, 0, 0), "cset speed 9");
    EXPECT_EQ(c->getthumbwheelcommandrow(0, 1, 0), "");
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
    // A row before any column has no column to go into.
    c->setwheelName("", "orphan", "cmd", 3);
    EXPECT_EQ(c->getthumbwheelCols(3), 0);

    // A 51st row has no room and must not overwrite the 50th.
    for (int row = 0; row < 51; ++row)
        c->setwheelName(row == 0 ? "only" : "", "row" + std::to_string(row), "cmd" + std::to_string(row), 8);
    EXPECT_EQ(c->getthumbwheelRows(0, 8), 50);
    EXPECT_EQ(c->getthumbwheeldisprow(49, 0, 8), "row49");
    EXPECT_EQ(c->getthumbwheelcommandrow(49, 0, 8), "cmd49");

    // A 51st column has no room. Its rows once went into the 50th column;
    // they belong to the ignored column and go nowhere.
    for (int col = 0; col < 51; ++col)
        c->setwheelName("col" + std::to_string(col), "", "", 9);
    c->setwheelName("", "stray", "cstray", 9);
    EXPECT_EQ(c->getthumbwheelCols(9), 50);
    EXPECT_EQ(c->getthumbwheelRows(49, 9), 0);

    // Reads outside the table are empty.
    EXPECT_EQ(c->getthumbwheelRows(50, 9), 0);
    EXPECT_EQ(c->getthumbwheelRows(-1, 9), 0);
    EXPECT_EQ(c->getthumbwheeldisprow(50, 0, 8), "");
    EXPECT_EQ(c->getthumbwheeldisprow(-1, 0, 8), "");
}

TEST_F(ThumbwheelFixture, EachDeviceKeepsItsOwnDefinitionsNumberedFromZeroPerReading)
{
    // One application-wide table once held every device's definitions, so a
    // second device's first definition overwrote the first device's
    // definition 0 and its picker showed the other device's columns.
    auto other = Client::create(false, s.services);
    read(*c, {{"Speed", {"slow", "fast"}}, {"Dir", {"left"}}});
    read(*other, {{"Mode", {"auto"}}});
    EXPECT_EQ(c->numthumb(), 2);
    EXPECT_EQ(c->getthumbwheeldisprow(1, 0, 0), "fast");
    EXPECT_EQ(c->getthumbwheeldisprow(0, 0, 1), "left");
    EXPECT_EQ(other->numthumb(), 1);
    EXPECT_EQ(other->getthumbwheeldisprow(0, 0, 0), "auto");
    EXPECT_EQ(other->getthumbwheelCols(1), 0);

    // A new reading (the firmware changed the document) starts from 0 and
    // leaves no stale wheel behind.
    read(*c, {{"Level", {"low", "high"}}});
    EXPECT_EQ(c->numthumb(), 1);
    EXPECT_EQ(c->getthumbwheelCols(0), 1);
    EXPECT_EQ(c->getthumbwheeldisprow(1, 0, 0), "high");
    EXPECT_EQ(c->getthumbwheelcommandrow(1, 0, 0), "chigh");
    EXPECT_EQ(c->getthumbwheelCols(1), 0);
}

TEST(Thumbwheels, DescriptionsStartFreshOnlyForTheFirstWheel)
{
    Thumbwheels t;
    t.initDescriptions();
    t.addDescription({});
    t.setCount(1);
    t.initDescriptions(); // a wheel is counted: the list stays
    t.addDescription({});
    EXPECT_EQ(t.descriptionCount(), 2u);
    t.setCount(0);
    t.initDescriptions();
    EXPECT_EQ(t.descriptionCount(), 0u);
}
