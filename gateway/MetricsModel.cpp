#include "gateway/MetricsModel.h"

#include "gateway/PromText.h"

#include <limits>
#include <optional>
#include <utility>

namespace fieldmon::gateway {

namespace {

void family(std::string& out, const char* name, const char* type, const char* help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

// One sample line: name{label="value",...} number
class Sample {
public:
    Sample(std::string& out, const char* name) : out_(out) { out_ += name; }
    Sample& label(const char* name, std::string_view value)
    {
        out_ += first_ ? '{' : ',';
        first_ = false;
        out_ += name;
        out_ += "=\"";
        appendLabelValue(out_, value);
        out_ += '"';
        return *this;
    }
    void value(double number)
    {
        if (!first_)
            out_ += '}';
        out_ += ' ';
        appendSampleValue(out_, number);
        out_ += '\n';
    }

private:
    std::string& out_;
    bool first_ = true;
};

} // namespace

MetricsModel::MetricsModel(std::size_t maxSeries, std::string version)
    : maxSeries_(maxSeries), version_(std::move(version))
{
}

bool MetricsModel::admit(std::size_t count)
{
    if (series_ + count > maxSeries_) {
        seriesDropped_ += count;
        return false;
    }
    series_ += count;
    return true;
}

void MetricsModel::setBrokerFigures(const BrokerFigures& figures)
{
    if (figures.configured == broker_.configured && figures.connected == broker_.connected &&
        figures.messagesDropped == broker_.messagesDropped && figures.commandsRefused == broker_.commandsRefused)
        return;
    broker_ = figures;
    ++generation_;
}

void MetricsModel::deviceUp(const ExportedDevice& description)
{
    auto [it, isNew] = devices_.try_emplace(description.serial);
    Device& device = it->second;
    if (isNew)
        device.admitted = admit(seriesPerDevice);
    device.name = description.name;
    device.type = description.type;
    device.up = true;
    // Values keep their series where the same element is still there.
    std::vector<Value> values;
    values.reserve(description.elements.size());
    for (const ExportedElement& element : description.elements) {
        Value value{element.page, element.element, Admission::NotYet, 0};
        for (Value& old : device.values) {
            if (old.page == element.page && old.element == element.element && old.admission != Admission::NotYet) {
                value = std::move(old);
                old.admission = Admission::NotYet; // taken over: not released below
                break;
            }
        }
        values.push_back(std::move(value));
    }
    for (const Value& gone : device.values)
        if (gone.admission == Admission::Admitted)
            --series_;
    device.values = std::move(values);
    ++generation_;
}

void MetricsModel::deviceDown(const std::string& serial)
{
    auto it = devices_.find(serial);
    if (it == devices_.end() || !it->second.up)
        return;
    it->second.up = false;
    ++generation_;
}

void MetricsModel::valuesChanged(const std::string& serial, std::span<const ElementValue> values)
{
    auto it = devices_.find(serial);
    if (it == devices_.end() || !it->second.admitted)
        return;
    Device& device = it->second;
    for (const ElementValue& update : values) {
        if (update.element >= device.values.size() || !update.number)
            continue;
        Value& value = device.values[update.element];
        if (value.admission == Admission::NotYet)
            value.admission = admit(1) ? Admission::Admitted : Admission::Dropped;
        if (value.admission == Admission::Dropped || value.number == *update.number)
            continue;
        value.number = *update.number;
        ++generation_;
    }
}

void MetricsModel::event(const std::string&, const std::string&)
{
    // Events are messages, not numbers: MQTT carries them.
}

void MetricsModel::linkFigures(const std::string& serial, const LinkFigures& figures)
{
    auto it = devices_.find(serial);
    if (it == devices_.end())
        return;
    it->second.link = figures;
    ++generation_;
}

std::string MetricsModel::render() const
{
    std::string out;
    out.reserve(256 + devices_.size() * 900);
    family(out, "fieldmon_gateway_info", "gauge", "The gateway's version; always 1.");
    Sample(out, "fieldmon_gateway_info").label("version", version_).value(1);

    family(out, "fieldmon_device_up", "gauge", "Whether the device is present (1) or was lost (0).");
    for (const auto& [serial, device] : devices_)
        if (device.admitted)
            Sample(out, "fieldmon_device_up")
                .label("serial", serial)
                .label("name", device.name)
                .label("type", device.type)
                .value(device.up ? 1 : 0);

    family(out, "fieldmon_link_rtt_seconds", "summary", "Round-trip time of the device's requests.");
    static constexpr std::pair<const char*, std::optional<double> LinkFigures::*> quantiles[] = {
        {"0.5", &LinkFigures::rttP50}, {"0.9", &LinkFigures::rttP90}, {"0.99", &LinkFigures::rttP99}};
    for (const auto& [serial, device] : devices_) {
        if (!device.admitted)
            continue;
        for (const auto& [quantile, member] : quantiles) {
            const std::optional<double>& figure = device.link.*member;
            Sample(out, "fieldmon_link_rtt_seconds")
                .label("serial", serial)
                .label("quantile", quantile)
                .value(figure ? *figure : std::numeric_limits<double>::quiet_NaN());
        }
        Sample(out, "fieldmon_link_rtt_seconds_sum").label("serial", serial).value(device.link.rttSum);
        Sample(out, "fieldmon_link_rtt_seconds_count")
            .label("serial", serial)
            .value(static_cast<double>(device.link.rttCount));
    }

    family(out, "fieldmon_link_loss_ratio", "gauge", "Share of recent requests that got no reply (0 to 1).");
    for (const auto& [serial, device] : devices_)
        if (device.admitted)
            Sample(out, "fieldmon_link_loss_ratio")
                .label("serial", serial)
                .value(device.link.lossRatio ? *device.link.lossRatio : std::numeric_limits<double>::quiet_NaN());

    family(out, "fieldmon_requests_total", "counter", "Request datagrams sent to the device.");
    for (const auto& [serial, device] : devices_)
        if (device.admitted)
            Sample(out, "fieldmon_requests_total").label("serial", serial).value(static_cast<double>(device.link.requests));

    family(out, "fieldmon_replies_total", "counter", "Replies received from the device.");
    for (const auto& [serial, device] : devices_)
        if (device.admitted)
            Sample(out, "fieldmon_replies_total").label("serial", serial).value(static_cast<double>(device.link.replies));

    family(out, "fieldmon_value", "gauge", "Numeric values the device's pages show.");
    for (const auto& [serial, device] : devices_)
        for (const Value& value : device.values)
            if (value.admission == Admission::Admitted)
                Sample(out, "fieldmon_value")
                    .label("serial", serial)
                    .label("page", value.page)
                    .label("element", value.element)
                    .value(value.number);

    family(out, "fieldmon_series_dropped_total", "counter", "Series not exported because of the series cap.");
    Sample(out, "fieldmon_series_dropped_total").value(static_cast<double>(seriesDropped_));

    if (broker_.configured) {
        family(out, "fieldmon_mqtt_connected", "gauge", "Whether the gateway is connected to its MQTT broker.");
        Sample(out, "fieldmon_mqtt_connected").value(broker_.connected ? 1 : 0);
        family(out, "fieldmon_mqtt_messages_dropped_total", "counter",
               "MQTT messages dropped because too many topics were waiting for the broker.");
        Sample(out, "fieldmon_mqtt_messages_dropped_total").value(static_cast<double>(broker_.messagesDropped));
        family(out, "fieldmon_mqtt_commands_refused_total", "counter", "Commands from MQTT that were refused.");
        Sample(out, "fieldmon_mqtt_commands_refused_total").value(static_cast<double>(broker_.commandsRefused));
    }
    return out;
}

} // namespace fieldmon::gateway
