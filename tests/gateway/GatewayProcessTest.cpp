// The fieldmon-gateway program itself: options, signals, its last will,
// credentials and /metrics, against real mosquitto brokers.
#include "gateway/ExitCodes.h"

#include "MosquittoBroker.h"
#include "TestSubscriber.h"
#include "support/PrivateNetwork.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace fieldmon::gateway {
namespace {

using testing::MosquittoBroker;
using testing::TestSubscriber;

class GatewayProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testing::haveMosquitto())
            GTEST_SKIP() << "mosquitto is not installed (tools/deps.sh installs it)";
        // The program searches for devices by broadcast: only in a network of its own.
        if (const std::string& problem = test::privateNetworkProblem(); !problem.empty())
            GTEST_SKIP() << problem << "; skipping the tests that run the gateway program";
    }

    void start(QStringList arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        gateway_.setProcessEnvironment(environment);
        gateway_.start(FIELDMON_GATEWAY_PROGRAM, arguments);
        ASSERT_TRUE(gateway_.waitForStarted(5000));
    }
    void TearDown() override
    {
        if (gateway_.state() != QProcess::NotRunning) {
            gateway_.kill();
            gateway_.waitForFinished(5000);
        }
        // A failing run shows what the program said about it.
        if (HasFailure())
            std::fprintf(stderr, "fieldmon-gateway said:\n%s\n", gateway_.readAllStandardError().constData());
    }

    // Waits for the program to end, running the Qt loop for the subscriber.
    bool finished(int ms = 10000)
    {
        return QTest::qWaitFor([&] { return gateway_.state() == QProcess::NotRunning; }, ms);
    }

    QProcess gateway_;
};

TEST_F(GatewayProgram, HelpNeedsNoDisplayAndUnknownOptionsExit2)
{
    start({"--help"});
    ASSERT_TRUE(finished());
    EXPECT_EQ(gateway_.exitCode(), exitcode::ok);
    EXPECT_TRUE(gateway_.readAllStandardOutput().contains("--allow-commands"));

    start({"--broker", "mqtt://127.0.0.1:1", "--allow-comands"});
    ASSERT_TRUE(finished());
    EXPECT_EQ(gateway_.exitCode(), exitcode::usage);
    EXPECT_TRUE(gateway_.readAllStandardError().contains("allow-comands"));
}

TEST_F(GatewayProgram, SigtermPublishesOfflineAndMetricsServeUntilThen)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    TestSubscriber subscriber(broker.port(), "fieldmon/gateway/#");
    ASSERT_TRUE(subscriber.waitSubscribed());
    int metricsPort = testing::freeLoopbackPort();
    start({"--broker", QString::fromStdString(broker.url()), "--client-id", "gw-term", "--metrics",
           "127.0.0.1:" + QString::number(metricsPort)});
    const std::string status = "fieldmon/gateway/gw-term/status";
    ASSERT_TRUE(subscriber.waitForMessage(status, "online"));

    // /metrics answers from the first second, and says the broker is connected.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QTcpSocket socket;
            socket.connectToHost("127.0.0.1", static_cast<quint16>(metricsPort));
            if (!socket.waitForConnected(500))
                return false;
            socket.write("GET /metrics HTTP/1.0\r\n\r\n");
            QByteArray reply;
            while (socket.waitForReadyRead(500))
                reply += socket.readAll();
            return reply.contains("fieldmon_gateway_info{version=") && reply.contains("fieldmon_mqtt_connected 1");
        },
        10000));

    gateway_.terminate(); // SIGTERM
    ASSERT_TRUE(finished());
    EXPECT_EQ(gateway_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(gateway_.exitCode(), exitcode::ok);
    // A clean disconnect never sends the will: this "offline" is the gateway's own.
    EXPECT_TRUE(subscriber.waitForMessage(status, "offline", 5000));
    auto seen = subscriber.on(status);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().payload, "offline");
}

TEST_F(GatewayProgram, AKilledGatewayLeavesItsWill)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    TestSubscriber subscriber(broker.port(), "fieldmon/gateway/#");
    ASSERT_TRUE(subscriber.waitSubscribed());
    start({"--broker", QString::fromStdString(broker.url()), "--client-id", "gw-kill", "--mqtt-version", "5"});
    const std::string status = "fieldmon/gateway/gw-kill/status";
    ASSERT_TRUE(subscriber.waitForMessage(status, "online"));
    gateway_.kill(); // SIGKILL: nothing of ours runs
    ASSERT_TRUE(finished());
    EXPECT_TRUE(subscriber.waitForMessage(status, "offline", 10000));
}

TEST_F(GatewayProgram, WrongCredentialsEndTheRunWithExitCode3)
{
    MosquittoBroker broker(MosquittoBroker::Credentials{"gw", "right"});
    ASSERT_TRUE(broker.start());
    QTemporaryDir dir;
    auto passwordFile = [&](const char* password) {
        QString path = dir.filePath(password);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray(password) + "\n");
        return path;
    };
    for (int version : {311, 5}) {
        SCOPED_TRACE(version);
        start({"--broker", QString::fromStdString(broker.url()), "--user", "gw", "--password-file",
               passwordFile("wrong"), "--mqtt-version", version == 5 ? "5" : "3.1.1"});
        ASSERT_TRUE(finished(15000));
        EXPECT_EQ(gateway_.exitCode(), exitcode::brokerRefused);
        QByteArray error = gateway_.readAllStandardError();
        EXPECT_TRUE(error.contains("refused the connection")) << error.toStdString();
        EXPECT_TRUE(error.contains("--password-file")) << error.toStdString();
    }

    // The right password from the file gets in.
    TestSubscriber subscriber(broker.port(), "#");
    start({"--broker", QString::fromStdString(broker.url()), "--user", "gw", "--password-file", passwordFile("right"),
           "--client-id", "gw-right"});
    // The subscriber has no password: watch the program stay up instead.
    EXPECT_FALSE(finished(2000));
    EXPECT_TRUE(broker.log().contains("gw-right")) << broker.log().toStdString();
}

} // namespace
} // namespace fieldmon::gateway
