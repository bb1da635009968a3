#pragma once
// Publishes what the devices show to an MQTT broker (see TopicLayout.h
// for the topics and HomeAssistantDiscovery.h for the discovery message).
//
// - Values are published when they change, retained. The publisher keeps
//   every device's last published state, and after each (re)connect it
//   publishes the gateway's "online" and then, device by device, the whole
//   retained state again: a broker that restarted without its store gets
//   everything back. When Home Assistant says "online" on its status
//   topic, every device's discovery message is sent again.
// - Messages wait in a bounded MqttOutbox while `inflightLimit` messages
//   are unacknowledged (so a slow broker cannot make memory grow), newest
//   value per topic winning. While the broker is unreachable only events
//   wait there (newest per device); the retained state needs no queue, as
//   it goes out whole from the kept state after the reconnect.
// - Commands, only with allowCommands: the publisher subscribes to the
//   elements' command topics and hands a command to the CommandHandler
//   only when it arrives on the command topic of a switch, picker or text
//   field of a device that is up, is not a retained message (which the
//   broker would replay at every reconnect), and is acceptable for its
//   kind: "ON"/"OFF" for a switch (given on as "1"/"0"), exactly one of
//   the options for a picker, text without control characters of at most
//   5999 bytes for a text field. Everything else is refused with a line on
//   standard error and counted. There is no other command topic.
//
// Thread rule: main thread only. The MqttClient's thread reaches it only
// through calls the client queues to the main thread.

#include "gateway/DeviceSink.h"
#include "gateway/MqttClient.h"
#include "gateway/MqttOutbox.h"
#include "gateway/TopicLayout.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace fieldmon::gateway {

// A command for one element, checked: what the element runs, exactly
// as a touch on its widget would.
struct ElementCommand {
    std::string serial;
    std::size_t element = 0; // index into the device's ExportedDevice::elements
    ExportKind kind = ExportKind::Switch;
    std::string value; // switch: "1" or "0"; picker: the option; text field: the text
};

class MqttPublisher final : public DeviceSink, private MqttClient::Listener {
public:
    struct Settings {
        MqttClient::Settings connection; // the will is set from the layout
        std::string topicPrefix = "fieldmon";
        std::string discoveryPrefix = "homeassistant";
        bool allowCommands = false;
        std::size_t queueLimit = 10000;
        std::size_t inflightLimit = 1000;
        std::string gatewayVersion;
    };
    using CommandHandler = std::function<void(const ElementCommand&)>;
    using RefusedHandler = std::function<void(MqttClient::Refusal, const std::string& text)>;

    struct Counters {
        std::uint64_t published = 0;        // handed to the broker's connection
        std::uint64_t dropped = 0;          // pushed out of the full outbox
        std::uint64_t commandsAccepted = 0;
        std::uint64_t commandsRefused = 0;
        std::uint64_t connects = 0;
    };

    // Nothing (and `error` set) when the connection settings are refused.
    static std::unique_ptr<MqttPublisher> create(Settings settings, std::string& error);
    ~MqttPublisher() override;

    void setCommandHandler(CommandHandler handler) { commandHandler_ = std::move(handler); }
    // Called when the broker refuses the gateway for good (the connection
    // has stopped by then).
    void setRefusedHandler(RefusedHandler handler) { refusedHandler_ = std::move(handler); }

    void start();
    // Publishes the gateway's "offline" and waits (running the main loop's
    // events) up to `budgetSeconds` for everything queued to be
    // acknowledged, then disconnects.
    void stop(double budgetSeconds);

    bool isConnected() const { return connected_; }
    Counters counters() const;
    // Messages in the outbox (not the state that goes out again after a reconnect).
    std::size_t waiting() const { return outbox_.size(); }
    // Nothing waits and the broker acknowledged everything sent.
    bool idle() const { return outbox_.empty() && resend_.empty() && resendBatch_.empty() && inflight_.empty(); }
    const TopicLayout& topics() const { return topics_; }

    // DeviceSink
    void deviceUp(const ExportedDevice& device) override;
    void deviceDown(const std::string& serial) override;
    void valuesChanged(const std::string& serial, std::span<const ElementValue> values) override;
    void event(const std::string& serial, const std::string& text) override;
    void linkFigures(const std::string& serial, const LinkFigures& figures) override;

private:
    struct Device {
        ExportedDevice description;
        bool up = false;
        std::string discovery; // the payload last built
        std::vector<std::optional<std::string>> values; // last published, per element
        std::optional<std::string> link;
    };
    struct CommandTarget {
        std::string serial;
        std::size_t element = 0;
    };
    enum class Resend { Everything, DiscoveryOnly };

    MqttPublisher(Settings settings);

    // MqttClient::Listener
    void connected() override;
    void connectionLost() override;
    void refused(MqttClient::Refusal why, const std::string& text) override;
    void messageArrived(const std::string& topic, const std::string& payload, bool retained) override;
    void delivered(int messageId) override;

    // `restorable`: queueDevice() can make the message again from the kept state.
    void send(std::string topic, std::string payload, bool retain, bool restorable = true);
    void drain();
    void publishStatus(const char* status);
    void queueDevice(const Device& device, Resend what);
    void handleCommand(const CommandTarget& target, const std::string& payload, bool retained);
    void refuseCommand(const std::string& serial, const ExportedElement& element, const std::string& why);

    Settings settings_;
    TopicLayout topics_;
    std::unique_ptr<MqttClient> client_;
    MqttOutbox outbox_;
    std::set<int> inflight_;
    bool connected_ = false;
    bool stopping_ = false;
    std::map<std::string, Device> devices_; // by serial
    std::unordered_map<std::string, CommandTarget> commandTopics_;
    std::deque<std::pair<std::string, Resend>> resend_; // serials whose state goes out again
    std::deque<OutgoingMessage> resendBatch_;           // the state of the one being sent
    Counters counters_;
    CommandHandler commandHandler_;
    RefusedHandler refusedHandler_;
};

} // namespace fieldmon::gateway
