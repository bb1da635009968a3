#include "gateway/HomeAssistantDiscovery.h"

#include "GatewayFixtures.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

namespace fieldmon::gateway {
namespace {

using nlohmann::json;

json discovery(const ExportedDevice& device, bool allowCommands)
{
    TopicLayout topics("fieldmon", "homeassistant", "gw1");
    return json::parse(discoveryPayload(device, {topics, allowCommands, "0.1.0"}));
}

TEST(Discovery, OneMessagePerDeviceWithAComponentPerElement)
{
    ExportedDevice device = testing::pumpDevice();
    for (bool allow : {false, true}) {
        SCOPED_TRACE(allow ? "commands allowed" : "read-only");
        json message = discovery(device, allow);
        EXPECT_EQ(message["dev"]["ids"], json::array({"fieldmon__1207"}));
        EXPECT_EQ(message["dev"]["name"], "North well");
        EXPECT_EQ(message["dev"]["mdl"], "PUMP");
        EXPECT_EQ(message["o"]["name"], "fieldmon-gateway");
        EXPECT_EQ(message["availability_mode"], "all");
        EXPECT_EQ(message["availability"],
                  json::parse(R"([{"topic":"fieldmon/gateway/gw1/status"},{"topic":"fieldmon/1207/availability"}])"));

        const json& cmps = message["cmps"];
        // kind -> platform with and without commands; null: no component
        struct Row {
            const char* key;
            const char* readOnly;
            const char* withCommands;
        };
        for (Row row : {Row{"main__label0", "sensor", "sensor"}, Row{"main__gauge1", "sensor", "sensor"},
                        Row{"main__bool2", "binary_sensor", "switch"}, Row{"main__thumbwheel3", "sensor", "select"},
                        Row{"main__textfield4", nullptr, "text"}, Row{"main__label5", "sensor", "sensor"}}) {
            const char* platform = allow ? row.withCommands : row.readOnly;
            if (!platform) {
                EXPECT_FALSE(cmps.contains(row.key)) << row.key;
                continue;
            }
            ASSERT_TRUE(cmps.contains(row.key)) << row.key;
            const json& c = cmps[row.key];
            EXPECT_EQ(c["p"], platform) << row.key;
            EXPECT_EQ(c.contains("command_topic"), allow && std::string(row.key) != "main__label0" &&
                                                       std::string(row.key) != "main__gauge1" &&
                                                       std::string(row.key) != "main__label5")
                << row.key;
            EXPECT_EQ(c["unique_id"], std::string("fieldmon__1207__") + row.key);
        }
        EXPECT_EQ(cmps["main__label0"]["unit_of_measurement"], "rpm");
        EXPECT_EQ(cmps["main__label0"]["state_class"], "measurement");
        EXPECT_EQ(cmps["main__label0"]["state_topic"], "fieldmon/1207/main/label0");
        EXPECT_FALSE(cmps["main__label5"].contains("state_class")); // text, not a number
        EXPECT_EQ(cmps["event"]["p"], "event");
        EXPECT_EQ(cmps["event"]["state_topic"], "fieldmon/1207/event");
        if (allow) {
            EXPECT_EQ(cmps["main__thumbwheel3"]["options"], json::array({"1 Fwd", "2 Fwd", "1 Rev"}));
            EXPECT_EQ(cmps["main__bool2"]["command_topic"], "fieldmon/1207/main/bool2/set");
        }
    }
}

TEST(Discovery, HostileTextStaysValidJson)
{
    // Device names are bytes from the network: invalid UTF-8 once made
    // nlohmann::json throw out of dump().
    ExportedDevice device = testing::pumpDevice("a/b+#");
    device.name = "bad \xC3\x28 \xFF name \"quoted\"";
    device.documentError = "line 3: \x01 unexpected";
    device.elements[0].page = "P/+#";
    json message = discovery(device, true);
    EXPECT_EQ(message["dev"]["sn"], "a/b+#");
    EXPECT_EQ(message["cmps"]["P_2F_2B_23__label0"]["state_topic"], "fieldmon/a~2Fb~2B~23/P~2F~2B~23/label0");
    json attributes = json::parse(attributesPayload(device));
    EXPECT_EQ(attributes["document"], "error");
    EXPECT_EQ(attributes["error"], "line 3: \x01 unexpected");
}

} // namespace
} // namespace fieldmon::gateway
