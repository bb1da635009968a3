#pragma once
// The gateway's Prometheus metrics: what the devices report, kept as
// numbers and written out in the text exposition format on request.
//
//   fieldmon_gateway_info{version}                   1
//   fieldmon_device_up{serial,name,type}             1 present, 0 lost
//   fieldmon_link_rtt_seconds{serial,quantile}       summary (0.5, 0.9, 0.99, _sum, _count)
//   fieldmon_link_loss_ratio{serial}                 0..1
//   fieldmon_requests_total{serial}                  counter
//   fieldmon_replies_total{serial}                   counter
//   fieldmon_value{serial,page,element}              numeric element values
//   fieldmon_series_dropped_total                    series refused by the cap
//   fieldmon_mqtt_connected, fieldmon_mqtt_messages_dropped_total,
//   fieldmon_mqtt_commands_refused_total             the broker side
//
// At most `maxSeries` device and value series exist. A device takes its
// nine series (up, three quantiles, sum, count, loss, requests, replies)
// when it first comes up, all or none; a value takes its series at its
// first number. What does not fit is not exported, and
// fieldmon_series_dropped_total counts each refused series once. A lost
// device keeps its series (fieldmon_device_up 0), so counters stay
// monotonic when it returns.
//
// Thread rule: main thread only. The HTTP server never reads it: it
// serves the text render() made, handed over as a MetricsSnapshot.

#include "gateway/DeviceSink.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fieldmon::gateway {

class MetricsModel final : public DeviceSink {
public:
    struct BrokerFigures {
        bool configured = false; // no MQTT at all: the mqtt series are left out
        bool connected = false;
        std::uint64_t messagesDropped = 0;
        std::uint64_t commandsRefused = 0;
    };

    MetricsModel(std::size_t maxSeries, std::string version);

    void setBrokerFigures(const BrokerFigures& figures);
    std::string render() const;
    // Goes up with every change that render() would show.
    std::uint64_t generation() const { return generation_; }
    std::size_t seriesCount() const { return series_; }
    std::uint64_t seriesDropped() const { return seriesDropped_; }

    // DeviceSink
    void deviceUp(const ExportedDevice& device) override;
    void deviceDown(const std::string& serial) override;
    void valuesChanged(const std::string& serial, std::span<const ElementValue> values) override;
    void event(const std::string& serial, const std::string& text) override;
    void linkFigures(const std::string& serial, const LinkFigures& figures) override;

private:
    static constexpr std::size_t seriesPerDevice = 9;

    enum class Admission { NotYet, Admitted, Dropped };
    struct Value {
        std::string page;
        std::string element;
        Admission admission = Admission::NotYet;
        double number = 0;
    };
    struct Device {
        std::string name;
        std::string type;
        bool up = false;
        bool admitted = false;
        LinkFigures link;
        std::vector<Value> values; // per element of the description
    };

    bool admit(std::size_t count);

    std::size_t maxSeries_;
    std::string version_;
    std::map<std::string, Device> devices_; // by serial, in the order rendered
    std::size_t series_ = 0;
    std::uint64_t seriesDropped_ = 0;
    BrokerFigures broker_;
    std::uint64_t generation_ = 0;
};

} // namespace fieldmon::gateway
