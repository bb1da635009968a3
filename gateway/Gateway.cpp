#include "gateway/Gateway.h"

#include "gateway/ExitCodes.h"
#include "gateway/MetricsServer.h"

namespace fieldmon::gateway {

namespace {

// How often /metrics' text is rebuilt when something changed: scrapes
// come every few seconds at most, and the text of 1,000 devices takes a
// few milliseconds to write.
constexpr int metricsRefreshMs = 1000;
// How long SIGTERM waits for the broker to acknowledge "offline".
constexpr double stopBudgetSeconds = 2.0;

} // namespace

Gateway::Gateway(GatewayConfig config)
    : config_(std::move(config)),
      metrics_(config_.maxSeries, gatewayVersion()),
      included_([this](const std::string& type, const std::string& serial) { return config_.includes(type, serial); },
                sinks_)
{
    sinks_.add(metrics_);
}

Gateway::~Gateway()
{
    stop();
}

int Gateway::start(std::string& error)
{
    if (config_.metrics) {
        server_ = MetricsServer::create(config_.metrics->host, config_.metrics->port, {}, error);
        if (!server_)
            return exitcode::metricsAddress;
    }
    if (config_.broker) {
        MqttPublisher::Settings settings;
        MqttClient::Settings& connection = settings.connection;
        connection.host = config_.broker->host;
        connection.port = config_.broker->port;
        connection.tls = config_.brokerTls;
        connection.tlsCa = config_.tlsCa;
        connection.tlsCert = config_.tlsCert;
        connection.tlsKey = config_.tlsKey;
        connection.clientId = config_.clientId;
        connection.user = config_.user;
        connection.password = config_.password;
        connection.version = config_.mqttVersion;
        settings.topicPrefix = config_.topicPrefix;
        settings.discoveryPrefix = config_.discoveryPrefix;
        settings.allowCommands = config_.allowCommands;
        settings.queueLimit = config_.queueLimit;
        settings.gatewayVersion = gatewayVersion();
        publisher_ = MqttPublisher::create(settings, error);
        if (!publisher_)
            return exitcode::failure;
        publisher_->setCommandHandler([this](const ElementCommand& command) {
            if (commandHandler_)
                commandHandler_(command);
        });
        publisher_->setRefusedHandler([this](MqttClient::Refusal why, const std::string& text) {
            int code = why == MqttClient::Refusal::Credentials ? exitcode::brokerRefused : exitcode::failure;
            std::string message = "the broker " + config_.broker->host + ":" + std::to_string(config_.broker->port) +
                                  " refused the connection: " + text;
            if (why == MqttClient::Refusal::Credentials)
                message += " (check --user, --password-file and --client-id)";
            if (fatalHandler_)
                fatalHandler_(code, message);
        });
        sinks_.add(*publisher_);
        publisher_->start();
    }
    QObject::connect(&metricsTimer_, &QTimer::timeout, [this] { refreshMetrics(); });
    metricsTimer_.start(metricsRefreshMs);
    refreshMetrics();
    return exitcode::ok;
}

void Gateway::stop()
{
    metricsTimer_.stop();
    if (publisher_)
        publisher_->stop(stopBudgetSeconds);
    server_.reset();
}

void Gateway::setCommandHandler(MqttPublisher::CommandHandler handler)
{
    commandHandler_ = std::move(handler);
}

void Gateway::setFatalHandler(std::function<void(int, const std::string&)> handler)
{
    fatalHandler_ = std::move(handler);
}

void Gateway::refreshMetrics()
{
    if (publisher_) {
        MqttPublisher::Counters counters = publisher_->counters();
        metrics_.setBrokerFigures({true, publisher_->isConnected(), counters.dropped, counters.commandsRefused});
    }
    if (!server_ || metrics_.generation() == renderedGeneration_)
        return;
    renderedGeneration_ = metrics_.generation();
    server_->publish(metrics_.render());
}

} // namespace fieldmon::gateway
