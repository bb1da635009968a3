// Evaluation and compilation of expressions, measured side by side with
// muParser in the same run. Evaluation goes through the path a widget update
// uses: the compiled tree's eval() over remote variables that already hold
// their values. Every benchmark also reports heap allocations per iteration
// (counted by replacing the global operator new of this binary).
//
//   build/bench/expr/bench_expr
#include "device/Client.h"
#include "expr/Compiler.h"
#include "expr/Node.h"
#include "support/ManualLoop.h"
#include "platform/NotificationCenter.h"
#include "support/RecordingAlerts.h"
#include "variables/RemoteData.h"

#include <benchmark/benchmark.h>
#include <muParser.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<long> allocations{0};

} // namespace

// The replacement pair below is malloc/free underneath; GCC sees free() in
// an inlined operator delete and takes it for a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t n)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using namespace fieldmon;

// A device whose variables temp, a, b and c have addresses and values, and
// the same values as doubles for muParser.
struct Device {
    platform::ManualLoop loop;
    platform::NotificationCenter notifications;
    platform::RecordingAlerts alerts;
    platform::Services services{loop, notifications, alerts};
    std::shared_ptr<Client> client = Client::create(false, services);
    double temp = 23.5, a = 4, b = 7, c = 2;

    // temp is a float by default: muParser's variables are doubles, and a
    // device's float is the like-for-like type. a, b and c are 16-bit words.
    explicit Device(const char* tempType = "float")
    {
        client->variables().parseVariableDeclaration(std::string("(") + tempType +
                                         ") temp = 0; (WORD) a = 1; (WORD) b = 2; (WORD) c = 3;");
        int address = 0x1000;
        for (auto [name, v] : {std::pair{"temp", temp}, std::pair{"a", a}, std::pair{"b", b}, std::pair{"c", c}}) {
            auto var = client->variables().varDict().at(name);
            var->setRealAddress(address);
            address += 4;
            std::uint8_t bytes[4] = {};
            if (var->type() == "float") {
                float f = static_cast<float>(v);
                std::memcpy(bytes, &f, sizeof f);
            } else {
                const int raw = var->type() == "DEC10" ? static_cast<int>(v * 10) : static_cast<int>(v);
                bytes[0] = static_cast<std::uint8_t>(raw & 0xff);
                bytes[1] = static_cast<std::uint8_t>(raw >> 8);
            }
            var->storeData(bytes, var->size());
        }
    }

    std::shared_ptr<expr::Node> compile(const char* text)
    {
        auto n = expr::Compiler::compile(client, text);
        n->prepForEval(); // resolves the names, as the first request pass does
        return n;
    }

    void define(mu::Parser& p)
    {
        p.DefineVar("temp", &temp);
        p.DefineVar("a", &a);
        p.DefineVar("b", &b);
        p.DefineVar("c", &c);
    }
};

const char* const kExpressions[] = {
    "temp / 10",
    "(a + b * 2) > 3 ? a : b",
    "max(a, b, c) * 2.5",
};

// A 60-character expression for compile times.
const char* const kCompileText = "(temp / 10 + max(a, b, c) * 2.5) > 3.5 ? a * 2 + b : c - 1.5";
static_assert(sizeof("(temp / 10 + max(a, b, c) * 2.5) > 3.5 ? a * 2 + b : c - 1.5") - 1 == 60);

void reportAllocations(benchmark::State& state, long before)
{
    state.counters["allocs/iter"] = benchmark::Counter(
        static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations()));
}

void BM_FieldmonEval(benchmark::State& state)
{
    Device d;
    auto n = d.compile(kExpressions[state.range(0)]);
    state.SetLabel(kExpressions[state.range(0)]);
    n->eval(); // the first evaluation prepares what the next ones reuse
    long before = allocations.load();
    for (auto _ : state) {
        expr::Value v = n->eval();
        benchmark::DoNotOptimize(v);
    }
    reportAllocations(state, before);
}

// temp / 10 with temp declared as the other types devices use for it: the
// reading itself then divides (DEC10) or the division is an integer one (WORD).
void BM_FieldmonEvalTempType(benchmark::State& state)
{
    const char* types[] = {"float", "DEC10", "WORD"};
    Device d(types[state.range(0)]);
    auto n = d.compile("temp / 10");
    state.SetLabel(std::string("temp / 10, temp as ") + types[state.range(0)]);
    n->eval();
    long before = allocations.load();
    for (auto _ : state) {
        expr::Value v = n->eval();
        benchmark::DoNotOptimize(v);
    }
    reportAllocations(state, before);
}

void BM_MuParserEval(benchmark::State& state)
{
    Device d;
    mu::Parser p;
    d.define(p);
    p.SetExpr(kExpressions[state.range(0)]);
    p.Eval(); // the first Eval parses
    state.SetLabel(kExpressions[state.range(0)]);
    long before = allocations.load();
    for (auto _ : state) {
        double v = p.Eval();
        benchmark::DoNotOptimize(v);
    }
    reportAllocations(state, before);
}

void BM_FieldmonCompile(benchmark::State& state)
{
    Device d;
    long before = allocations.load();
    for (auto _ : state) {
        auto n = expr::Compiler::compile(d.client, kCompileText);
        benchmark::DoNotOptimize(n);
    }
    reportAllocations(state, before);
}

void BM_MuParserCompile(benchmark::State& state)
{
    Device d;
    long before = allocations.load();
    for (auto _ : state) {
        mu::Parser p;
        d.define(p);
        p.SetExpr(kCompileText);
        double v = p.Eval(); // parsing happens here
        benchmark::DoNotOptimize(v);
    }
    reportAllocations(state, before);
}

BENCHMARK(BM_FieldmonEval)->DenseRange(0, 2);
BENCHMARK(BM_MuParserEval)->DenseRange(0, 2);
BENCHMARK(BM_FieldmonEvalTempType)->DenseRange(0, 2);
BENCHMARK(BM_FieldmonCompile);
BENCHMARK(BM_MuParserCompile);

} // namespace

BENCHMARK_MAIN();
