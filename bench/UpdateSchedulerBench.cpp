// Cost of the update scheduler per serviced binding, on the manual loop, for
// 1,000 / 10,000 / 100,000 bindings at mixed rates. Widgets answer "no
// refresh wanted", so no expression is evaluated and no request is queued:
// what is measured is the scheduler itself (heap steps, the redraw call, the
// pass bookkeeping). The baseline runs the same due-time workload on a bare
// std::priority_queue of (due time, index) pairs, the least any heap-based
// scheduler must pay.
#include "device/Client.h"
#include "expr/Compiler.h"
#include "expr/Node.h"
#include "support/ManualLoop.h"
#include "platform/NotificationCenter.h"
#include "support/RecordingAlerts.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <queue>
#include <vector>

using namespace fieldmon;

namespace {

// Mixed rates around 0.1, 0.25, 0.5, 1 and 2 s, each stretched by up to 10 %
// so that due times spread out instead of moving in lockstep.
double rateOf(std::size_t i)
{
    static const double base[] = {0.1, 0.25, 0.5, 1.0, 2.0};
    return base[i % 5] * (1.0 + double(i % 101) / 1000.0);
}

std::string rateText(std::size_t i)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6f", rateOf(i));
    return buf;
}

void BM_SchedulerPerBinding(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    platform::ManualLoop loop;
    platform::NotificationCenter notifications;
    platform::RecordingAlerts alerts;
    auto client = Client::create(false, platform::Services{loop, notifications, alerts});
    client->variables().parseVariableDeclaration("(int) temp = 0;");

    std::uint64_t serviced = 0;
    // One expression per 1,000 bindings: a binding only holds it here.
    std::vector<std::shared_ptr<expr::Node>> expressions;
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 1000 == 0)
            expressions.push_back(expr::Compiler::compile(client, "temp"));
        client->scheduler().bind(expressions.back(), nullptr, [&serviced] { return ++serviced, false; },
                                   rateText(i));
    }
    client->variables().requests().clear();
    client->scheduler().start();
    loop.advance(3.0); // past the first passes, into the steady state

    serviced = 0;
    for (auto _ : state)
        loop.advance(0.5);
    state.counters["serviced"] = benchmark::Counter(double(serviced));
    state.counters["per_binding"] =
        benchmark::Counter(double(serviced), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    client->scheduler().unscheduleAll();
}

void BM_BareHeapBaseline(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    using Item = std::pair<double, std::size_t>;
    std::priority_queue<Item, std::vector<Item>, std::greater<>> heap;
    double now = 1000.0;
    for (std::size_t i = 0; i < n; ++i)
        heap.emplace(now, i);
    std::uint64_t serviced = 0;
    auto advance = [&](double seconds) {
        double end = now + seconds;
        while (!heap.empty() && heap.top().first <= end) {
            now = std::max(now, heap.top().first);
            // One firing: everything due within 0.05 s.
            while (!heap.empty() && heap.top().first - now < 0.05) {
                Item it = heap.top();
                heap.pop();
                benchmark::DoNotOptimize(it);
                heap.emplace(now + rateOf(it.second), it.second);
                ++serviced;
            }
        }
        now = end;
    };
    advance(3.0);
    serviced = 0;
    for (auto _ : state)
        advance(0.5);
    state.counters["serviced"] = benchmark::Counter(double(serviced));
    state.counters["per_binding"] =
        benchmark::Counter(double(serviced), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_SchedulerPerBinding)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareHeapBaseline)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
