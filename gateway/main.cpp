// fieldmon-gateway: publishes what the field devices on this network show
// to an MQTT broker (with Home Assistant discovery) and as Prometheus
// metrics. No display, no widgets. `fieldmon-gateway --help` lists the
// options, the topics and the exit codes.

#include "gateway/DeviceWatch.h"
#include "gateway/ExitCodes.h"
#include "gateway/Gateway.h"
#include "gateway/GatewayConfig.h"
#include "gateway/LogAlerts.h"
#include "platform/qt/SignalWatcher.h"
#include "platform/NotificationCenter.h"
#include "platform/qt/QtFileTransport.h"
#include "platform/qt/QtMainLoop.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    namespace gateway = fieldmon::gateway;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("fieldmon-gateway");

    gateway::ConfigOutcome outcome = gateway::loadGatewayConfig(QCoreApplication::arguments());
    if (!outcome.config) {
        std::fputs(outcome.output.c_str(), outcome.toStderr ? stderr : stdout);
        return outcome.exitCode;
    }

    gateway::Gateway bridge(*outcome.config);
    int exitCode = gateway::exitcode::ok;
    bridge.setFatalHandler([&](int code, const std::string& message) {
        std::fprintf(stderr, "fieldmon-gateway: %s\n", message.c_str());
        exitCode = code;
        QCoreApplication::quit();
    });
    std::string error;
    if (int code = bridge.start(error); code != gateway::exitcode::ok) {
        std::fprintf(stderr, "fieldmon-gateway: %s\n", error.c_str());
        return code;
    }
    fieldmon::platform::SignalWatcher stopOnSignal([] { QCoreApplication::quit(); });

    // The device side: discovery as the app does it, and one reading of
    // each included device's document, reporting to the outputs.
    fieldmon::platform::QtMainLoop loop;
    fieldmon::platform::NotificationCenter notifications;
    gateway::LogAlerts alerts;
    fieldmon::platform::QtFileTransport files;
    fieldmon::platform::Services services{loop, notifications, alerts, &files};
    const gateway::GatewayConfig& config = *outcome.config;
    gateway::DeviceWatch watch(services, bridge.devices(), [&config](const std::string& type, const std::string& serial) {
        return config.includes(type, serial);
    });
    bridge.setCommandHandler([&watch](const gateway::ElementCommand& command) {
        std::string why;
        if (!watch.command(command.serial, command.element, command.value, why))
            std::fprintf(stderr, "fieldmon-gateway: command for %s element %zu not run: %s\n",
                         command.serial.c_str(), command.element, why.c_str());
    });
    watch.start();

    QCoreApplication::exec();
    bridge.stop();
    bridge.setCommandHandler(nullptr);

    return exitCode;
}
