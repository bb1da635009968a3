// fieldmon-gateway: publishes what the field devices on this network show
// to an MQTT broker (with Home Assistant discovery) and as Prometheus
// metrics. No display, no widgets. `fieldmon-gateway --help` lists the
// options, the topics and the exit codes.

#include "gateway/ExitCodes.h"
#include "gateway/Gateway.h"
#include "gateway/GatewayConfig.h"
#include "gateway/SignalWatcher.h"

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
    gateway::SignalWatcher stopOnSignal([] { QCoreApplication::quit(); });

    // FIXME: the device side is not here yet: the finder, one headless
    // document reading per device and its bindings will report to
    // bridge.devices() and take bridge.setCommandHandler()'s commands.
    // Until then the gateway publishes its own availability and metrics.

    QCoreApplication::exec();
    bridge.stop();
    return exitCode;
}
