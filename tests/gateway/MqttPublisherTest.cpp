// The publisher against real mosquitto brokers, each on a loopback port of
// its own, read back by a plain libmosquitto subscriber.
#include "gateway/MqttPublisher.h"

#include "GatewayFixtures.h"
#include "MosquittoBroker.h"
#include "TestSubscriber.h"

#include <gtest/gtest.h>

namespace fieldmon::gateway {
namespace {

using testing::MosquittoBroker;
using testing::TestSubscriber;

MqttPublisher::Settings settingsFor(int port, const std::string& clientId, int version = 311)
{
    MqttPublisher::Settings settings;
    settings.connection.host = "127.0.0.1";
    settings.connection.port = port;
    settings.connection.clientId = clientId;
    settings.connection.version = version;
    settings.gatewayVersion = "test";
    return settings;
}

std::unique_ptr<MqttPublisher> makePublisher(MqttPublisher::Settings settings)
{
    std::string error;
    auto publisher = MqttPublisher::create(std::move(settings), error);
    EXPECT_TRUE(publisher) << error;
    return publisher;
}

class BrokerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testing::haveMosquitto())
            GTEST_SKIP() << "mosquitto is not installed (tools/deps.sh installs it)";
    }
};

class BrokerOutages : public BrokerTest, public ::testing::WithParamInterface<int> {};

// Started with the broker down, then the broker restarted without its
// store: both times the gateway's status, the discovery message and the
// values come back without anything from the device side.
TEST_P(BrokerOutages, DownAtStartThenRestartedMidRun)
{
    MosquittoBroker broker;
    auto publisher = makePublisher(settingsFor(broker.port(), "gw-outage", GetParam()));
    publisher->deviceUp(testing::pumpDevice());
    ElementValue first[] = {{0, "1200", 1200.0}, {2, "ON", std::nullopt}};
    publisher->valuesChanged("1207", first);
    publisher->start();
    QTest::qWait(300);
    EXPECT_FALSE(publisher->isConnected());
    ASSERT_TRUE(broker.start());

    const std::string status = "fieldmon/gateway/gw-outage/status";
    const std::string speed = "fieldmon/1207/main/label0";
    const std::string discovery = "homeassistant/device/fieldmon__1207/config";
    {
        TestSubscriber subscriber(broker.port());
        ASSERT_TRUE(subscriber.waitForMessage(status, "online", 15000)) << broker.log().toStdString();
        EXPECT_TRUE(subscriber.waitForMessage(speed, "1200"));
        EXPECT_TRUE(subscriber.waitForMessage("fieldmon/1207/main/bool2", "ON"));
        EXPECT_TRUE(subscriber.waitForMessage("fieldmon/1207/availability", "online"));
        EXPECT_TRUE(subscriber.waitFor([&] { return subscriber.countLocked(discovery) == 1; }));
    }

    broker.stop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !publisher->isConnected(); }, 5000));
    ElementValue second[] = {{0, "1300", 1300.0}};
    publisher->valuesChanged("1207", second);
    ASSERT_TRUE(broker.start());
    TestSubscriber subscriber(broker.port());
    EXPECT_TRUE(subscriber.waitForMessage(status, "online", 15000));
    EXPECT_TRUE(subscriber.waitForMessage(speed, "1300"));
    EXPECT_TRUE(subscriber.waitForMessage("fieldmon/1207/main/bool2", "ON")); // from the kept state
    EXPECT_TRUE(subscriber.waitFor([&] { return subscriber.countLocked(discovery) == 1; }));
    EXPECT_EQ(publisher->counters().connects, 2u);
    for (const testing::Received& m : subscriber.on(speed))
        EXPECT_EQ(m.payload, "1300"); // never the stale value

    // Home Assistant restarted: its "online" brings the discovery again.
    subscriber.publish("homeassistant/status", "online");
    EXPECT_TRUE(subscriber.waitFor([&] { return subscriber.countLocked(discovery) == 2; }));
}

INSTANTIATE_TEST_SUITE_P(MqttVersions, BrokerOutages, ::testing::Values(311, 5),
                         [](const auto& info) { return info.param == 5 ? "mqtt5" : "mqtt311"; });

TEST_F(BrokerTest, HostileNamesStayInTheirLevel)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    TestSubscriber subscriber(broker.port());
    ASSERT_TRUE(subscriber.waitSubscribed());
    auto publisher = makePublisher(settingsFor(broker.port(), "gw/+#"));
    publisher->start();
    ExportedDevice device = testing::pumpDevice("a/b+#\x01\xC3\x96");
    device.elements[0].page = "#/+";
    device.elements[0].element = "$x";
    publisher->deviceUp(device);
    ElementValue values[] = {{0, "42", 42.0}};
    publisher->valuesChanged(device.serial, values);

    const std::string state = "fieldmon/a~2Fb~2B~23~01~C3~96/~23~2F~2B/~24x";
    ASSERT_TRUE(subscriber.waitForMessage(state, "42"));
    EXPECT_TRUE(subscriber.waitForMessage("fieldmon/gateway/gw~2F~2B~23/status", "online"));
    for (const testing::Received& m : subscriber.messages()) {
        EXPECT_EQ(m.topic.find_first_of("+#"), std::string::npos) << m.topic;
        for (unsigned char c : m.topic)
            EXPECT_TRUE(c > 0x20 && c < 0x7F) << m.topic;
    }
    // The serial is one level: a wildcard over it finds the device once.
    std::size_t availability = 0;
    for (const testing::Received& m : subscriber.messages()) {
        int levels = static_cast<int>(std::count(m.topic.begin(), m.topic.end(), '/'));
        if (m.topic.starts_with("fieldmon/") && m.topic.ends_with("/availability") && levels == 2)
            ++availability;
    }
    EXPECT_EQ(availability, 1u);
}

TEST_F(BrokerTest, CommandsOnlyAsTheElementTakesThem)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    TestSubscriber commander(broker.port(), "fieldmon/gateway/#");
    ASSERT_TRUE(commander.waitSubscribed());

    auto settings = settingsFor(broker.port(), "gw-commands");
    settings.allowCommands = true;
    auto publisher = makePublisher(settings);
    std::vector<ElementCommand> ran;
    publisher->setCommandHandler([&](const ElementCommand& c) { ran.push_back(c); });
    publisher->deviceUp(testing::pumpDevice());
    publisher->start();
    // The subscription goes out before "online", and the broker keeps the order.
    ASSERT_TRUE(commander.waitForMessage("fieldmon/gateway/gw-commands/status", "online"));

    const std::string base = "fieldmon/1207/main/";
    struct Case {
        std::string element;
        std::string payload;
        std::optional<std::string> runs; // nothing: refused or ignored
    };
    const Case cases[] = {
        {"thumbwheel3", "Medium", std::nullopt}, // not one of the options
        {"thumbwheel3", "2 Fwd", "2 Fwd"},
        {"thumbwheel3", "2 fwd", std::nullopt},  // options match exactly
        {"bool2", "on", std::nullopt},
        {"bool2", "ON", "1"},
        {"bool2", "OFF", "0"},
        {"textfield4", "set speed 900", "set speed 900"},
        {"textfield4", "set speed 900\ncreboot", std::nullopt}, // would be a second command line
        {"textfield4", std::string(6000, 'x'), std::nullopt},
        {"label0", "5", std::nullopt},       // labels take no commands
        {"label0/set/x", "5", std::nullopt}, // nor does anything below a command topic
    };
    for (const Case& c : cases)
        commander.publish(base + c.element + "/set", c.payload);
    std::vector<std::string> expected;
    for (const Case& c : cases)
        if (c.runs)
            expected.push_back(*c.runs);
    ASSERT_TRUE(QTest::qWaitFor([&] { return publisher->counters().commandsRefused == 5; }, 10000))
        << publisher->counters().commandsRefused;
    QTest::qWait(200); // anything late would show up now
    std::vector<std::string> got;
    for (const ElementCommand& c : ran)
        got.push_back(c.value);
    EXPECT_EQ(got, expected);
    ASSERT_EQ(ran.size(), 4u);
    EXPECT_EQ(ran[0].element, 3u);
    EXPECT_EQ(ran[0].kind, ExportKind::Picker);
    EXPECT_EQ(ran[1].kind, ExportKind::Switch);

    // A retained command would run again at every reconnect: a gateway that
    // starts after one was left on the broker refuses it.
    commander.publish(base + "bool2/set", "OFF", true);
    auto later = makePublisher([&] {
        auto s = settingsFor(broker.port(), "gw-later");
        s.allowCommands = true;
        return s;
    }());
    int laterRan = 0;
    later->setCommandHandler([&](const ElementCommand&) { ++laterRan; });
    later->deviceUp(testing::pumpDevice());
    later->start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return later->counters().commandsRefused == 1; }, 10000));
    EXPECT_EQ(laterRan, 0);
    // Without --allow-commands nothing is subscribed, so nothing runs.
    auto readOnly = makePublisher(settingsFor(broker.port(), "gw-read-only"));
    int readOnlyRan = 0;
    readOnly->setCommandHandler([&](const ElementCommand&) { ++readOnlyRan; });
    readOnly->deviceUp(testing::pumpDevice());
    readOnly->start();
    ASSERT_TRUE(commander.waitForMessage("fieldmon/gateway/gw-read-only/status", "online"));
    commander.publish(base + "bool2/set", "ON");
    EXPECT_TRUE(QTest::qWaitFor([&] { return laterRan == 1; }, 5000)); // it is subscribed: it runs
    EXPECT_EQ(readOnlyRan, 0);
    commander.publish(base + "bool2/set", "", true); // clear the retained command
}

// While the broker is away only events wait, the newest per device, and at
// most queueLimit of them; the retained state goes out whole, once, after
// the reconnect.
TEST_F(BrokerTest, OfflineQueueIsBoundedAndTheNewestWins)
{
    MosquittoBroker broker;
    auto settings = settingsFor(broker.port(), "gw-queue");
    settings.queueLimit = 2;
    auto publisher = makePublisher(settings);
    publisher->start();
    for (const char* serial : {"1", "2", "3"})
        publisher->deviceUp(testing::pumpDevice(serial));
    for (const char* value : {"10", "20", "30"}) {
        ElementValue values[] = {{0, value, std::stod(value)}};
        publisher->valuesChanged("1", values);
    }
    publisher->event("1", "a1");
    publisher->event("1", "a2");
    publisher->event("2", "b1");
    publisher->event("3", "c1");
    publisher->event("3", "c2");
    EXPECT_EQ(publisher->waiting(), 2u);
    EXPECT_EQ(publisher->counters().dropped, 1u); // device 1's event, the oldest waiting

    ASSERT_TRUE(broker.start());
    TestSubscriber subscriber(broker.port());
    ASSERT_TRUE(subscriber.waitSubscribed());
    ASSERT_TRUE(subscriber.waitForMessage("fieldmon/3/event", R"({"event_type":"event","text":"c2"})", 15000));
    ASSERT_TRUE(subscriber.waitForMessage("fieldmon/1/main/label0", "30"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return publisher->waiting() == 0; }, 2000));
    QTest::qWait(200);
    EXPECT_EQ(subscriber.on("fieldmon/1/event").size(), 0u);
    ASSERT_EQ(subscriber.on("fieldmon/2/event").size(), 1u);
    EXPECT_EQ(subscriber.on("fieldmon/2/event")[0].payload, R"({"event_type":"event","text":"b1"})");
    EXPECT_EQ(subscriber.on("fieldmon/3/event").size(), 1u);
    EXPECT_EQ(subscriber.on("fieldmon/1/main/label0").size(), 1u);
    // The state going out again does not pass through the small outbox: nothing of it is lost.
    for (const char* serial : {"1", "2", "3"}) {
        std::string base = std::string("fieldmon/") + serial;
        EXPECT_EQ(subscriber.on("homeassistant/device/fieldmon__" + std::string(serial) + "/config").size(), 1u);
        EXPECT_EQ(subscriber.on(base + "/attributes").size(), 1u);
        EXPECT_EQ(subscriber.on(base + "/availability").size(), 1u);
    }
}

} // namespace
} // namespace fieldmon::gateway
