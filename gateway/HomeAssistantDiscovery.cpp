#include "gateway/HomeAssistantDiscovery.h"

#include "gateway/TopicEscape.h"

#include <nlohmann/json.hpp>

namespace fieldmon::gateway {

namespace {

using nlohmann::json;

// Text from devices may be any bytes; JSON must be UTF-8. Invalid
// sequences become U+FFFD instead of an exception.
std::string dump(const json& value)
{
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string titleOf(const ExportedElement& element)
{
    if (!element.title.empty())
        return element.title;
    return element.page + " " + element.element;
}

// The element's component, or a null value when it has none.
json elementComponent(const ExportedDevice& device, const ExportedElement& element, const DiscoveryContext& context)
{
    const TopicLayout& topics = context.topics;
    json c;
    c["name"] = titleOf(element);
    c["unique_id"] = topics.deviceId(device.serial) + "__" + componentKey(element);
    c["state_topic"] = topics.state(device.serial, element.page, element.element);
    std::string commandTopic = topics.command(device.serial, element.page, element.element);
    auto sensor = [&] {
        c["p"] = "sensor";
        if (element.numeric) {
            c["state_class"] = "measurement";
            if (!element.unit.empty())
                c["unit_of_measurement"] = element.unit;
        }
    };
    switch (element.kind) {
    case ExportKind::Label:
    case ExportKind::Gauge:
        sensor();
        return c;
    case ExportKind::Switch:
        c["payload_on"] = "ON";
        c["payload_off"] = "OFF";
        if (!context.allowCommands) {
            c["p"] = "binary_sensor";
            return c;
        }
        c["p"] = "switch";
        c["command_topic"] = commandTopic;
        return c;
    case ExportKind::Picker:
        if (!context.allowCommands) {
            c["p"] = "sensor";
            return c;
        }
        c["p"] = "select";
        c["command_topic"] = commandTopic;
        c["options"] = element.options;
        return c;
    case ExportKind::TextField:
        if (!context.allowCommands)
            return nullptr;
        c["p"] = "text";
        c["command_topic"] = commandTopic;
        c.erase("state_topic"); // a text field shows nothing of its own
        c["max"] = 255;
        return c;
    }
    return nullptr;
}

} // namespace

std::string componentKey(const ExportedElement& element)
{
    // homeAssistantId never makes "__", so the pair reads back one way only.
    return homeAssistantId(element.page) + "__" + homeAssistantId(element.element);
}

std::string discoveryPayload(const ExportedDevice& device, const DiscoveryContext& context)
{
    const TopicLayout& topics = context.topics;
    const std::string id = topics.deviceId(device.serial);
    json message;
    json& dev = message["dev"];
    dev["ids"] = json::array({id});
    dev["name"] = device.name.empty() ? device.serial : device.name;
    dev["mf"] = "fieldmon";
    if (!device.type.empty())
        dev["mdl"] = device.type;
    if (!device.version.empty())
        dev["sw"] = device.version;
    dev["sn"] = device.serial;
    message["o"] = {{"name", "fieldmon-gateway"}, {"sw", context.gatewayVersion}};
    message["availability"] = json::array({{{"topic", topics.gatewayStatus()}}, {{"topic", topics.availability(device.serial)}}});
    message["availability_mode"] = "all";
    message["qos"] = 1;

    json& cmps = message["cmps"];
    cmps = json::object();
    for (const ExportedElement& element : device.elements) {
        json component = elementComponent(device, element, context);
        if (!component.is_null())
            cmps[componentKey(element)] = std::move(component);
    }
    // The fixed entities' keys have one '_' only, so no element key
    // (always with "__") can take their place.
    cmps["document"] = {{"p", "sensor"},
                        {"name", "Document"},
                        {"unique_id", id + "__document"},
                        {"state_topic", topics.attributes(device.serial)},
                        {"value_template", "{{ value_json.document }}"},
                        {"json_attributes_topic", topics.attributes(device.serial)},
                        {"entity_category", "diagnostic"}};
    cmps["link_rtt"] = {{"p", "sensor"},
                        {"name", "Round trip"},
                        {"unique_id", id + "__link_rtt"},
                        {"state_topic", topics.link(device.serial)},
                        {"value_template", "{{ value_json.rtt_p50 }}"},
                        {"unit_of_measurement", "s"},
                        {"device_class", "duration"},
                        {"state_class", "measurement"},
                        {"json_attributes_topic", topics.link(device.serial)},
                        {"entity_category", "diagnostic"}};
    cmps["event"] = {{"p", "event"},
                     {"name", "Event"},
                     {"unique_id", id + "__event"},
                     {"state_topic", topics.event(device.serial)},
                     {"event_types", json::array({"event"})}};
    return dump(message);
}

std::string attributesPayload(const ExportedDevice& device)
{
    json attributes = {{"serial", device.serial},   {"name", device.name},       {"type", device.type},
                       {"platform", device.platform}, {"version", device.version}, {"address", device.address},
                       {"document", device.documentError.empty() ? "ok" : "error"}};
    if (!device.documentError.empty())
        attributes["error"] = device.documentError;
    return dump(attributes);
}

} // namespace fieldmon::gateway
