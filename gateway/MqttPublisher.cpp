#include "gateway/MqttPublisher.h"

#include "gateway/HomeAssistantDiscovery.h"
#include "gateway/TopicEscape.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace fieldmon::gateway {

namespace {

using nlohmann::json;

constexpr std::size_t longestCommandText = 5999; // what a device's command line takes

std::string dump(const json& value)
{
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

json optionalNumber(const std::optional<double>& value)
{
    return value ? json(*value) : json(nullptr);
}

std::string linkPayload(const LinkFigures& figures)
{
    return dump({{"rtt_p50", optionalNumber(figures.rttP50)},
                 {"rtt_p90", optionalNumber(figures.rttP90)},
                 {"rtt_p99", optionalNumber(figures.rttP99)},
                 {"loss_ratio", optionalNumber(figures.lossRatio)},
                 {"requests", figures.requests},
                 {"replies", figures.replies}});
}

bool takesCommands(ExportKind kind)
{
    switch (kind) {
    case ExportKind::Switch:
    case ExportKind::Picker:
    case ExportKind::TextField:
        return true;
    case ExportKind::Label:
    case ExportKind::Gauge:
        return false;
    }
    return false;
}

bool hasState(ExportKind kind)
{
    return kind != ExportKind::TextField;
}

bool hasControlCharacter(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

bool sameElements(const ExportedDevice& a, const ExportedDevice& b)
{
    if (a.elements.size() != b.elements.size())
        return false;
    for (std::size_t i = 0; i < a.elements.size(); ++i) {
        const ExportedElement& x = a.elements[i];
        const ExportedElement& y = b.elements[i];
        if (x.page != y.page || x.element != y.element || x.kind != y.kind)
            return false;
    }
    return true;
}

} // namespace

std::unique_ptr<MqttPublisher> MqttPublisher::create(Settings settings, std::string& error)
{
    std::unique_ptr<MqttPublisher> publisher(new MqttPublisher(std::move(settings)));
    MqttClient::Settings connection = publisher->settings_.connection;
    connection.willTopic = publisher->topics_.gatewayStatus();
    connection.willPayload = "offline";
    publisher->client_ = MqttClient::create(connection, *publisher, error);
    if (!publisher->client_)
        return nullptr;
    return publisher;
}

MqttPublisher::MqttPublisher(Settings settings)
    : settings_(std::move(settings)),
      topics_(settings_.topicPrefix, settings_.discoveryPrefix, settings_.connection.clientId),
      outbox_(settings_.queueLimit)
{
}

MqttPublisher::~MqttPublisher()
{
    // The client joins its thread first; queued calls into this object die with it.
    client_.reset();
}

void MqttPublisher::start()
{
    client_->start();
}

void MqttPublisher::stop(double budgetSeconds)
{
    if (stopping_)
        return;
    stopping_ = true;
    resend_.clear();
    resendBatch_.clear();
    if (connected_) {
        publishStatus("offline");
        QEventLoop wait;
        QTimer tick;
        QElapsedTimer clock;
        clock.start();
        QObject::connect(&tick, &QTimer::timeout, &wait, [&] {
            bool done = !connected_ || idle();
            if (done || clock.elapsed() > budgetSeconds * 1000)
                wait.quit();
        });
        tick.start(20);
        wait.exec();
    }
    client_->stop();
    connected_ = false;
}

MqttPublisher::Counters MqttPublisher::counters() const
{
    Counters counters = counters_;
    counters.dropped = outbox_.dropped();
    return counters;
}

// --- the device side -------------------------------------------------------

void MqttPublisher::deviceUp(const ExportedDevice& description)
{
    auto [it, isNew] = devices_.try_emplace(description.serial);
    Device& device = it->second;
    if (!isNew && !sameElements(device.description, description)) {
        // The document changed: clear the retained values of elements that
        // are gone, and forget the command topics of the old elements.
        for (std::size_t i = 0; i < device.description.elements.size(); ++i) {
            const ExportedElement& old = device.description.elements[i];
            commandTopics_.erase(topics_.command(description.serial, old.page, old.element));
            bool kept = std::any_of(description.elements.begin(), description.elements.end(), [&](const auto& e) {
                return e.page == old.page && e.element == old.element;
            });
            if (!kept && device.values[i])
                send(topics_.state(description.serial, old.page, old.element), "", true, false);
        }
        device.values.clear();
    }
    device.description = description;
    device.values.resize(description.elements.size());
    device.up = true;
    if (settings_.allowCommands) {
        for (std::size_t i = 0; i < description.elements.size(); ++i) {
            const ExportedElement& element = description.elements[i];
            if (takesCommands(element.kind))
                commandTopics_[topics_.command(description.serial, element.page, element.element)] = {
                    description.serial, i};
        }
    }
    DiscoveryContext context{topics_, settings_.allowCommands, settings_.gatewayVersion};
    std::string discovery = discoveryPayload(description, context);
    if (discovery != device.discovery || isNew) {
        device.discovery = std::move(discovery);
        send(topics_.discovery(description.serial), device.discovery, true);
    }
    send(topics_.attributes(description.serial), attributesPayload(description), true);
    send(topics_.availability(description.serial), "online", true);
}

void MqttPublisher::deviceDown(const std::string& serial)
{
    auto it = devices_.find(serial);
    if (it == devices_.end() || !it->second.up)
        return;
    it->second.up = false;
    send(topics_.availability(serial), "offline", true);
}

void MqttPublisher::valuesChanged(const std::string& serial, std::span<const ElementValue> values)
{
    auto it = devices_.find(serial);
    if (it == devices_.end() || !it->second.up)
        return;
    Device& device = it->second;
    for (const ElementValue& value : values) {
        if (value.element >= device.values.size())
            continue;
        const ExportedElement& element = device.description.elements[value.element];
        std::optional<std::string>& last = device.values[value.element];
        if (!hasState(element.kind) || (last && *last == value.text))
            continue;
        last = value.text;
        send(topics_.state(serial, element.page, element.element), value.text, true);
    }
}

void MqttPublisher::event(const std::string& serial, const std::string& text)
{
    if (!devices_.count(serial))
        return;
    send(topics_.event(serial), dump({{"event_type", "event"}, {"text", text}}), false, false);
}

void MqttPublisher::linkFigures(const std::string& serial, const LinkFigures& figures)
{
    auto it = devices_.find(serial);
    if (it == devices_.end())
        return;
    std::string payload = linkPayload(figures);
    if (it->second.link == payload)
        return;
    it->second.link = payload;
    send(topics_.link(serial), std::move(payload), true);
}

// --- the broker side -------------------------------------------------------

void MqttPublisher::connected()
{
    connected_ = true;
    ++counters_.connects;
    // Messages libmosquitto still holds from the last connection are resent
    // by it; their acknowledgements no longer count against the limit.
    inflight_.clear();
    // The kept state goes out again whole: what was waiting of it is stale.
    outbox_.discardRestorable();
    client_->subscribe(topics_.homeAssistantStatus());
    if (settings_.allowCommands)
        client_->subscribe(topics_.commandPattern());
    resend_.clear();
    resendBatch_.clear();
    for (const auto& [serial, device] : devices_)
        resend_.emplace_back(serial, Resend::Everything);
    publishStatus(stopping_ ? "offline" : "online");
    drain();
}

void MqttPublisher::connectionLost()
{
    connected_ = false;
}

void MqttPublisher::refused(MqttClient::Refusal why, const std::string& text)
{
    connected_ = false;
    if (refusedHandler_)
        refusedHandler_(why, text);
}

void MqttPublisher::delivered(int messageId)
{
    inflight_.erase(messageId);
    drain();
}

void MqttPublisher::messageArrived(const std::string& topic, const std::string& payload, bool retained)
{
    if (topic == topics_.homeAssistantStatus()) {
        if (payload != "online")
            return;
        for (const auto& [serial, device] : devices_)
            resend_.emplace_back(serial, Resend::DiscoveryOnly);
        drain();
        return;
    }
    if (!settings_.allowCommands)
        return;
    auto it = commandTopics_.find(topic);
    if (it == commandTopics_.end())
        return; // not a command topic of ours: nothing to run
    handleCommand(it->second, payload, retained);
}

// The gateway's status goes ahead of everything waiting, and takes no
// waiting message's place in the outbox.
void MqttPublisher::publishStatus(const char* status)
{
    std::optional<int> messageId = client_->publish(topics_.gatewayStatus(), status, true);
    if (!messageId)
        return; // the next connect publishes it
    inflight_.insert(*messageId);
    ++counters_.published;
}

void MqttPublisher::send(std::string topic, std::string payload, bool retain, bool restorable)
{
    if (!connected_ && restorable)
        return; // goes out with the whole state after the reconnect
    outbox_.put({std::move(topic), std::move(payload), retain, restorable});
    drain();
}

void MqttPublisher::drain()
{
    while (connected_ && inflight_.size() < settings_.inflightLimit) {
        std::optional<OutgoingMessage> message = outbox_.take();
        bool fromOutbox = message.has_value();
        if (!message && !resendBatch_.empty()) {
            message = std::move(resendBatch_.front());
            resendBatch_.pop_front();
        }
        if (!message) {
            if (resend_.empty())
                return;
            auto [serial, what] = resend_.front();
            resend_.pop_front();
            if (auto it = devices_.find(serial); it != devices_.end())
                queueDevice(it->second, what);
            continue;
        }
        std::optional<int> messageId = client_->publish(message->topic, message->payload, message->retain);
        if (!messageId) {
            if (fromOutbox)
                outbox_.putFront(std::move(*message));
            else
                resendBatch_.push_front(std::move(*message));
            return;
        }
        inflight_.insert(*messageId);
        ++counters_.published;
    }
}

// Makes a device's retained state into the batch that drain() sends after
// the outbox. One device at a time: the batch never holds more than one
// device's topics, and none of them pushes a waiting message out.
void MqttPublisher::queueDevice(const Device& device, Resend what)
{
    const std::string& serial = device.description.serial;
    resendBatch_.push_back({topics_.discovery(serial), device.discovery, true, true});
    if (what == Resend::DiscoveryOnly)
        return;
    resendBatch_.push_back({topics_.attributes(serial), attributesPayload(device.description), true, true});
    resendBatch_.push_back({topics_.availability(serial), device.up ? "online" : "offline", true, true});
    if (device.link)
        resendBatch_.push_back({topics_.link(serial), *device.link, true, true});
    for (std::size_t i = 0; i < device.values.size(); ++i) {
        if (!device.values[i])
            continue;
        const ExportedElement& element = device.description.elements[i];
        resendBatch_.push_back({topics_.state(serial, element.page, element.element), *device.values[i], true, true});
    }
}

// --- commands --------------------------------------------------------------

void MqttPublisher::handleCommand(const CommandTarget& target, const std::string& payload, bool retained)
{
    auto it = devices_.find(target.serial);
    if (it == devices_.end() || target.element >= it->second.description.elements.size())
        return;
    const Device& device = it->second;
    const ExportedElement& element = device.description.elements[target.element];
    if (!device.up)
        return refuseCommand(target.serial, element, "the device is not present");
    if (retained)
        return refuseCommand(target.serial, element, "a retained command is never run (the broker replays it)");
    ElementCommand command{target.serial, target.element, element.kind, {}};
    switch (element.kind) {
    case ExportKind::Switch:
        if (payload != "ON" && payload != "OFF")
            return refuseCommand(target.serial, element, "a switch takes ON or OFF");
        command.value = payload == "ON" ? "1" : "0";
        break;
    case ExportKind::Picker:
        if (std::find(element.options.begin(), element.options.end(), payload) == element.options.end())
            return refuseCommand(target.serial, element, "'" + escapeTopicLevel(payload.substr(0, 80)) + "' is not one of its options");
        command.value = payload;
        break;
    case ExportKind::TextField:
        if (payload.size() > longestCommandText || hasControlCharacter(payload))
            return refuseCommand(target.serial, element,
                                 "text must be at most 5999 bytes without control characters");
        command.value = payload;
        break;
    case ExportKind::Label:
    case ExportKind::Gauge:
        return; // never registered as a command topic
    }
    ++counters_.commandsAccepted;
    if (commandHandler_)
        commandHandler_(command);
}

void MqttPublisher::refuseCommand(const std::string& serial, const ExportedElement& element, const std::string& why)
{
    ++counters_.commandsRefused;
    // Names are printed escaped: they come from devices and may hold anything.
    std::fprintf(stderr, "fieldmon-gateway: command for %s %s/%s refused: %s\n", topics_.serialLevel(serial).c_str(),
                 escapeTopicLevel(element.page).c_str(), escapeTopicLevel(element.element).c_str(), why.c_str());
}

} // namespace fieldmon::gateway
