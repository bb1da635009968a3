// The history store's costs, each beside its baseline in the same run:
//
//   BM_Append            100 series that hold their day (rings full, steady
//                        state) at 10 Hz: one second's 1,000 appends against
//                        bare std::vector pushes of the same (time, value)
//                        pairs, alternating. Counters: ns per append of
//                        each, their ratio (goal: at most 2), the ns per
//                        sample of the once-a-second fold into the seconds
//                        (off the reply path), and heap allocations per
//                        append, fold included (goal: 0).
//   BM_MemoryDay         100 series at 10 Hz for 24 h into the memory tiers.
//                        Counters: the store's own count of its bytes, and
//                        the growth of the process's resident set (goal:
//                        at most 64 MiB).
//   BM_DiskPerSeriesDay  20 series for an hour through the storage thread
//                        into SQLite; the file's size scaled to one series
//                        for one day. Noisy 10 Hz floats (every column
//                        differs) and steady 1 Hz integers (min only).
//
// Run: build/bench/bench_history (results on stderr).
#include "bench/BenchMain.h"
#include "history/HistoryStore.h"
#include "support/ManualLoop.h"
#include "platform/StorageThread.h"

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <vector>

// Every heap allocation of the process is counted, so that a window of
// appends can say how many it made.
static std::atomic<long> gAllocations{0};

// The replacement pair below is malloc/free underneath; GCC sees free() in
// an inlined operator delete and takes it for a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t n)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace fieldmon;
using namespace fieldmon::history;

namespace {

constexpr double kWall = 1'700'000'000.0;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double residentMiB()
{
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

void BM_Append(benchmark::State& state)
{
    // The reply path's load: 100 series polled at 10 Hz. A window is one
    // second: 1,000 appends, then the store's once-a-second fold (timed on
    // its own). The baseline pushes the same (time, value) pairs into 100
    // bare vectors (reserved, cleared every second).
    constexpr int kSeries = 100;
    constexpr int kPerSecond = 10;
    platform::ManualLoop loop(0);
    HistoryStore store(loop, nullptr, {}, {0, kWall});
    std::vector<SeriesId> ids;
    for (int k = 0; k < kSeries; ++k)
        ids.push_back(store.series(1, "v" + std::to_string(k)));
    std::vector<double> values(kSeries * kPerSecond);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = std::sin(static_cast<double>(i) * 0.37) * 50;
    double t = 0;
    auto second = [&] {
        for (int r = 0; r < kPerSecond; ++r, t += 0.1)
            for (int k = 0; k < kSeries; ++k)
                store.appendNumber(ids[static_cast<std::size_t>(k)], t, kWall + t,
                                   values[static_cast<std::size_t>(r * kSeries + k)]);
    };
    // A day and a bit: every ring of every series is full (steady state).
    for (int s = 0; s < 86'400 + 700; ++s) {
        second();
        loop.advance(1);
    }

    std::vector<std::vector<std::pair<double, double>>> bare(kSeries);
    for (auto& v : bare)
        v.reserve(kPerSecond);
    std::vector<double> appendNs, bareNs, foldNs;
    appendNs.reserve(static_cast<std::size_t>(state.max_iterations));
    bareNs.reserve(static_cast<std::size_t>(state.max_iterations));
    foldNs.reserve(static_cast<std::size_t>(state.max_iterations));
    long allocations = 0;
    long appends = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        for (auto& v : bare)
            v.clear();
        auto t0 = Clock::now();
        double bt = t;
        for (int r = 0; r < kPerSecond; ++r, bt += 0.1)
            for (int k = 0; k < kSeries; ++k)
                bare[static_cast<std::size_t>(k)].emplace_back(bt, values[static_cast<std::size_t>(r * kSeries + k)]);
        benchmark::DoNotOptimize(bare.data());
        const auto t1 = Clock::now();
        const long before = gAllocations.load();
        second();
        const auto t2 = Clock::now();
        store.flush(); // what the store's 1 s timer does
        const auto t3 = Clock::now();
        allocations += gAllocations.load() - before;
        appends += kSeries * kPerSecond;
        constexpr double n = kSeries * kPerSecond;
        bareNs.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / n);
        appendNs.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count() / n);
        foldNs.push_back(std::chrono::duration<double, std::nano>(t3 - t2).count() / n);
    }
    state.counters["append_ns"] = median(appendNs);
    state.counters["vector_ns"] = median(bareNs);
    state.counters["append_vs_vector"] = median(appendNs) / median(bareNs);
    state.counters["fold_ns_per_sample"] = median(foldNs);
    state.counters["allocs_per_append"] = static_cast<double>(allocations) / static_cast<double>(appends);
}
BENCHMARK(BM_Append)->Iterations(2000)->Unit(benchmark::kMillisecond);

void BM_MemoryDay(benchmark::State& state)
{
    for (auto _ : state) {
        const double before = residentMiB();
        const double heapBefore = static_cast<double>(mallinfo2().uordblks) / (1 << 20);
        platform::ManualLoop loop(0);
        auto store = std::make_unique<HistoryStore>(loop, nullptr, HistoryOptions{}, ClockReading{0, kWall});
        std::vector<SeriesId> ids;
        for (int s = 0; s < 100; ++s)
            ids.push_back(store->series(1, "v" + std::to_string(s)));
        for (long step = 0; step < 864'000; ++step) {
            const double t = step * 0.1;
            for (int s = 0; s < 100; ++s)
                store->appendNumber(ids[static_cast<std::size_t>(s)], t, kWall + t, s + std::sin(t * 0.01 + s) * 10);
        }
        const auto st = store->stats();
        state.counters["heap_in_use_MiB"] = static_cast<double>(mallinfo2().uordblks) / (1 << 20) - heapBefore;
        state.counters["store_MiB"] = static_cast<double>(st.memoryBytes) / (1 << 20);
        state.counters["rss_growth_MiB"] = residentMiB() - before;
        state.counters["series"] = static_cast<double>(st.series);
        state.counters["lost"] = static_cast<double>(st.samplesLost);
    }
}
BENCHMARK(BM_MemoryDay)->Iterations(1)->Unit(benchmark::kSecond);

void BM_DiskPerSeriesDay(benchmark::State& state, bool noisy)
{
    constexpr int kSeries = 20;
    constexpr int kSeconds = 3600;
    for (auto _ : state) {
        char dir[] = "/tmp/historybenchXXXXXX";
        if (!mkdtemp(dir)) {
            state.SkipWithError("no temporary folder");
            return;
        }
        const std::string path = std::string(dir) + "/history.db";
        {
            platform::ManualLoop loop(0);
            platform::StorageThread storage;
            HistoryOptions o;
            o.databasePath = path;
            HistoryStore store(loop, &storage, o, {0, kWall});
            std::vector<SeriesId> ids;
            for (int s = 0; s < kSeries; ++s)
                ids.push_back(store.series(1, "v" + std::to_string(s)));
            const double step = noisy ? 0.1 : 1.0;
            for (int second = 0; second < kSeconds; ++second) {
                for (double t = second; t < second + 1 - 1e-9; t += step)
                    for (int s = 0; s < kSeries; ++s)
                        store.appendNumber(ids[static_cast<std::size_t>(s)], t, kWall + t,
                                           noisy ? s + std::sin(t * 3.1 + s) * 10 : 100 + s);
                loop.advance(1);
                storage.waitIdle(30);
            }
            state.counters["batches_lost"] = static_cast<double>(store.stats().batchesLost);
        }
        // The store is gone and the storage thread drained when `storage` went.
        struct stat st{};
        stat(path.c_str(), &st);
        const double perSeriesDay = static_cast<double>(st.st_size) * (86'400.0 / kSeconds) / kSeries;
        state.counters["MiB_per_series_day"] = perSeriesDay / (1 << 20);
        state.counters["bytes_per_second_row"] = perSeriesDay / 86'400;
        std::remove(path.c_str());
        rmdir(dir);
    }
}
BENCHMARK_CAPTURE(BM_DiskPerSeriesDay, noisy_10Hz, true)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_DiskPerSeriesDay, steady_1Hz, false)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    fieldmon::bench::silenceStdout();
    return fieldmon::bench::runBenchmarks(argc, argv);
}
