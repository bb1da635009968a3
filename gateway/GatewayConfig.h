#pragma once
// fieldmon-gateway's configuration: the command line and the same keys in
// the file given by --config (see IniFile.h). A key on the command line
// wins over the file; list keys given on the command line replace the
// file's list. loadGatewayConfig checks everything it can before the
// gateway starts (addresses, prefixes, files), so that a bad setting ends
// the run at once with exit code 2 and a message naming it.
//
// Thread rule: pure values and functions; main thread in practice
// (QCommandLineParser).

#include <QStringList>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace fieldmon::gateway {

struct HostPort {
    std::string host; // a name or a literal address, IPv6 without brackets
    int port = 0;
};

struct GatewayConfig {
    std::optional<HostPort> broker; // absent: no MQTT
    bool brokerTls = false;         // mqtts://
    std::optional<HostPort> metrics; // absent: no /metrics
    std::string topicPrefix = "fieldmon";
    std::string discoveryPrefix = "homeassistant";
    bool allowCommands = false;
    std::string clientId; // also the gateway's id in its status topic
    std::string user;
    std::string password; // read from --password-file
    std::string tlsCa, tlsCert, tlsKey;
    int mqttVersion = 311; // 311 (MQTT 3.1.1) or 5
    std::vector<std::string> includeTypes;   // empty: every type
    std::vector<std::string> includeSerials; // empty: every serial
    std::size_t maxSeries = 10000;
    std::size_t queueLimit = 10000;

    // Whether a device of this type and serial is exported: it must pass
    // both lists that are given.
    bool includes(const std::string& type, const std::string& serial) const;
};

struct ConfigOutcome {
    std::optional<GatewayConfig> config; // set: run with it
    int exitCode = 0;   // when config is absent: exit with this
    std::string output; // when config is absent: print this (help, version or error)
    bool toStderr = false;
};

// `arguments` includes the program name first, as QCoreApplication::arguments().
ConfigOutcome loadGatewayConfig(const QStringList& arguments);

// The version printed by --version and exported as fieldmon_gateway_info.
const char* gatewayVersion();

} // namespace fieldmon::gateway
