// The gateway's MQTT publishing against a bare libmosquitto loop, in the
// same run and against the same local mosquitto broker:
//   bare_mosquitto_publish   mosquitto_publish (QoS 1, retained) in a loop
//                            over 5,000 topics, until the broker has
//                            acknowledged every message
//   gateway_publish          MqttPublisher::valuesChanged for 1,000 devices
//                            of 5 values each (5,000 changed values a
//                            round), until every message is acknowledged
// items_per_second is messages per second; the gateway's figure over the
// bare one is what topic building, change detection, the outbox and the
// hand-off of acknowledgements to the main thread cost.
//
// The whole gateway under 1,000 simulated devices (CPU, RSS and the
// reply-to-subscriber latency) is bench/gateway-fleet.

#include "bench/BenchMain.h"

#include "gateway/MqttPublisher.h"
#include "MosquittoBroker.h" // tests/gateway: a broker of the run's own

#include <mosquitto.h>

#include <QCoreApplication>
#include <QTest>

#include <condition_variable>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace fieldmon::gateway;

constexpr int devices = 1000;
constexpr int valuesPerDevice = 5;
constexpr int topics = devices * valuesPerDevice;

testing::MosquittoBroker* broker = nullptr;

struct Acknowledged {
    std::mutex mutex;
    std::condition_variable changed;
    long count = 0;
};

void bare_mosquitto_publish(benchmark::State& state)
{
    mosquitto_lib_init();
    Acknowledged acknowledged;
    mosquitto* client = mosquitto_new("bench-bare", true, &acknowledged);
    mosquitto_publish_callback_set(client, [](mosquitto*, void* counter, int) {
        auto* ack = static_cast<Acknowledged*>(counter);
        std::lock_guard lock(ack->mutex);
        ++ack->count;
        ack->changed.notify_one();
    });
    mosquitto_connect(client, "127.0.0.1", broker->port(), 30);
    mosquitto_loop_start(client);
    std::vector<std::string> names;
    for (int i = 0; i < topics; ++i)
        names.push_back("bare/" + std::to_string(i / valuesPerDevice) + "/main/label" + std::to_string(i % valuesPerDevice));
    long sent = 0;
    long round = 0;
    for (auto _ : state) {
        ++round;
        for (const std::string& topic : names) {
            std::string payload = std::to_string(round * 7 + sent % 13);
            while (mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                                     true) != MOSQ_ERR_SUCCESS) {
            }
            ++sent;
        }
        std::unique_lock lock(acknowledged.mutex);
        acknowledged.changed.wait(lock, [&] { return acknowledged.count >= sent; });
    }
    state.SetItemsProcessed(sent);
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
}

void gateway_publish(benchmark::State& state)
{
    MqttPublisher::Settings settings;
    settings.connection.host = "127.0.0.1";
    settings.connection.port = broker->port();
    settings.connection.clientId = "bench-gateway";
    settings.queueLimit = topics * 2;
    std::string error;
    auto publisher = MqttPublisher::create(settings, error);
    if (!publisher) {
        state.SkipWithError(error.c_str());
        return;
    }
    ExportedDevice device;
    device.type = "PUMP";
    for (int e = 0; e < valuesPerDevice; ++e)
        device.elements.push_back({"main", "label" + std::to_string(e), "", ExportKind::Label, true, "", {}});
    for (int d = 0; d < devices; ++d) {
        device.serial = std::to_string(d);
        publisher->deviceUp(device);
    }
    publisher->start();
    if (!QTest::qWaitFor([&] { return publisher->isConnected() && publisher->waiting() == 0; }, 10000)) {
        state.SkipWithError("no broker connection");
        return;
    }
    std::vector<ElementValue> values(valuesPerDevice);
    long round = 0;
    std::uint64_t start = publisher->counters().published;
    for (auto _ : state) {
        ++round;
        for (int d = 0; d < devices; ++d) {
            for (int e = 0; e < valuesPerDevice; ++e) {
                double number = static_cast<double>(round * 7 + e);
                values[e] = {static_cast<std::size_t>(e), std::to_string(round * 7 + e), number};
            }
            publisher->valuesChanged(std::to_string(d), values);
        }
        // Run the main loop until the broker has acknowledged everything.
        while (!publisher->idle())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(publisher->counters().published - start));
    publisher->stop(1.0);
}

BENCHMARK(bare_mosquitto_publish)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(gateway_publish)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    fieldmon::bench::silenceStdout();
    if (!testing::haveMosquitto()) {
        std::fprintf(stderr, "bench_gateway: mosquitto is not installed (tools/deps.sh installs it)\n");
        return 0;
    }
    testing::MosquittoBroker local;
    if (!local.start()) {
        std::fprintf(stderr, "bench_gateway: the local broker did not start\n");
        return 1;
    }
    broker = &local;
    return fieldmon::bench::runBenchmarks(argc, argv);
}
