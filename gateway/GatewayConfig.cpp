#include "gateway/GatewayConfig.h"

#include "gateway/ExitCodes.h"
#include "gateway/IniFile.h"
#include "gateway/TopicEscape.h"

#include "FieldmonVersion.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSysInfo>
#include <QUrl>

#include <algorithm>
#include <charconv>
#include <map>

namespace fieldmon::gateway {

namespace {

enum class Shape { Flag, Value, List };

struct Key {
    const char* name;
    const char* valueName;
    Shape shape;
    const char* help;
};

// Every key, for the command line and the file alike.
constexpr Key keys[] = {
    {"broker", "URL", Shape::Value,
     "MQTT broker: mqtt://HOST[:PORT] (port 1883) or mqtts://HOST[:PORT] (TLS, port 8883)."},
    {"metrics", "ADDR:PORT", Shape::Value,
     "Serve Prometheus GET /metrics on this address, e.g. 127.0.0.1:9464 or [::]:9464."},
    {"topic-prefix", "PREFIX", Shape::Value, "First level(s) of every topic the gateway publishes (default fieldmon)."},
    {"discovery-prefix", "PREFIX", Shape::Value, "Home Assistant's discovery prefix (default homeassistant)."},
    {"allow-commands", nullptr, Shape::Flag,
     "Accept commands on the elements' command topics (switches, pickers, text fields). Without it "
     "everything is read-only and no command topic is subscribed."},
    {"client-id", "ID", Shape::Value,
     "MQTT client id, also the gateway's id in <prefix>/gateway/<id>/status "
     "(default fieldmon-gateway-<host name>)."},
    {"user", "NAME", Shape::Value, "User name for the broker."},
    {"password-file", "FILE", Shape::Value,
     "File whose first line is the broker password (so that no password shows in a process list)."},
    {"tls-ca", "FILE", Shape::Value, "CA certificates (PEM) for mqtts:// (default: the system's)."},
    {"tls-cert", "FILE", Shape::Value, "Client certificate (PEM) for mqtts://; needs --tls-key."},
    {"tls-key", "FILE", Shape::Value, "Client key (PEM) for mqtts://; needs --tls-cert."},
    {"mqtt-version", "VERSION", Shape::Value, "MQTT protocol version: 3.1.1 (default) or 5."},
    {"include-type", "TYPE", Shape::List,
     "Export only devices of this type; repeat it or separate types with commas (default: all)."},
    {"include-serial", "SERIAL", Shape::List,
     "Export only devices with this serial; repeat it or separate serials with commas (default: all)."},
    {"max-series", "N", Shape::Value,
     "Most /metrics series (default 10000); new series past it are dropped and counted in "
     "fieldmon_series_dropped_total."},
    {"queue-limit", "N", Shape::Value,
     "Most topics held back while the broker is unreachable or slow (default 10000); the newest "
     "value per topic wins, and past the limit the oldest topics are dropped."},
};

constexpr const char* epilogue = R"(
Every key above, without the dashes, may also be written in the file given by
--config, one "key = value" a line ("allow-commands = true"; '#' starts a
comment). The command line wins over the file.

Topics (each name from a device becomes one level: bytes other than A-Z a-z
0-9 _ - . are written as ~ and two hex digits, an empty name as ~):
  <prefix>/gateway/<id>/status             online / offline (retained; the last will)
  <prefix>/<serial>/availability           online / offline (retained)
  <prefix>/<serial>/attributes             identity and document error, JSON (retained)
  <prefix>/<serial>/<page>/<element>       the value the page shows, on change (retained)
  <prefix>/<serial>/<page>/<element>/set   commands (only with --allow-commands)
  <prefix>/<serial>/event                  device events, JSON (not retained)
  <prefix>/<serial>/link                   link health, JSON (retained)
  <discovery-prefix>/device/<id>/config    Home Assistant device discovery (retained)

Exit codes: 0 stopped by SIGTERM or SIGINT (after publishing "offline"),
1 failure, 2 bad options or file, 3 the broker refused the credentials or
client id, 4 the metrics address could not be bound.
)";

struct Fail {
    std::string message;
};

std::string trimmed(std::string text)
{
    const char* space = " \t";
    std::size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

std::vector<std::string> splitList(const std::vector<std::string>& values)
{
    std::vector<std::string> out;
    for (const std::string& value : values) {
        std::size_t start = 0;
        while (start <= value.size()) {
            std::size_t comma = value.find(',', start);
            if (comma == std::string::npos)
                comma = value.size();
            std::string item = trimmed(value.substr(start, comma - start));
            if (!item.empty())
                out.push_back(item);
            start = comma + 1;
        }
    }
    return out;
}

std::optional<long long> parseNumber(const std::string& text, long long low, long long high)
{
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<bool> parseFlag(const std::string& text)
{
    static const std::map<std::string, bool> words = {
        {"1", true}, {"true", true}, {"yes", true}, {"on", true},
        {"0", false}, {"false", false}, {"no", false}, {"off", false},
    };
    auto it = words.find(text);
    if (it == words.end())
        return std::nullopt;
    return it->second;
}

std::optional<HostPort> parseHostPort(const std::string& text)
{
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    std::string host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.back() != ']' || host.size() < 3)
            return std::nullopt;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return std::nullopt; // an IPv6 address needs its brackets
    }
    auto port = parseNumber(text.substr(colon + 1), 1, 65535);
    if (!port)
        return std::nullopt;
    return HostPort{host, static_cast<int>(*port)};
}

std::optional<Fail> parseBroker(const std::string& text, GatewayConfig& config)
{
    QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    QString scheme = url.scheme();
    if (!url.isValid() || (scheme != "mqtt" && scheme != "mqtts") || url.host().isEmpty())
        return Fail{"--broker: expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT], got '" + text + "'"};
    if (!url.userInfo().isEmpty())
        return Fail{"--broker: give the user with --user and the password with --password-file, not in the URL"};
    if (!(url.path().isEmpty() || url.path() == "/") || url.hasQuery() || url.hasFragment())
        return Fail{"--broker: the URL may not have a path, query or fragment: '" + text + "'"};
    config.brokerTls = scheme == "mqtts";
    config.broker = HostPort{url.host().toStdString(), url.port(config.brokerTls ? 8883 : 1883)};
    return std::nullopt;
}

std::optional<Fail> readPassword(const std::string& path, std::string& password)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return Fail{"--password-file: cannot read '" + path + "': " + file.errorString().toStdString()};
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    password = line.toStdString();
    return std::nullopt;
}

std::optional<Fail> needFile(const char* key, const std::string& path)
{
    if (path.empty() || QFile::exists(QString::fromStdString(path)))
        return std::nullopt;
    return Fail{std::string("--") + key + ": no such file '" + path + "'"};
}

// Applies the collected values (file first, command line over it) and checks them.
std::optional<Fail> applyValues(const std::map<std::string, std::vector<std::string>>& values, GatewayConfig& config)
{
    auto one = [&](const char* key) -> const std::string* {
        auto it = values.find(key);
        return it == values.end() || it->second.empty() ? nullptr : &it->second.back();
    };
    if (const std::string* v = one("broker"))
        if (auto fail = parseBroker(*v, config))
            return fail;
    if (const std::string* v = one("metrics")) {
        config.metrics = parseHostPort(*v);
        if (!config.metrics)
            return Fail{"--metrics: expected ADDR:PORT (e.g. 127.0.0.1:9464 or [::1]:9464), got '" + *v + "'"};
    }
    for (auto [key, target] : {std::pair{"topic-prefix", &config.topicPrefix},
                               std::pair{"discovery-prefix", &config.discoveryPrefix}}) {
        if (const std::string* v = one(key))
            *target = *v;
        if (!isValidTopicPrefix(*target))
            return Fail{std::string("--") + key + ": '" + *target +
                        "' is not a usable topic prefix (printable ASCII levels without + # or empty levels, "
                        "not starting with $)"};
    }
    if (const std::string* v = one("allow-commands")) {
        auto flag = parseFlag(*v);
        if (!flag)
            return Fail{"allow-commands: expected true or false, got '" + *v + "'"};
        config.allowCommands = *flag;
    }
    config.clientId = "fieldmon-gateway-" + QSysInfo::machineHostName().toStdString();
    if (const std::string* v = one("client-id"))
        config.clientId = *v;
    if (config.clientId.empty() || config.clientId.size() > 256)
        return Fail{"--client-id: give 1 to 256 characters"};
    if (const std::string* v = one("user"))
        config.user = *v;
    if (const std::string* v = one("password-file"))
        if (auto fail = readPassword(*v, config.password))
            return fail;
    for (auto [key, target] : {std::pair{"tls-ca", &config.tlsCa}, std::pair{"tls-cert", &config.tlsCert},
                               std::pair{"tls-key", &config.tlsKey}}) {
        if (const std::string* v = one(key))
            *target = *v;
        if (auto fail = needFile(key, *target))
            return fail;
    }
    bool anyTls = !config.tlsCa.empty() || !config.tlsCert.empty() || !config.tlsKey.empty();
    if (anyTls && !config.brokerTls)
        return Fail{"--tls-ca, --tls-cert and --tls-key need an mqtts:// broker"};
    if (config.tlsCert.empty() != config.tlsKey.empty())
        return Fail{"--tls-cert and --tls-key go together"};
    if (const std::string* v = one("mqtt-version")) {
        if (*v == "3.1.1" || *v == "311" || *v == "4")
            config.mqttVersion = 311;
        else if (*v == "5" || *v == "5.0")
            config.mqttVersion = 5;
        else
            return Fail{"--mqtt-version: expected 3.1.1 or 5, got '" + *v + "'"};
    }
    if (auto it = values.find("include-type"); it != values.end())
        config.includeTypes = splitList(it->second);
    if (auto it = values.find("include-serial"); it != values.end())
        config.includeSerials = splitList(it->second);
    for (auto [key, target] : {std::pair{"max-series", &config.maxSeries}, std::pair{"queue-limit", &config.queueLimit}}) {
        if (const std::string* v = one(key)) {
            auto n = parseNumber(*v, 1, 100'000'000);
            if (!n)
                return Fail{std::string("--") + key + ": expected a whole number from 1 to 100000000, got '" + *v + "'"};
            *target = static_cast<std::size_t>(*n);
        }
    }
    if (!config.broker && !config.metrics)
        return Fail{"nothing to do: give --broker, --metrics or both"};
    return std::nullopt;
}

const Key* findKey(const std::string& name)
{
    for (const Key& key : keys)
        if (name == key.name)
            return &key;
    return nullptr;
}

std::optional<Fail> readFile(const QString& path, std::map<std::string, std::vector<std::string>>& values)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Fail{"--config: cannot read '" + path.toStdString() + "': " + file.errorString().toStdString()};
    IniParse parsed = parseIni(file.readAll().toStdString());
    if (!parsed.error.empty())
        return Fail{path.toStdString() + ":" + parsed.error};
    for (const IniEntry& entry : parsed.entries) {
        const Key* key = findKey(entry.key);
        if (!key)
            return Fail{path.toStdString() + ":" + std::to_string(entry.line) + ": unknown key '" + entry.key + "'"};
        auto& list = values[entry.key];
        if (key->shape != Shape::List)
            list.clear();
        list.push_back(entry.value);
    }
    return std::nullopt;
}

} // namespace

const char* gatewayVersion()
{
    return kVersion;
}

bool GatewayConfig::includes(const std::string& type, const std::string& serial) const
{
    auto listed = [](const std::vector<std::string>& list, const std::string& item) {
        return list.empty() || std::find(list.begin(), list.end(), item) != list.end();
    };
    return listed(includeTypes, type) && listed(includeSerials, serial);
}

ConfigOutcome loadGatewayConfig(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "fieldmon-gateway: publishes what the field devices on this network show to an MQTT broker "
        "(with Home Assistant discovery) and as Prometheus metrics.");
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    QCommandLineOption version("version", "Show the version and exit.");
    QCommandLineOption configFile("config", "Read settings from FILE (see below).", "FILE");
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(configFile);
    for (const Key& key : keys) {
        QCommandLineOption option(key.name, key.help);
        if (key.valueName)
            option.setValueName(key.valueName);
        parser.addOption(option);
    }
    auto usage = [&] { return parser.helpText().toStdString() + epilogue; };
    auto failed = [&](const std::string& message) {
        return ConfigOutcome{std::nullopt, exitcode::usage,
                             "fieldmon-gateway: " + message + "\n\n" + usage(), true};
    };

    if (!parser.parse(arguments))
        return failed(parser.errorText().toStdString());
    if (parser.isSet(help))
        return ConfigOutcome{std::nullopt, exitcode::ok, usage(), false};
    if (parser.isSet(version))
        return ConfigOutcome{std::nullopt, exitcode::ok, std::string("fieldmon-gateway ") + gatewayVersion() + "\n",
                             false};
    if (!parser.positionalArguments().isEmpty())
        return failed("unexpected argument '" + parser.positionalArguments().first().toStdString() + "'");

    std::map<std::string, std::vector<std::string>> values;
    if (parser.isSet(configFile))
        if (auto fail = readFile(parser.value(configFile), values))
            return failed(fail->message);
    for (const Key& key : keys) {
        if (!parser.isSet(key.name))
            continue;
        std::vector<std::string>& list = values[key.name];
        list.clear();
        if (key.shape == Shape::Flag) {
            list.push_back("true");
            continue;
        }
        for (const QString& value : parser.values(key.name))
            list.push_back(value.toStdString());
    }

    GatewayConfig config;
    if (auto fail = applyValues(values, config))
        return failed(fail->message);
    return ConfigOutcome{std::move(config), exitcode::ok, {}, false};
}

} // namespace fieldmon::gateway
