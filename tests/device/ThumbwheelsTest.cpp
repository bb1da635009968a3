#include "device/Client.h"

#include "support/TestServices.h"

#include <gtest/gtest.h>

using namespace fieldmon;

namespace {

struct ThumbwheelFixture : testing::Test {
    test::TestServices s;
    std::shared_ptr<Client> c = Client::create(false, s.services);

    // What the reader calls for one reading of a document: "#" starts a
    // definition, "=name" a column, any other text a row (command "c" + text).
    static void read(Client& device, std::initializer_list<std::string> elements)
    {
        device.startThumbwheelDefinitions();
        for (const std::string& e : elements) {
            if (e == "#") {
                device.initthumbArray();
                device.setNumthumb(device.numthumb() + 1);
                device.addthumbWheel({});
            } else if (e[0] == '=') {
                device.setwheelName(e.substr(1), "", "", device.numthumb() - 1);
            } else {
                device.setwheelName("", e, "c" + e, device.numthumb() - 1);
            }
        }
    }
};

} // namespace

TEST_F(ThumbwheelFixture, EachDeviceKeepsItsOwnDefinitionsNumberedFromZeroPerReading)
{
    // One application-wide table once held every device's definitions, so a
    // second device's first definition overwrote the first device's
    // definition 0 and its picker showed the other device's columns.
    auto other = Client::create(false, s.services);
    read(*c, {"#", "=Speed", "slow", "fast", "=Dir", "left", "#", "=Mode", "auto"});
    read(*other, {"#", "=Level", "low"});
    EXPECT_EQ(c->numthumb(), 2);
    EXPECT_EQ(c->getthumbwheelCols(0), 2);
    EXPECT_EQ(c->getthumbwheelRows(0, 0), 2);
    EXPECT_EQ(c->getthumbwheelRows(1, 0), 1); // rows go to the last column
    EXPECT_EQ(c->getthumbwheeldisprow(1, 0, 0), "fast");
    EXPECT_EQ(c->getthumbwheelcommandrow(1, 0, 0), "cfast");
    EXPECT_EQ(c->getthumbwheeldisprow(0, 0, 1), "auto");
    EXPECT_EQ(other->getthumbwheeldisprow(0, 0, 0), "low");
    EXPECT_EQ(other->getthumbwheelCols(1), 0);

    // A new reading (the firmware changed the document) starts from 0 and
    // leaves no stale wheel behind.
    read(*c, {"#", "=Level", "low", "high"});
    EXPECT_EQ(c->numthumb(), 1);
    EXPECT_EQ(c->getthumbwheelCols(0), 1);
    EXPECT_EQ(c->getthumbwheeldisprow(1, 0, 0), "high");
    EXPECT_EQ(c->getthumbwheelCols(1), 0);
}

TEST_F(ThumbwheelFixture, OnlyEmptyTextsAreSkippedAbsentOnesStillApply)
{
    // Absent attributes were once passed on as empty texts and skipped, so a
    // "wheel" without "name" added no column and the picker lost a column
    // that the document defines.
    c->startThumbwheelDefinitions();
    c->setNumthumb(1);
    c->setwheelName(std::nullopt, "", "", 0); // <wheel/>
    c->setwheelName("", "a", "ca", 0);        // <entry disp='a' command='ca'/>
    c->setwheelName("", "", std::nullopt, 0); // <entry disp=''/>: the previous row loses its command
    c->setwheelName("", std::nullopt, "cb", 0); // <entry command='cb'/>: a blank row
    c->setwheelName("", "", "", 0);           // <entry disp='' command=''/>: nothing
    EXPECT_EQ(c->getthumbwheelCols(0), 1);
    EXPECT_EQ(c->getthumbwheelRows(0, 0), 2);
    EXPECT_EQ(c->getthumbwheelcommandrow(0, 0, 0), "");
    EXPECT_EQ(c->getthumbwheeldisprow(1, 0, 0), "");
    EXPECT_EQ(c->getthumbwheelcommandrow(1, 0, 0), "cb");
}

TEST_F(ThumbwheelFixture, DefinitionsBeyondTheLimitsAreIgnored)
{
    // Wheel numbers outside 0..9 touch nothing; a row before any column has
    // no column to go into.
    for (int wheel : {-1, -1000, 10, 1 << 30}) {
        c->setwheelName("X", "y", "z", wheel);
        EXPECT_EQ(c->getthumbwheeldisprow(0, 0, wheel), "");
    }
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
    EXPECT_EQ(c->getthumbwheelRows(50, 9) + c->getthumbwheelRows(-1, 9) + c->getthumbwheelCols(-1), 0);
    EXPECT_EQ(c->getthumbwheeldisprow(50, 0, 8) + c->getthumbwheeldisprow(-1, 0, 8), "");
}
