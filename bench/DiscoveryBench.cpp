// Discovery throughput and registry cost.
//
// Datagram path: fake devices on 127.0.0.2 ... 127.0.0.101 (100 registered
// records) send 'i' or 'e' datagrams to a real finder, whose main loop is a
// ThreadLoop on its own thread; each is received, handed off, parsed and
// applied to its record. The baseline in the same binary does only what the
// listen thread must do anyway: wait for data (poll), recvfrom and the same blocking
// hand-off, with a handler that does nothing but spot the window's marker.
// Traffic goes in windows of 128 datagrams plus a marker, and the sender waits
// for the marker, so no datagram is lost to a full receive buffer.
//
// Announcements: parsePacket on the main thread for 1,000 new devices, then
// for the same 1,000 again (repeats), each including its 's' reply.
//
// Run: build/bench/bench_discovery. The finder's own console lines go to
// /dev/null; the results are printed on stderr.

#include "bench/BenchMain.h"
#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "support/ManualLoop.h"
#include "platform/NotificationCenter.h"
#include "support/RecordingAlerts.h"
#include "platform/ThreadLoop.h"

#include "support/UdpPeer.h"

#include <benchmark/benchmark.h>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace fieldmon;
using fieldmon::test::UdpPeer;

namespace {

constexpr int kDevices = 100;
constexpr int kWindow = 128;

std::string host(int i)
{
    return "127.0.0." + std::to_string(2 + i);
}

// The fake devices, all on one device port; device kDevices sends markers.
struct Fleet {
    std::unique_ptr<UdpPeer> sink = std::make_unique<UdpPeer>("127.0.0.1");
    std::vector<std::unique_ptr<UdpPeer>> devices;
    Fleet()
    {
        for (int i = 0; i <= kDevices; ++i)
            devices.push_back(std::make_unique<UdpPeer>(host(i).c_str(), sink->port()));
    }
    std::uint16_t port() const { return sink->port(); }

    // One window: kWindow datagrams round the fleet, then the marker.
    void sendWindow(const std::string& payload, const std::string& marker, std::uint16_t listenPort, int& next)
    {
        for (int k = 0; k < kWindow; ++k) {
            devices[next]->sendTo(payload, listenPort);
            next = (next + 1) % kDevices;
        }
        devices[kDevices]->sendTo(marker, listenPort);
    }
};

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

void waitFor(std::atomic<long>& counter, long value)
{
    for (long seen = counter.load(); seen < value; seen = counter.load())
        counter.wait(seen);
}

// The listen loop's unavoidable part, with an empty hand-off: poll,
// recvfrom into the same 1023-byte area, postAndWait of a handler that only
// spots the marker that ends a window.
class BaselineListener {
public:
    explicit BaselineListener(platform::MainLoop& loop) : loop_(loop), thread_([this] { run(); }) {}
    ~BaselineListener()
    {
        stop_ = true;
        thread_.join();
    }
    std::uint16_t port() const { return socket_.port(); }
    std::atomic<long> markers{0};

private:
    void run()
    {
        char buffer[ClientFinder::kMaxDatagram + 1];
        sockaddr_in from{};
        while (!stop_) {
            pollfd fd{socket_.fd(), POLLIN, 0};
            if (::poll(&fd, 1, 250) <= 0)
                continue;
            socklen_t len = sizeof from;
            ssize_t n = ::recvfrom(socket_.fd(), buffer, ClientFinder::kMaxDatagram, 0,
                                   reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0)
                continue;
            buffer[n] = '\0';
            loop_.postAndWait([&] {
                if (buffer[0] == 'M') {
                    ++markers;
                    markers.notify_all();
                }
            });
        }
    }

    platform::MainLoop& loop_;
    UdpPeer socket_{"0.0.0.0"};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Windows alternate between the baseline and the finder inside each
// iteration, so both see the same machine load; the counters give both rates
// (from the median window of each) and their ratio.
void BM_DatagramPath(benchmark::State& state, std::string payload)
{
    Fleet fleet;
    platform::ThreadLoop loop;
    loop.start();
    platform::NotificationCenter notifications;
    platform::RecordingAlerts alerts;
    platform::Services services{loop, notifications, alerts};
    BaselineListener baseline(loop);

    ClientFinder::Seams seams;
    seams.broadcast = test::ipv4("127.0.0.1");
    seams.listenPort = 0;
    seams.devicePort = fleet.port();
    seams.localNetwork = [] { return LocalNetwork::Direct; };
    seams.sources.loopbackDevices = true; // the devices sit on 127.0.0.x
    std::unique_ptr<ClientFinder> finder;
    loop.postAndWait([&] { finder = std::make_unique<ClientFinder>(services, false, seams); });
    const std::uint16_t listenPort = finder->listenPort();

    for (int i = 0; i <= kDevices; ++i) {
        fleet.devices[i]->sendTo("mPLAT;PUMP;dev;1;" + std::to_string(1000 + i) + ";0", listenPort);
        if (!fleet.devices[i]->receive(2000)) {
            state.SkipWithError("a device was not registered");
            break;
        }
    }
    std::atomic<long> markers{0};
    auto sub = notifications.subscribe("eventFrom" + std::to_string(1000 + kDevices), [&](const platform::Notification&) {
        ++markers;
        markers.notify_all();
    });

    using Clock = std::chrono::steady_clock;
    std::vector<double> baselineTimes, pathTimes;
    int next = 0;
    long windows = 0;
    auto runBaseline = [&] {
        auto t0 = Clock::now();
        fleet.sendWindow(payload, "M", baseline.port(), next);
        waitFor(baseline.markers, windows);
        baselineTimes.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    };
    auto runPath = [&] {
        auto t0 = Clock::now();
        fleet.sendWindow(payload, "e12:00:00 MARK", listenPort, next);
        waitFor(markers, windows);
        pathTimes.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    };
    for (auto _ : state) {
        ++windows;
        // Which goes first alternates, so neither always meets a cold start.
        if (windows % 2) {
            runBaseline();
            runPath();
        } else {
            runPath();
            runBaseline();
        }
    }
    if (!baselineTimes.empty() && !pathTimes.empty()) {
        // Rates from the median window: the machine is shared, and a window that
        // met another process's burst says nothing about either path.
        double perWindow = kWindow + 1;
        double baseRate = perWindow / median(baselineTimes);
        double pathRate = perWindow / median(pathTimes);
        state.counters["baseline_per_s"] = baseRate;
        state.counters["path_per_s"] = pathRate;
        state.counters["path_vs_baseline"] = pathRate / baseRate;
        // The fastest windows: noise only ever adds time.
        double bestBase = perWindow / *std::min_element(baselineTimes.begin(), baselineTimes.end());
        double bestPath = perWindow / *std::min_element(pathTimes.begin(), pathTimes.end());
        state.counters["best_vs_baseline"] = bestPath / bestBase;
    }

    sub.reset();
    loop.postAndWait([&] { finder.reset(); });
}

// Registry cost of announcements, on the main thread of a manual loop.
void BM_Announcements(benchmark::State& state, bool repeat)
{
    constexpr int kCount = 1000;
    // The device port, on every loopback address: the 's' replies land here
    // as they would at real devices (a closed port would add ICMP work).
    UdpPeer sink("0.0.0.0");
    std::vector<sockaddr_in> senders(kCount);
    std::vector<std::string> datagrams(kCount);
    for (int i = 0; i < kCount; ++i) {
        senders[i].sin_family = AF_INET;
        senders[i].sin_addr = test::ipv4(("127.0." + std::to_string(1 + i / 250) + "." + std::to_string(2 + i % 250)).c_str());
        datagrams[i] = "mPLAT;" + std::string(i % 2 ? "PUMP" : "VALVE") + ";device " + std::to_string(i) + ";3;" +
                       std::to_string(5000 + i) + ";1";
    }
    for (auto _ : state) {
        state.PauseTiming();
        platform::ManualLoop loop;
        platform::NotificationCenter notifications;
        platform::RecordingAlerts alerts;
        platform::Services services{loop, notifications, alerts};
        ClientFinder::Seams seams;
        seams.broadcast = test::ipv4("127.0.0.1");
        seams.listenPort = 0;
        seams.devicePort = sink.port();
        seams.localNetwork = [] { return LocalNetwork::Direct; };
        seams.sources.loopbackDevices = true; // the devices sit on 127.0.0.x
        auto finder = std::make_unique<ClientFinder>(services, false, seams);
        if (repeat)
            for (int i = 0; i < kCount; ++i)
                finder->parsePacket(senders[i], datagrams[i]);
        state.ResumeTiming();

        for (int i = 0; i < kCount; ++i)
            finder->parsePacket(senders[i], datagrams[i]);

        state.PauseTiming();
        finder.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kCount);
    state.counters["us_per_announcement"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kCount * 1e-6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK_CAPTURE(BM_DatagramPath, i, std::string("i"))->UseRealTime()->MinTime(1.0);
BENCHMARK_CAPTURE(BM_DatagramPath, e, std::string("e12:00:00 PUMP RUNNING"))->UseRealTime()->MinTime(1.0);
BENCHMARK_CAPTURE(BM_Announcements, new_devices, false)->Iterations(20);
BENCHMARK_CAPTURE(BM_Announcements, repeats, true)->Iterations(20);

int main(int argc, char** argv)
{
    // The finder and the records print a line per event and per new device;
    // a terminal would measure itself, not the path. Results go to stderr.
    if (!bench::silenceStdout())
        return 1;
    return bench::runBenchmarks(argc, argv);
}
