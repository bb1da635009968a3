#include "sim/CommandPattern.h"

#include <gtest/gtest.h>

using namespace fieldmon::sim;

TEST(CommandPattern, MatchesAndCapturesArguments)
{
    struct Case {
        const char* pattern;
        const char* command;
        bool matches;
        std::vector<std::string> args;
    };
    const std::vector<Case> cases = {
        {"set speed %d", "set speed 120", true, {"120"}},
        {"set speed %d", "set speed -5", true, {"-5"}},
        {"set speed %d", "set speed 1.5", false, {}},     // %d takes no fraction
        {"set speed %d", "set speed", false, {}},
        {"set speed %d", "set speed 12 more", false, {}}, // the whole command must match
        {"move %f %f", "move 0.500000 -0.250000", true, {"0.500000", "-0.250000"}},
        {"move %f %f", "move .5 1e3", true, {".5", "1e3"}},
        {"move %f %f", "move 0.5", false, {}},
        {"gear %d %s", "gear 2 Fwd", true, {"2", "Fwd"}},
        {"gear %d %s", "gear   2    Fwd", true, {"2", "Fwd"}}, // a blank takes several
        {"gear %d %s", "gear2 Fwd", false, {}},                 // ... but at least one
        {"pump on", "pump on", true, {}},
        {"pump on", "pump onn", false, {}},
        {"pump on", "Pump on", false, {}},
        {"duty %d%%", "duty 50%", true, {"50"}},
        {"bad %q", "bad x", false, {}},
        {"", "", true, {}},
    };
    for (const Case& c : cases) {
        auto got = matchCommand(c.pattern, c.command);
        EXPECT_EQ(got.has_value(), c.matches) << c.pattern << " / " << c.command;
        if (got && c.matches) {
            EXPECT_EQ(*got, c.args) << c.pattern << " / " << c.command;
        }
    }
}

TEST(CommandPattern, SubstitutesArguments)
{
    EXPECT_EQ(substitute("SPEED SET TO $1", {"120"}), "SPEED SET TO 120");
    EXPECT_EQ(substitute("$2/$1", {"a", "b"}), "b/a");
    EXPECT_EQ(substitute("$3 missing", {"a"}), " missing");
    EXPECT_EQ(substitute("cost $$5", {"a"}), "cost $5");
    EXPECT_EQ(substitute("trailing $", {}), "trailing $");
}

TEST(CommandPattern, CommandTextDropsKindAndLineEnds)
{
    EXPECT_EQ(commandText("cservice 1\r\n"), "service 1");
    EXPECT_EQ(commandText("chostreq\n"), "hostreq");
    EXPECT_EQ(commandText("cmove 0.5 0.5\r\n"), "move 0.5 0.5");
    EXPECT_EQ(commandText("c"), "");
    EXPECT_EQ(commandText("c  \n"), "");
}
