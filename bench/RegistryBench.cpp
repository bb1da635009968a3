// The registry at 1,000 devices: what the device list's reload, the
// presence tick and a repeated announcement cost as the registry grows.
//
// Each figure is taken at 10, 100 and 1,000 registered devices in the same
// run, so the growth with the registry's size shows beside the small-site
// baseline: a cost that is flat per device is fine, one per device per
// device (a list scanned for every announcement) is what this looks for.
// The presence tick is also set beside a bare loop doing the same sends.
//
//   reload     the device list's reloadData(): the registry snapshot under
//              the four locks and the table's reload (Qt offscreen)
//   tick       checkPresence() with every device heard just now, and with
//              every device silent for 2 s (one 'F' each to a local sink)
//   announce   parsePacket() of a repeated announcement from a known device
//
// Run: build/bench/bench_registry (results on stderr).

#include "app/DeviceListScreen.h"
#include "bench/BenchMain.h"
#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "support/ManualLoop.h"
#include "platform/NotificationCenter.h"
#include "support/RecordingAlerts.h"

#include "support/UdpPeer.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

using namespace fieldmon;
using fieldmon::test::UdpPeer;

namespace {

sockaddr_in deviceAddress(int i)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr = test::ipv4(("127.0." + std::to_string(1 + i / 250) + "." + std::to_string(2 + i % 250)).c_str());
    return a;
}

std::string announcement(int i)
{
    static const char* const types[] = {"PUMP", "VALVE", "METER", "CRANE", "TURBINE", "GATE", "FAN", "HEATER"};
    return std::string("mPLAT;") + types[i % 8] + ";device " + std::to_string(i) + ";3;" + std::to_string(5000 + i) +
           ";0";
}

// A finder on a manual loop with `count` devices registered; the 's' and 'F'
// datagrams land on a sink on the device port.
struct Site {
    UdpPeer sink{"0.0.0.0"};
    platform::ManualLoop loop;
    platform::NotificationCenter notifications;
    platform::RecordingAlerts alerts;
    platform::Services services{loop, notifications, alerts};
    std::unique_ptr<ClientFinder> finder;

    explicit Site(int count)
    {
        ClientFinder::Seams seams;
        seams.broadcast = test::ipv4("127.0.0.1");
        seams.listenPort = 0;
        seams.devicePort = sink.port();
        seams.localNetwork = [] { return LocalNetwork::Direct; };
        seams.sources.loopbackDevices = true; // the devices sit on 127.0.0.x
        finder = std::make_unique<ClientFinder>(services, false, seams);
        for (int i = 0; i < count; ++i)
            finder->parsePacket(deviceAddress(i), announcement(i));
    }
    ~Site() { finder.reset(); }
    void drainSink() { sink.drain(0); }
};

void BM_ListReload(benchmark::State& state)
{
    Site site(static_cast<int>(state.range(0)));
    DeviceListScreen list(site.loop, site.notifications);
    list.resize(320, 416);
    list.setFinder(site.finder.get());
    for (auto _ : state)
        list.reloadData();
    list.setFinder(nullptr);
    state.counters["devices"] = static_cast<double>(state.range(0));
}

void BM_PresenceTick(benchmark::State& state, bool silent)
{
    const int count = static_cast<int>(state.range(0));
    Site site(count);
    // Heard at 0 s (the manual loop's clock); the tick runs at 0.1 s, or at
    // 2 s when every device is silent enough to be probed.
    site.loop.advance(silent ? 2.0 : 0.1);
    for (auto _ : state) {
        site.finder->checkPresence();
        if (silent) {
            state.PauseTiming();
            site.drainSink();
            state.ResumeTiming();
        }
    }
    state.counters["devices"] = count;
    state.counters["us_per_device"] = benchmark::Counter(static_cast<double>(state.iterations()) * count * 1e-6,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The same walk with nothing but what it cannot avoid: one time stamp read
// per device, and one 'F' per device when all are silent.
void BM_PresenceBaseline(benchmark::State& state, bool silent)
{
    const int count = static_cast<int>(state.range(0));
    UdpPeer sink("0.0.0.0");
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = deviceAddress(0);
    to.sin_port = htons(sink.port());
    std::vector<std::shared_ptr<double>> heard;
    for (int i = 0; i < count; ++i)
        heard.push_back(std::make_shared<double>(0.0));
    const double now = silent ? 2.0 : 0.1;
    for (auto _ : state) {
        for (const auto& h : heard)
            if (now - *h > 1.5)
                ::sendto(fd, "F", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        benchmark::ClobberMemory();
        if (silent) {
            state.PauseTiming();
            sink.drain(0);
            state.ResumeTiming();
        }
    }
    ::close(fd);
    state.counters["us_per_device"] = benchmark::Counter(static_cast<double>(state.iterations()) * count * 1e-6,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_RepeatedAnnouncement(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    Site site(count);
    int i = 0;
    for (auto _ : state) {
        site.finder->parsePacket(deviceAddress(i), announcement(i));
        i = (i + 1) % count;
        if (i == 0) {
            state.PauseTiming();
            site.drainSink();
            site.loop.runPending();
            state.ResumeTiming();
        }
    }
    state.counters["devices"] = count;
}

} // namespace

BENCHMARK(BM_ListReload)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PresenceTick, heard, false)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PresenceBaseline, heard, false)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PresenceTick, silent, true)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PresenceBaseline, silent, true)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RepeatedAnnouncement)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    // Records print a line per new device; the results go to stderr.
    if (!bench::silenceStdout())
        return 1;
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    return bench::runBenchmarks(argc, argv);
}
