#include "gateway/GatewayConfig.h"

#include "gateway/ExitCodes.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace fieldmon::gateway {
namespace {

ConfigOutcome load(QStringList arguments)
{
    arguments.prepend("fieldmon-gateway");
    return loadGatewayConfig(arguments);
}

QString writeFile(const QTemporaryDir& dir, const char* name, const QByteArray& text)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(text);
    return file.fileName();
}

TEST(GatewayConfig, HelpVersionAndUnknownOptions)
{
    ConfigOutcome help = load({"--help"});
    EXPECT_EQ(help.exitCode, exitcode::ok);
    EXPECT_FALSE(help.toStderr);
    for (const char* key : {"--broker", "--metrics", "--topic-prefix", "--discovery-prefix", "--allow-commands",
                            "--client-id", "--user", "--password-file", "--tls-ca", "--tls-cert", "--tls-key",
                            "--mqtt-version", "--include-type", "--include-serial", "--max-series",
                            "--queue-limit", "--config", "<prefix>/gateway/<id>/status", "Exit codes"})
        EXPECT_NE(help.output.find(key), std::string::npos) << key;

    EXPECT_EQ(load({"--version"}).exitCode, exitcode::ok);
    EXPECT_NE(load({"--version"}).output.find(gatewayVersion()), std::string::npos);

    ConfigOutcome unknown = load({"--broker", "mqtt://h", "--brokr", "x"});
    EXPECT_FALSE(unknown.config);
    EXPECT_EQ(unknown.exitCode, exitcode::usage);
    EXPECT_TRUE(unknown.toStderr);
    EXPECT_NE(unknown.output.find("brokr"), std::string::npos);
    EXPECT_NE(unknown.output.find("Usage:"), std::string::npos);
}

TEST(GatewayConfig, BadValuesAreNamed)
{
    auto refused = [](QStringList arguments, const std::string& says) {
        ConfigOutcome outcome = load(arguments);
        EXPECT_FALSE(outcome.config) << says;
        EXPECT_EQ(outcome.exitCode, exitcode::usage) << says;
        EXPECT_NE(outcome.output.find(says), std::string::npos) << outcome.output.substr(0, 200);
    };
    refused({}, "nothing to do");
    refused({"--broker", "http://h"}, "--broker: expected mqtt://");
    refused({"--broker", "mqtt://user:pw@h"}, "--password-file");
    refused({"--broker", "mqtt://h/topic"}, "path");
    refused({"--metrics", "9464"}, "--metrics: expected ADDR:PORT");
    refused({"--metrics", "::1:9464"}, "--metrics");
    refused({"--metrics", "127.0.0.1:70000"}, "--metrics");
    refused({"--metrics", ":1", "--topic-prefix", "a/+/b"}, "--metrics");
    refused({"--metrics", "127.0.0.1:1", "--topic-prefix", "a/+/b"}, "--topic-prefix");
    refused({"--metrics", "127.0.0.1:1", "--discovery-prefix", "$SYS"}, "--discovery-prefix");
    refused({"--broker", "mqtt://h", "--mqtt-version", "4.0"}, "--mqtt-version");
    refused({"--broker", "mqtt://h", "--tls-ca", "/etc/hostname"}, "need an mqtts:// broker");
    refused({"--broker", "mqtts://h", "--tls-cert", "/etc/hostname"}, "go together");
    refused({"--broker", "mqtts://h", "--tls-ca", "/no/such/file"}, "no such file");
    refused({"--broker", "mqtt://h", "--password-file", "/no/such/file"}, "cannot read");
    refused({"--broker", "mqtt://h", "--max-series", "0"}, "--max-series");
    refused({"--broker", "mqtt://h", "stray"}, "unexpected argument");
}

TEST(GatewayConfig, FileAndCommandLineTogether)
{
    QTemporaryDir dir;
    QString password = writeFile(dir, "pw", "s3cret\nsecond line\n");
    QString ini = writeFile(dir, "gateway.ini",
                            "# site 4\n[gateway]\nbroker = mqtts://broker.site4:8884\nmetrics = [::1]:9464\n"
                            "topic-prefix = site4/fieldmon\nallow-commands = yes\nuser = \"gw\"\n"
                            "password-file = " + password.toUtf8() + "\ninclude-type = PUMP, CRANE\n"
                            "include-type = TURBINE\nmqtt-version = 5\n");

    ConfigOutcome fromFile = load({"--config", ini});
    ASSERT_TRUE(fromFile.config) << fromFile.output;
    const GatewayConfig& a = *fromFile.config;
    EXPECT_TRUE(a.brokerTls);
    EXPECT_EQ(a.broker->host, "broker.site4");
    EXPECT_EQ(a.broker->port, 8884);
    EXPECT_EQ(a.metrics->host, "::1");
    EXPECT_EQ(a.metrics->port, 9464);
    EXPECT_EQ(a.topicPrefix, "site4/fieldmon");
    EXPECT_EQ(a.discoveryPrefix, "homeassistant");
    EXPECT_TRUE(a.allowCommands);
    EXPECT_EQ(a.user, "gw");
    EXPECT_EQ(a.password, "s3cret");
    EXPECT_EQ(a.mqttVersion, 5);
    EXPECT_EQ(a.includeTypes, (std::vector<std::string>{"PUMP", "CRANE", "TURBINE"}));
    EXPECT_TRUE(a.includes("CRANE", "1"));
    EXPECT_FALSE(a.includes("MIXER", "1"));

    // The command line wins, a list given there replaces the file's list,
    // and the ports default by scheme.
    ConfigOutcome both = load({"--config", ini, "--broker", "mqtt://10.0.0.5", "--topic-prefix", "x",
                               "--include-type", "MIXER", "--include-serial", "7,8"});
    ASSERT_TRUE(both.config) << both.output;
    const GatewayConfig& b = *both.config;
    EXPECT_FALSE(b.brokerTls);
    EXPECT_EQ(b.broker->port, 1883);
    EXPECT_EQ(b.topicPrefix, "x");
    EXPECT_EQ(b.user, "gw");
    EXPECT_EQ(b.includeTypes, std::vector<std::string>{"MIXER"});
    EXPECT_TRUE(b.includes("MIXER", "8"));
    EXPECT_FALSE(b.includes("MIXER", "9"));
}

TEST(GatewayConfig, FileMistakesNameTheLine)
{
    QTemporaryDir dir;
    auto refused = [&](const QByteArray& text, const std::string& says) {
        QString ini = writeFile(dir, "bad.ini", text);
        ConfigOutcome outcome = load({"--config", ini});
        EXPECT_EQ(outcome.exitCode, exitcode::usage);
        EXPECT_NE(outcome.output.find(says), std::string::npos) << outcome.output.substr(0, 200);
    };
    refused("broker = mqtt://h\nbrokr = x\n", "bad.ini:2: unknown key 'brokr'");
    refused("broker mqtt://h\n", "bad.ini:1: expected key = value");
    refused("broker = mqtt://h\nallow-commands = maybe\n", "allow-commands: expected true or false");
    refused("config = other.ini\n", "unknown key 'config'");
    EXPECT_NE(load({"--config", dir.filePath("missing.ini")}).output.find("cannot read"), std::string::npos);
}

} // namespace
} // namespace fieldmon::gateway
