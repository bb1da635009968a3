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
        Thumbwheels& wheels = device.thumbwheels();
        wheels.restart();
        for (const std::string& e : elements) {
            if (e == "#")
                wheels.beginDefinition();
            else if (e[0] == '=')
                wheels.define(e.substr(1), "", "", wheels.count() - 1);
            else
                wheels.define("", e, "c" + e, wheels.count() - 1);
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
    EXPECT_EQ(c->thumbwheels().count(), 2);
    EXPECT_EQ(c->thumbwheels().columns(0), 2);
    EXPECT_EQ(c->thumbwheels().rows(0, 0), 2);
    EXPECT_EQ(c->thumbwheels().rows(1, 0), 1); // rows go to the last column
    EXPECT_EQ(c->thumbwheels().display(1, 0, 0), "fast");
    EXPECT_EQ(c->thumbwheels().command(1, 0, 0), "cfast");
    EXPECT_EQ(c->thumbwheels().display(0, 0, 1), "auto");
    EXPECT_EQ(other->thumbwheels().display(0, 0, 0), "low");
    EXPECT_EQ(other->thumbwheels().columns(1), 0);

    // A new reading (the firmware changed the document) starts from 0 and
    // leaves no stale wheel behind.
    read(*c, {"#", "=Level", "low", "high"});
    EXPECT_EQ(c->thumbwheels().count(), 1);
    EXPECT_EQ(c->thumbwheels().columns(0), 1);
    EXPECT_EQ(c->thumbwheels().display(1, 0, 0), "high");
    EXPECT_EQ(c->thumbwheels().columns(1), 0);
}

TEST_F(ThumbwheelFixture, OnlyEmptyTextsAreSkippedAbsentOnesStillApply)
{
    // Absent attributes were once passed on as empty texts and skipped, so a
    // "wheel" without "name" added no column and the picker lost a column
    // that the document defines.
    c->thumbwheels().restart();
    c->thumbwheels().beginDefinition();
    c->thumbwheels().define(std::nullopt, "", "", 0); // <wheel/>
    c->thumbwheels().define("", "a", "ca", 0);        // <entry disp='a' command='ca'/>
    c->thumbwheels().define("", "", std::nullopt, 0); // <entry disp=''/>: the previous row loses its command
    c->thumbwheels().define("", std::nullopt, "cb", 0); // <entry command='cb'/>: a blank row
    c->thumbwheels().define("", "", "", 0);           // <entry disp='' command=''/>: nothing
    EXPECT_EQ(c->thumbwheels().columns(0), 1);
    EXPECT_EQ(c->thumbwheels().rows(0, 0), 2);
    EXPECT_EQ(c->thumbwheels().command(0, 0, 0), "");
    EXPECT_EQ(c->thumbwheels().display(1, 0, 0), "");
    EXPECT_EQ(c->thumbwheels().command(1, 0, 0), "cb");
}

TEST_F(ThumbwheelFixture, DefinitionsBeyondTheLimitsAreIgnored)
{
    // Wheel numbers outside 0..9 touch nothing; a row before any column has
    // no column to go into.
    for (int wheel : {-1, -1000, 10, 1 << 30}) {
        c->thumbwheels().define("X", "y", "z", wheel);
        EXPECT_EQ(c->thumbwheels().display(0, 0, wheel), "");
    }
    c->thumbwheels().define("", "orphan", "cmd", 3);
    EXPECT_EQ(c->thumbwheels().columns(3), 0);

    // A 51st row has no room and must not overwrite the 50th.
    for (int row = 0; row < 51; ++row)
        c->thumbwheels().define(row == 0 ? "only" : "", "row" + std::to_string(row), "cmd" + std::to_string(row), 8);
    EXPECT_EQ(c->thumbwheels().rows(0, 8), 50);
    EXPECT_EQ(c->thumbwheels().display(49, 0, 8), "row49");
    EXPECT_EQ(c->thumbwheels().command(49, 0, 8), "cmd49");

    // A 51st column has no room. Its rows once went into the 50th column;
    // they belong to the ignored column and go nowhere.
    for (int col = 0; col < 51; ++col)
        c->thumbwheels().define("col" + std::to_string(col), "", "", 9);
    c->thumbwheels().define("", "stray", "cstray", 9);
    EXPECT_EQ(c->thumbwheels().columns(9), 50);
    EXPECT_EQ(c->thumbwheels().rows(49, 9), 0);

    // Reads outside the table are empty.
    EXPECT_EQ(c->thumbwheels().rows(50, 9) + c->thumbwheels().rows(-1, 9) + c->thumbwheels().columns(-1), 0);
    EXPECT_EQ(c->thumbwheels().display(50, 0, 8) + c->thumbwheels().display(-1, 0, 8), "");
}
