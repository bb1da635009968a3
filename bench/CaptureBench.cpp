// Capture files: what recording costs per datagram, how fast a replay reaches
// `--from`, and how closely a fast replay keeps the recorded spacing. Each
// beside a baseline measured in the same run:
//
//   record_enqueue      Recorder::datagram() (what the app's thread pays;
//                       the storage thread writing to /dev/null, waited
//                       for every 1,000 outside the timing)
//   record_build        the storage thread's share: UDP packet and block
//   baseline_memcpy     copying the same bytes into a buffer
//   tap_off             a received datagram shown to the app's packet tap
//                       point with nothing attached (every datagram pays it)
//   tap_recording       the same with the recorder attached (through
//                       RecorderTap: the lock, the copy into the queue)
//   baseline_nothing    the loop around no call at all
//   replay_from_3000    Replayer::open() with --from 3000 in a one-hour
//                       capture of 100 devices (about 1.5 million packets)
//   baseline_pcap_3000  bare libpcap reads of the same packets
//   replay_jitter_16x   a replay at 16x of events 10 ms apart over loopback:
//                       the largest and mean difference between the spacing
//                       at the receiver and the recorded spacing / 16
//   baseline_sleep_16x  the same deadlines kept by a bare ppoll loop
//
// The one-hour capture is written to /tmp once per run and removed after.

#include "BenchMain.h"

#include "capture/PcapngBlocks.h"
#include "capture/Recorder.h"
#include "capture/RecorderTap.h"
#include "capture/SyntheticPackets.h"
#include "platform/PacketTapPoint.h"
#include "support/ManualLoop.h"
#include "platform/StorageThread.h"
#include "sim/ReplayLoop.h"
#include "sim/Replayer.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace fieldmon;
using capture::Endpoint;

namespace {

const Endpoint kApp{0x0A4D0001, 10023};
const Endpoint kDevice{0x0A4D000A, 10024};
const std::string kReply = "Ab" + std::string(40, '\x5a') + std::string(1, '\0'); // a typical value reply

double steady()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void BM_record_enqueue(benchmark::State& state)
{
    platform::ManualLoop loop;
    platform::StorageThread storage;
    capture::Recorder::Options options;
    options.path = "/dev/null";
    capture::Recorder recorder(options, storage, loop, nullptr);
    storage.waitIdle(10);
    const auto now = std::chrono::system_clock::now();
    std::size_t n = 0;
    for (auto _ : state) {
        recorder.datagram(capture::Recorder::Direction::Received, kDevice, kApp, kReply, now);
        if (++n % 1000 == 0) {
            state.PauseTiming();
            storage.waitIdle(10);
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["dropped"] = static_cast<double>(recorder.counts().dropped);
}
BENCHMARK(BM_record_enqueue);

void BM_record_build(benchmark::State& state)
{
    std::string packet, blocks;
    std::uint16_t id = 0;
    for (auto _ : state) {
        packet.clear();
        capture::appendUdpPacket(packet, kDevice, kApp, kReply, id++);
        capture::appendEnhancedPacket(blocks, 1'700'000'000'000'000, packet);
        if (blocks.size() > (1 << 20))
            blocks.clear();
        benchmark::DoNotOptimize(blocks.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_record_build);

void BM_baseline_memcpy(benchmark::State& state)
{
    std::string buffer;
    buffer.reserve(2 << 20);
    for (auto _ : state) {
        buffer.append(kReply);
        if (buffer.size() > (1 << 20))
            buffer.clear();
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_baseline_memcpy);

sockaddr_in deviceAddress()
{
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(kDevice.address);
    from.sin_port = htons(kDevice.port);
    return from;
}

void BM_tap_off(benchmark::State& state)
{
    platform::PacketTapPoint taps;
    const sockaddr_in from = deviceAddress();
    platform::PacketTapPoint* point = &taps;
    benchmark::DoNotOptimize(point);
    for (auto _ : state) {
        if (point->active())
            point->received(from, in_addr{htonl(kApp.address)}, kApp.port, kReply);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_tap_off);

void BM_tap_recording(benchmark::State& state)
{
    platform::ManualLoop loop;
    platform::StorageThread storage;
    capture::Recorder::Options options;
    options.path = "/dev/null";
    capture::Recorder recorder(options, storage, loop, nullptr);
    capture::RecorderTap tap(recorder);
    platform::PacketTapPoint taps;
    taps.attach(&tap);
    storage.waitIdle(10);
    const sockaddr_in from = deviceAddress();
    std::size_t n = 0;
    for (auto _ : state) {
        if (taps.active())
            taps.received(from, in_addr{htonl(kApp.address)}, kApp.port, kReply);
        if (++n % 1000 == 0) {
            state.PauseTiming();
            storage.waitIdle(10);
            state.ResumeTiming();
        }
    }
    taps.detach();
    state.SetItemsProcessed(state.iterations());
    state.counters["dropped"] = static_cast<double>(recorder.counts().dropped);
}
BENCHMARK(BM_tap_recording);

void BM_baseline_nothing(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::ClobberMemory();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_baseline_nothing);

// One hour of 100 devices: each answers the search twice a second and is
// acknowledged, and one page polls 20 variables of one device five times a
// second (request and reply).
const std::string& hourCapture()
{
    static const std::string path = [] {
        const std::string p = "/tmp/fieldmon-bench-hour.pcapng";
        std::ofstream out(p, std::ios::binary);
        std::string blocks, packet;
        capture::appendSectionHeader(blocks, "bench");
        capture::appendInterfaceDescription(blocks, capture::kLinkTypeIpv4, "bench");
        const std::int64_t t0 = 1'700'000'000'000'000;
        std::uint16_t id = 0;
        auto add = [&](std::int64_t t, Endpoint from, Endpoint to, const std::string& d) {
            packet.clear();
            capture::appendUdpPacket(packet, from, to, d, id++);
            capture::appendEnhancedPacket(blocks, t, packet);
        };
        for (std::int64_t tick = 0; tick < 3600 * 10; ++tick) { // 100 ms steps
            const std::int64_t t = t0 + tick * 100'000;
            if (tick % 5 == 0)
                for (int d = 0; d < 100; ++d) {
                    const Endpoint dev{0x0A4D0100u + static_cast<std::uint32_t>(d), 10024};
                    add(t + d * 100, dev, kApp, "mPLAT;PUMP;Device " + std::to_string(d) + ";3;" + std::to_string(1000 + d) + ";0");
                    add(t + d * 100 + 50, {kApp.address, 41000}, dev, "s");
                }
            if (tick % 2 == 0) {
                const char rid = static_cast<char>('b' + tick % 27);
                add(t + 20'000, {kApp.address, 41000}, kDevice, std::string("a") + rid + "00000100x");
                add(t + 21'000, kDevice, kApp, std::string("A") + rid + std::string(55, '\x11') + std::string(1, '\0'));
            }
            if (blocks.size() > (8 << 20)) {
                out << blocks;
                blocks.clear();
            }
        }
        out << blocks;
        return p;
    }();
    return path;
}

void BM_replay_from_3000(benchmark::State& state)
{
    const std::string& path = hourCapture();
    sim::SimLog log;
    for (auto _ : state) {
        sim::Replayer replayer(sim::ReplayOptions{path, 1, 3000, false, 10023}, log);
        std::string why;
        if (!replayer.open(why))
            state.SkipWithError(why.c_str());
    }
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    // Streamed, never loaded: the process's peak stays far below the file.
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1e3;
}
BENCHMARK(BM_replay_from_3000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_baseline_pcap_3000(benchmark::State& state)
{
    const std::string& path = hourCapture();
    for (auto _ : state) {
        char errors[PCAP_ERRBUF_SIZE];
        pcap_t* p = pcap_open_offline(path.c_str(), errors);
        pcap_pkthdr* h;
        const u_char* data;
        std::uint64_t n = 0;
        while (pcap_next_ex(p, &h, &data) == 1 && h->ts.tv_sec < 1'700'000'000 + 3000)
            ++n;
        pcap_close(p);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_baseline_pcap_3000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The spacing errors of arrival times against deadlines `step` apart.
void report(benchmark::State& state, const std::vector<double>& times, double step)
{
    double worst = 0, sum = 0;
    for (std::size_t i = 1; i < times.size(); ++i) {
        const double error = std::fabs((times[i] - times[i - 1]) - step);
        worst = std::max(worst, error);
        sum += error;
    }
    state.counters["max_ms"] = worst * 1e3;
    state.counters["mean_ms"] = times.size() > 1 ? sum / static_cast<double>(times.size() - 1) * 1e3 : 0;
    state.counters["events"] = static_cast<double>(times.size());
}

constexpr int kEvents = 400;
constexpr double kSpacing = 0.010; // recorded: events 10 ms apart

void BM_replay_jitter_16x(benchmark::State& state)
{
    // A device at 127.0.0.1 whose recording is kEvents events; the bench is
    // the live host, on loopback.
    const std::string path = "/tmp/fieldmon-bench-jitter.pcapng";
    {
        std::string blocks, packet;
        capture::appendSectionHeader(blocks, "bench");
        capture::appendInterfaceDescription(blocks, capture::kLinkTypeIpv4, "bench");
        const Endpoint device{0x7F000001, 10024};
        for (int i = 0; i < kEvents; ++i) {
            packet.clear();
            capture::appendUdpPacket(packet, device, kApp, "e12:00:00 TICK " + std::to_string(i), 1);
            capture::appendEnhancedPacket(blocks, 1'700'000'000'000'000 + static_cast<std::int64_t>(1e6 * (0.5 + i * kSpacing)), packet);
        }
        std::ofstream(path, std::ios::binary) << blocks;
    }
    for (auto _ : state) {
        const int host = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(host, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(host, reinterpret_cast<sockaddr*>(&a), &len);
        const std::uint16_t hostPort = ntohs(a.sin_port);

        sim::SimLog log;
        log.open("/dev/null");
        sim::ReplayOptions options{path, 16, 0, false, hostPort};
        sim::Replayer replayer(options, log);
        std::string why;
        replayer.open(why);
        // A free device port: bind, read it back, let the loop bind it again.
        const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in d{};
        d.sin_family = AF_INET;
        d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(probe, reinterpret_cast<sockaddr*>(&d), sizeof d);
        len = sizeof d;
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&d), &len);
        ::close(probe);
        sim::HttpSpec http;
        http.port = 0;
        sim::ReplayLoop loop(replayer, log, ntohs(d.sin_port), http);
        loop.open(why);
        // The host is heard first (the datagram waits in the bound socket).
        ::sendto(host, "H", 1, 0, reinterpret_cast<sockaddr*>(&d), sizeof d);
        std::thread player([&] { loop.run(); });
        std::vector<double> arrivals;
        char buffer[256];
        const double end = steady() + 5;
        while (arrivals.size() < static_cast<std::size_t>(kEvents) && steady() < end) {
            pollfd p{host, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            const ssize_t n = ::recv(host, buffer, sizeof buffer, 0);
            if (n > 0 && buffer[0] == 'e')
                arrivals.push_back(steady());
        }
        loop.requestStop();
        player.join();
        ::close(host);
        report(state, arrivals, kSpacing / 16);
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_replay_jitter_16x)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_baseline_sleep_16x(benchmark::State& state)
{
    for (auto _ : state) {
        std::vector<double> times;
        const double start = steady();
        for (int i = 0; i < kEvents; ++i) {
            const double deadline = start + i * kSpacing / 16;
            const double wait = std::max(0.0, deadline - steady());
            timespec t{0, static_cast<long>(wait * 1e9)};
            ::ppoll(nullptr, 0, &t, nullptr);
            times.push_back(steady());
        }
        report(state, times, kSpacing / 16);
    }
}
BENCHMARK(BM_baseline_sleep_16x)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    bench::silenceStdout();
    const int status = bench::runBenchmarks(argc, argv);
    std::filesystem::remove("/tmp/fieldmon-bench-hour.pcapng");
    return status;
}
