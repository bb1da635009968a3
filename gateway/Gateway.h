#pragma once
// fieldmon-gateway's outputs put together: the MQTT publisher, the
// metrics model and its HTTP server, behind the one DeviceSink that the
// device side reports to, and the command path back from MQTT.
//
// What the device side does with it:
//   gateway.devices().deviceUp(...), deviceDown(...), valuesChanged(...),
//       event(...), linkFigures(...)        as the devices are seen
//   gateway.setCommandHandler(fn)           fn runs what touching the element runs
//
// Thread rule: main thread only (the QCoreApplication loop).

#include "gateway/DeviceSinks.h"
#include "gateway/GatewayConfig.h"
#include "gateway/IncludedDevices.h"
#include "gateway/MetricsModel.h"
#include "gateway/MqttPublisher.h"

#include <QTimer>

#include <functional>
#include <memory>
#include <string>

namespace fieldmon::gateway {

class MetricsServer;

class Gateway {
public:
    explicit Gateway(GatewayConfig config);
    ~Gateway();

    // Binds the metrics address and starts connecting to the broker.
    // Returns exitcode::ok, or the exit code with `error` set.
    int start(std::string& error);
    // Publishes "offline", waits briefly for the broker's acknowledgement
    // and disconnects; stops serving /metrics.
    void stop();

    DeviceSink& devices() { return included_; }
    void setCommandHandler(MqttPublisher::CommandHandler handler);
    // Called with an exit code when the gateway cannot go on (the broker
    // refused its credentials).
    void setFatalHandler(std::function<void(int exitCode, const std::string& message)> handler);

    MqttPublisher* publisher() { return publisher_.get(); }
    MetricsModel& metrics() { return metrics_; }

private:
    void refreshMetrics();

    GatewayConfig config_;
    MetricsModel metrics_;
    DeviceSinks sinks_;
    IncludedDevices included_;
    std::unique_ptr<MqttPublisher> publisher_;
    std::unique_ptr<MetricsServer> server_;
    QTimer metricsTimer_;
    std::uint64_t renderedGeneration_ = ~0ull;
    MqttPublisher::CommandHandler commandHandler_;
    std::function<void(int, const std::string&)> fatalHandler_;
};

} // namespace fieldmon::gateway
