#pragma once
// Where everything the gateway publishes goes. Names that come from
// devices are escaped level by level (TopicEscape.h); a serial that would
// read "gateway" is escaped one byte further ("~67ateway"), so that no
// device topic can land on the gateway's own status topic.
//
//   <prefix>/gateway/<id>/status              online / offline, retained (the last will)
//   <prefix>/<serial>/availability            online / offline, retained
//   <prefix>/<serial>/attributes              identity and document error, JSON, retained
//   <prefix>/<serial>/<page>/<element>        the element's value, retained
//   <prefix>/<serial>/<page>/<element>/set    commands to the element
//   <prefix>/<serial>/event                   events, JSON, not retained
//   <prefix>/<serial>/link                    link health, JSON, retained
//   <discovery>/device/<device id>/config     Home Assistant device discovery, retained
//   <discovery>/status                        Home Assistant's own status (read)
//
// Thread rule: immutable after construction; any thread.

#include <string>

namespace fieldmon::gateway {

class TopicLayout {
public:
    TopicLayout(std::string prefix, std::string discoveryPrefix, const std::string& gatewayId);

    const std::string& gatewayStatus() const { return gatewayStatus_; }
    std::string serialLevel(const std::string& serial) const;
    std::string availability(const std::string& serial) const;
    std::string attributes(const std::string& serial) const;
    std::string event(const std::string& serial) const;
    std::string link(const std::string& serial) const;
    std::string state(const std::string& serial, const std::string& page, const std::string& element) const;
    std::string command(const std::string& serial, const std::string& page, const std::string& element) const;
    // What the gateway subscribes to for commands: every element's command topic.
    std::string commandPattern() const { return prefix_ + "/+/+/+/set"; }

    // Home Assistant's id of the device: unique per topic prefix and serial.
    std::string deviceId(const std::string& serial) const;
    std::string discovery(const std::string& serial) const;
    std::string homeAssistantStatus() const { return discoveryPrefix_ + "/status"; }

private:
    std::string deviceBase(const std::string& serial) const;

    std::string prefix_;
    std::string discoveryPrefix_;
    std::string gatewayStatus_;
};

} // namespace fieldmon::gateway
