#include "sim/SimDevice.h"

#include "sim/MemoryFixtures.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace fieldmon::sim;
using fieldmon::sim::test::var;

namespace {

sockaddr_in app(const char* ip = "10.77.0.1", std::uint16_t port = 40000)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

std::string dotted(in_addr a)
{
    char t[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, t, sizeof t);
    return t;
}

DeviceConfig pumpConfig()
{
    DeviceConfig c;
    c.name = "North well";
    c.platform = "PLAT";
    c.type = "PUMP";
    c.version = 3;
    c.serial = 1207;
    inet_pton(AF_INET, "10.77.0.10", &c.address);
    c.variables.push_back(VariableSpec{"speed", {SimValue{false, 1200, {}}}, std::nullopt, 1, std::nullopt});
    BehaviourSpec ramp;
    ramp.kind = BehaviourSpec::Kind::Ramp;
    ramp.low = 0;
    ramp.high = 100;
    ramp.period = 10;
    ramp.every = 1;
    c.variables.push_back(VariableSpec{"level", {}, ramp, 1, std::nullopt});
    c.commands.push_back(CommandSpec{"set speed %d", {{"speed", "$1"}}, "SPEED SET TO $1"});
    c.commands.push_back(CommandSpec{"hold level %d", {{"level", "$1"}}, ""});
    c.commands.push_back(CommandSpec{"bad", {{"nothing", "1"}}, ""});
    return c;
}

struct Harness {
    SimLog log;
    SimDevice device;
    std::vector<std::string> problems;
    explicit Harness(DeviceConfig c = pumpConfig()) : device(std::move(c), log)
    {
        log.open("/dev/null");
        log.setCapture(true);
        device.start({var("speed", "WORD", 12, 2), var("level", "WORD", 13, 2)}, 100.0, problems);
    }
    std::vector<Datagram> send(const std::string& bytes, const sockaddr_in& from = app(), double now = 100.0)
    {
        std::vector<Datagram> out;
        device.receive(bytes, from, now, out);
        return out;
    }
};

} // namespace

TEST(SimDevice, AnswersDiscoveryToTheAskerOnTheAppPort)
{
    Harness h;
    EXPECT_TRUE(h.problems.empty());
    for (const char* ask : {"H", "h"}) {
        auto out = h.send(ask, app("10.77.0.1", 51000));
        ASSERT_EQ(out.size(), 1u) << ask;
        EXPECT_EQ(out[0].bytes, "mPLAT;PUMP;North well;3;1207;0");
        EXPECT_EQ(dotted(out[0].to), "10.77.0.1");
        EXPECT_EQ(out[0].port, 10023) << "answers go to 10023, never to the asker's source port";
    }
    auto probe = h.send("F");
    ASSERT_EQ(probe.size(), 1u);
    EXPECT_EQ(probe[0].bytes, "i");
    EXPECT_TRUE(h.send("s").empty());
    EXPECT_TRUE(h.send("E").empty());
    EXPECT_TRUE(h.send("Hx").empty()) << "discovery kinds are single bytes";
    EXPECT_TRUE(h.send("").empty());
    EXPECT_TRUE(h.send("Zzz").empty());
    EXPECT_EQ(h.device.received('H'), 2);
    EXPECT_EQ(h.device.received('s'), 1);
    EXPECT_NE(h.log.captured().find("'E'"), std::string::npos) << "every datagram is logged";
}

TEST(SimDevice, ServiceModeCommandsSendStampedEventsAndChangeTheAnnouncement)
{
    Harness h;
    h.send("H", app("10.77.0.1"));
    h.send("H", app("10.77.0.2"));
    auto on = h.send("cservice 1\r\n");
    ASSERT_EQ(on.size(), 2u) << "every host that talked to the device hears the event";
    for (const Datagram& d : on) {
        ASSERT_EQ(d.bytes.size(), 1u + 9u + 20u);
        EXPECT_EQ(d.bytes[0], 'e');
        EXPECT_EQ(d.bytes[3], ':');
        EXPECT_EQ(d.bytes[6], ':');
        EXPECT_EQ(d.bytes.substr(9), " EVENTSYS_SVC_MODE_ON");
        EXPECT_EQ(d.port, 10023);
    }
    EXPECT_EQ(h.send("H")[0].bytes, "mPLAT;PUMP;North well;3;1207;1");
    auto off = h.send("cservice 0\r\n");
    ASSERT_FALSE(off.empty());
    EXPECT_EQ(off[0].bytes.substr(9), " EVENTSYS_SVC_MODE_OFF");
    EXPECT_EQ(h.send("H")[0].bytes, "mPLAT;PUMP;North well;3;1207;0");

    auto host = h.send("chostreq\n");
    ASSERT_FALSE(host.empty());
    EXPECT_EQ(host[0].bytes.substr(10), "EVENTSYS_HOST_REQUEST");
}

TEST(SimDevice, EventsGoOnlyToHostsHeardRecently)
{
    Harness h;
    h.send("H", app("10.77.0.1"), 100);
    h.send("H", app("10.77.0.2"), 200);
    auto out = h.send("chostreq\n", app("10.77.0.2"), 200 + 60);
    ASSERT_EQ(out.size(), 1u) << "10.77.0.1 was last heard more than two minutes ago";
    EXPECT_EQ(dotted(out[0].to), "10.77.0.2");
}

TEST(SimDevice, MappedCommandsSetVariablesAndStopTheirBehaviour)
{
    Harness h;
    h.send("H");
    auto out = h.send("cset speed 1500\n");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes.substr(9), " SPEED SET TO 1500");
    EXPECT_EQ(*h.device.memory().get("speed"), 1500);

    std::vector<Datagram> ticks;
    h.device.tick(102.5, ticks);
    EXPECT_EQ(*h.device.memory().get("level"), 25) << "the ramp moves the level";
    EXPECT_TRUE(h.send("chold level 7\n").empty());
    h.device.tick(105, ticks);
    EXPECT_EQ(*h.device.memory().get("level"), 7) << "a value set by command holds";

    EXPECT_TRUE(h.send("cbad\n").empty());
    EXPECT_NE(h.log.captured().find("cannot set nothing"), std::string::npos);
    EXPECT_TRUE(h.send("cfly away\n").empty());
    EXPECT_NE(h.log.captured().find("unknown command 'fly away'"), std::string::npos);
}

TEST(SimDevice, ACommandSetsTheArrayElementItsArgumentNames)
{
    // "$1" in a set's name was taken literally, so a table row's command
    // ("limit 2 450") could not set its own row's element.
    DeviceConfig c = pumpConfig();
    c.variables.push_back(VariableSpec{"limit", {SimValue{false, 1, {}}, SimValue{false, 2, {}}, SimValue{false, 3, {}}},
                                       std::nullopt, 3, std::nullopt});
    c.commands.push_back(CommandSpec{"limit %d %d", {{"limit[$1]", "$2"}}, ""});
    SimLog log;
    log.open("/dev/null");
    SimDevice device(std::move(c), log);
    std::vector<std::string> problems;
    device.start({var("speed", "WORD", 12, 2), var("level", "WORD", 13, 2), var("limit", "WORD", 14, 2)}, 100.0,
                 problems);
    ASSERT_TRUE(problems.empty());
    std::vector<Datagram> out;
    device.receive("climit 2 450\n", app(), 100.0, out);
    EXPECT_EQ(*device.memory().get("limit[2]"), 450);
    EXPECT_EQ(*device.memory().get("limit[1]"), 2);
}

TEST(SimDevice, AnswersRequestsFromItsMemory)
{
    Harness h;
    const std::uint32_t speedAt = h.device.memory().find("speed")->address;
    auto v = h.send("vbM4");
    ASSERT_EQ(v.size(), 1u);
    std::string want = "Vb";
    for (int i = 0; i < 4; ++i)
        want.push_back(static_cast<char>(speedAt >> (8 * i)));
    want.push_back('\0');
    EXPECT_EQ(v[0].bytes, want);

    char item[16];
    std::snprintf(item, sizeof item, "ac%8.8xC", speedAt);
    auto a = h.send(item);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].bytes, std::string("Ac\xB0\x04\0", 5)) << "1200 little-endian";
    EXPECT_TRUE(h.send("v").empty());
}

TEST(SimDevice, TheLinkLosesAShareOfRequestsAndDelaysTheOtherReplies)
{
    DeviceConfig c = pumpConfig();
    c.link.loss = 0.25;
    ScheduledChange slow;
    slow.at = 20;
    slow.link = LinkSpec{0, 0.5};
    c.schedule = {slow};
    Harness h(c);
    int answered = 0;
    for (int i = 0; i < 400; ++i)
        answered += static_cast<int>(h.send("vbM4").size());
    EXPECT_NEAR(answered, 300, 40) << "about three in four requests answered at once";
    EXPECT_EQ(h.send("F").size(), 1u) << "the presence answer is not the variable link's";

    std::vector<Datagram> out;
    h.device.tick(120, out); // the slow link from here on
    EXPECT_TRUE(h.send("vbM4", app(), 120).empty()) << "held back";
    EXPECT_TRUE(h.send("vcM4", app(), 120.2).empty());
    out.clear();
    EXPECT_DOUBLE_EQ(h.device.tick(120.3, out), 120.5) << "wakes when the first reply is due";
    EXPECT_TRUE(out.empty());
    h.device.tick(120.6, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes.substr(0, 2), "Vb");
    out.clear();
    h.device.tick(120.7, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes.substr(0, 2), "Vc");
}

TEST(SimDevice, SilenceProbesAndTheTimeline)
{
    DeviceConfig c = pumpConfig();
    c.answerProbes = false;
    ScheduledChange move;
    move.at = 5;
    inet_pton(AF_INET, "10.77.0.13", &move.address.emplace());
    move.type = "VALVE";
    ScheduledChange quiet;
    quiet.at = 10;
    quiet.silent = true;
    c.schedule = {quiet, move}; // out of order on purpose
    Harness h(c);
    EXPECT_TRUE(h.send("F").empty()) << "not answering probes";
    EXPECT_EQ(h.send("H").size(), 1u);

    std::vector<Datagram> out;
    EXPECT_DOUBLE_EQ(h.device.tick(104, out), 105) << "next due: the ramp, one period after catching up";
    h.device.tick(105, out);
    EXPECT_EQ(dotted(h.device.address()), "10.77.0.13");
    EXPECT_EQ(h.send("H", app(), 105)[0].bytes, "mPLAT;VALVE;North well;3;1207;0");
    h.device.tick(110, out);
    EXPECT_TRUE(h.device.silent());
    EXPECT_TRUE(h.send("H", app(), 110).empty());
    EXPECT_TRUE(h.send("cservice 1\r\n", app(), 110).empty());
}

TEST(SimDevice, PeriodicEventsCountAndStamp)
{
    DeviceConfig c = pumpConfig();
    c.events.push_back(PeriodicEvent{10, 1, "CYCLE {count} DONE", true});
    c.events.push_back(PeriodicEvent{10, -1, "plain", false});
    Harness h(c);
    h.send("H");
    std::vector<Datagram> out;
    h.device.tick(100.5, out);
    EXPECT_TRUE(out.empty());
    h.device.tick(101, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes.substr(9), " CYCLE 1 DONE");
    out.clear();
    h.device.tick(110, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, "eplain");
    out.clear();
    h.device.tick(111, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes.substr(9), " CYCLE 2 DONE");
}

TEST(SimDevice, ReportsJsonValuesThatDoNotFitTheDeclarations)
{
    DeviceConfig c = pumpConfig();
    c.variables.push_back(VariableSpec{"ghost", {SimValue{false, 1, {}}}, std::nullopt, 1, std::nullopt});
    c.variables.push_back(VariableSpec{"speed.x", {SimValue{false, 1, {}}}, std::nullopt, 1, std::nullopt});
    Harness h(c);
    ASSERT_EQ(h.problems.size(), 2u);
    EXPECT_NE(h.problems[0].find("ghost"), std::string::npos);
    EXPECT_NE(h.problems[1].find("no member"), std::string::npos);
}

TEST(SimDevice, HostileDatagramsGetBoundedAnswers)
{
    // Random bytes of every kind the device understands: nothing may crash,
    // and no answer may exceed one UDP datagram.
    Harness h;
    std::mt19937 random(12345);
    const std::string kinds = "HhFsEcvaAVmie";
    for (int i = 0; i < 20000; ++i) {
        std::string d(1, kinds[random() % kinds.size()]);
        const std::size_t n = random() % 64;
        for (std::size_t k = 0; k < n; ++k)
            d.push_back(static_cast<char>(random() % 256));
        if (i % 97 == 0)
            d += std::string(6000, '9'); // long digit runs in address items
        for (const Datagram& out : h.send(d))
            ASSERT_LE(out.bytes.size(), 65507u) << SimLog::printable(d, 40);
    }
    EXPECT_EQ(h.send("H").size(), 1u) << "still answering";
}

TEST(SimDevice, AFloodSendsItsRateOfMalformedDatagramsToHostsItHeardFrom)
{
    DeviceConfig c = pumpConfig();
    c.flood = 100;
    ScheduledChange quiet;
    quiet.at = 2;
    quiet.silent = true;
    c.schedule.push_back(quiet);
    Harness h(c);
    std::vector<Datagram> out;
    h.device.tick(100.5, out);
    EXPECT_TRUE(out.empty()) << "no host heard from yet";
    h.send("H", app(), 100.5);
    h.device.tick(101.5, out);
    ASSERT_EQ(out.size(), 100u) << "a second's worth";
    std::set<char> kinds;
    for (const Datagram& d : out) {
        EXPECT_EQ(dotted(d.to), "10.77.0.1");
        EXPECT_NE(d.bytes, h.device.announcement());
        kinds.insert(d.bytes.empty() ? '\0' : d.bytes[0]);
    }
    EXPECT_GE(kinds.size(), 6u) << "a mix of kinds, not one datagram repeated";
    out.clear();
    h.device.tick(101.525, out);
    EXPECT_EQ(out.size(), 2u) << "what 20 ms owe";
    h.device.tick(102, out); // the timeline silences the device
    out.clear();
    h.device.tick(103, out);
    EXPECT_TRUE(out.empty()) << "a silent device floods nobody";
}
