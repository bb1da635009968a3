#include "sim/DeviceConfig.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

using namespace fieldmon::sim;

namespace {

std::optional<DeviceConfig> parse(const std::string& text, std::vector<std::string>& errors)
{
    return parseDeviceConfig(text, "/devices", "dev.json", errors);
}

std::string dotted(in_addr a)
{
    char t[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, t, sizeof t);
    return t;
}

} // namespace

TEST(DeviceConfig, ReadsEveryPart)
{
    std::vector<std::string> errors;
    auto c = parse(R"({
        "name": "North well", "platform": "PLAT", "type": "PUMP", "version": 3, "serial": 1207,
        "service": true, "address": "10.77.0.10", "folder": "pump", "ui": "main.xml",
        "answerProbes": false, "hostRequestEvent": "HOST",
        "http": {"port": 0, "delay": 2.5, "notFound": true, "drop": false, "redirect": "http://127.0.0.1/x",
                 "only": ["ui.xml"]},
        "link": {"loss": 0.2, "delay": 0.3},
        "memory": {"base": 512, "align": 2},
        "variables": {
            "speed": 1200, "ip": "1.2.3.4", "history": [1, 2, 3], "log": {"length": 10},
            "flow": {"behaviour": "sine", "min": 1, "max": 3, "period": 4, "every": 0.5, "address": 4096}
        },
        "commands": [{"match": "set speed %d", "set": {"speed": "$1", "flag": 1}, "event": "SET $1"}],
        "events": [{"every": 5, "first": 1, "text": "T {count}", "stamp": false}],
        "schedule": [{"at": 9, "address": "10.77.0.13", "type": "VALVE"}, {"at": 3, "silent": true},
                     {"at": 12, "link": {"delay": 1}}]
    })",
                   errors);
    ASSERT_TRUE(c) << (errors.empty() ? "" : errors[0]);
    EXPECT_TRUE(errors.empty()) << errors[0];
    EXPECT_EQ(c->name, "North well");
    EXPECT_EQ(c->serial, 1207);
    EXPECT_TRUE(c->service);
    EXPECT_FALSE(c->answerProbes);
    EXPECT_EQ(dotted(c->address), "10.77.0.10");
    EXPECT_EQ(c->folder, "/devices/pump");
    EXPECT_EQ(c->uiFile, "main.xml");
    EXPECT_EQ(c->http.port, 0);
    EXPECT_EQ(c->http.delay, 2.5);
    EXPECT_TRUE(c->http.notFound);
    EXPECT_EQ(c->http.redirect, "http://127.0.0.1/x");
    EXPECT_EQ(c->http.only, std::vector<std::string>{"ui.xml"});
    EXPECT_EQ(c->link.loss, 0.2);
    EXPECT_EQ(c->link.delay, 0.3);
    EXPECT_EQ(c->memoryBase, 512u);
    ASSERT_EQ(c->variables.size(), 5u);
    // nlohmann keeps object keys sorted
    EXPECT_EQ(c->variables[0].name, "flow");
    EXPECT_EQ(c->variables[0].behaviour->kind, BehaviourSpec::Kind::Sine);
    EXPECT_EQ(c->variables[0].behaviour->every, 0.5);
    EXPECT_EQ(*c->variables[0].address, 4096u);
    EXPECT_EQ(c->variables[1].name, "history");
    EXPECT_EQ(c->variables[1].length, 3);
    EXPECT_TRUE(c->variables[2].initial[0].isText);
    EXPECT_EQ(c->variables[3].length, 10);
    ASSERT_EQ(c->commands.size(), 1u);
    EXPECT_EQ(c->commands[0].sets.size(), 2u);
    EXPECT_EQ(c->events[0].first, 1);
    EXPECT_FALSE(c->events[0].stamp);
    ASSERT_EQ(c->schedule.size(), 3u);
    ASSERT_TRUE(c->schedule[2].link);
    EXPECT_EQ(c->schedule[2].link->delay, 1);
    EXPECT_EQ(c->schedule[2].link->loss, 0) << "a change of the link names all of it";
    EXPECT_EQ(c->allAddresses().size(), 2u);
}

TEST(DeviceConfig, ReportsMistakesByField)
{
    struct Case {
        std::string json;
        bool loads;
        std::string mention;
    };
    const std::vector<Case> cases = {
        {"not json", false, "not a JSON object"},
        {"[1, 2]", false, "not a JSON object"},
        {R"({"name": "x"})", false, "address: required"},
        {R"({"address": "10.77.0"})", false, "dotted IPv4"},
        {R"({"address": "10.77.0.10", "serial": "12"})", true, "serial: expected a number"},
        {R"({"address": "10.77.0.10", "colour": 1})", true, "unknown field \"colour\""},
        {R"({"address": "10.77.0.10", "variables": {"a": {"behaviour": "wobble"}}})", true, "behaviour"},
        {R"({"address": "10.77.0.10", "variables": {"a": {"behaviour": "sine", "period": 0}}})", true, "period"},
        {R"({"address": "10.77.0.10", "variables": {"a": {"length": 0}}})", true, "length"},
        {R"({"address": "10.77.0.10", "variables": {"a": null}})", true, "variables.a"},
        {R"({"address": "10.77.0.10", "commands": [{"set": {"a": 1}}]})", true, "match: required"},
        {R"({"address": "10.77.0.10", "events": [{"every": 0, "text": "x"}]})", true, "every"},
        {R"({"address": "10.77.0.10", "http": {"port": 70000}})", true, "http.port"},
        {R"({"address": "10.77.0.10", "link": {"loss": 1.5}})", true, "link.loss"},
        {R"({"address": "10.77.0.10", "schedule": [{"at": 1, "address": "nowhere"}]})", true, "schedule[0].address"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> errors;
        auto config = parse(c.json, errors);
        EXPECT_EQ(config.has_value(), c.loads) << c.json;
        ASSERT_FALSE(errors.empty()) << c.json;
        EXPECT_NE(errors[0].find(c.mention), std::string::npos) << c.json << " -> " << errors[0];
        EXPECT_EQ(errors[0].rfind("dev.json: ", 0), 0u) << "messages name the file";
    }
}

TEST(DeviceConfig, HelpShowsTheFormatWithAnExample)
{
    const std::string help = deviceConfigHelp();
    for (const char* key : {"\"address\"", "\"variables\"", "\"behaviour\"", "\"commands\"", "\"events\"",
                            "\"schedule\"", "\"http\"", "--log", "tools/netns"})
        EXPECT_NE(help.find(key), std::string::npos) << key;
}
