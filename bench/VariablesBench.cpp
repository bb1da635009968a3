// Speed of the remote-variable store: a batch of 1000 value requests sent and
// its reply stored, and parsing a 100 KB declaration text. Each is measured
// next to a baseline in the same run: the bare cost of touching the same
// bytes (formatting the items with snprintf and copying the payload; scanning
// the text for semicolons), so the figures read relative to this machine.

#include "variables/RemoteData.h"
#include "variables/VariableStore.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace fieldmon;

namespace {

constexpr int kRequests = 1000;

struct Device {
    std::string lastSent;
    char id = 'a';
    VariableStore store{VariableStore::Link{
        [] { return false; },
        [this](std::string_view t) {
            lastSent.assign(t);
            return 0;
        },
        [this] { return id = static_cast<char>(id >= '|' ? 'b' : id + 1); },
        {},
        {},
        {},
    }};
    std::vector<std::shared_ptr<RemoteData>> vars;

    // 1000 variables at random addresses; about one in four sits right after
    // the one before it, so batching has runs to merge.
    Device()
    {
        std::mt19937 rng(42);
        std::int32_t address = 0x1000;
        const char* types[] = {"WORD", "DWORD", "BYTE", "DEC10", "float"};
        for (int i = 0; i < kRequests; ++i) {
            auto v = store.createVar("v" + std::to_string(i), types[rng() % 5], i);
            bool adjacent = i > 0 && rng() % 4 == 0;
            address = adjacent ? address + vars.back()->size() : static_cast<std::int32_t>(rng() % 0x100000);
            v->setRealAddress(address);
            vars.push_back(std::move(v));
        }
    }

    // What the device would answer to the last request: the asked-for bytes.
    std::string reply() const
    {
        std::string d = "A";
        d += lastSent[1];
        for (std::size_t i = 2; i + 9 <= lastSent.size(); i += 9) {
            auto n = static_cast<std::uint8_t>(lastSent[i + 8]) - 65;
            d.append(static_cast<std::size_t>(n), '\x5a');
        }
        d += '\0';
        return d;
    }
};

void BM_SubmitAndStore1000(benchmark::State& state)
{
    Device dev;
    std::vector<std::string> replies;
    for (auto _ : state) {
        state.PauseTiming();
        for (auto& v : dev.vars)
            dev.store.requests().queue(v->varRequest());
        state.ResumeTiming();
        while (dev.store.requests().submitRequests()) {
            state.PauseTiming();
            std::string r = dev.reply();
            state.ResumeTiming();
            dev.store.requests().handleValueReply(r);
        }
    }
    std::size_t valid = 0;
    for (auto& v : dev.vars)
        valid += !v->invalid();
    if (valid != dev.vars.size())
        state.SkipWithError("not every variable received its value");
}
BENCHMARK(BM_SubmitAndStore1000)->Unit(benchmark::kMicrosecond);

void BM_QueueSubmitAndStore1000(benchmark::State& state)
{
    Device dev;
    for (auto _ : state) {
        for (auto& v : dev.vars)
            dev.store.requests().queue(v->varRequest());
        while (dev.store.requests().submitRequests()) {
            state.PauseTiming();
            std::string r = dev.reply();
            state.ResumeTiming();
            dev.store.requests().handleValueReply(r);
        }
    }
}
BENCHMARK(BM_QueueSubmitAndStore1000)->Unit(benchmark::kMicrosecond);

// Baseline: format 1000 items with snprintf and copy 3000 reply bytes.
void BM_Baseline_FormatAndCopy1000(benchmark::State& state)
{
    Device dev;
    std::vector<std::uint8_t> payload(3 * kRequests, 0x5a);
    std::vector<std::uint8_t> sink(3 * kRequests);
    for (auto _ : state) {
        std::string text = "ab";
        char item[16];
        for (auto& v : dev.vars) {
            std::snprintf(item, sizeof item, "%8.8x%c", static_cast<unsigned>(v->realAddress()), 65 + v->size());
            text += item;
        }
        std::memcpy(sink.data(), payload.data(), payload.size());
        benchmark::DoNotOptimize(text.data());
        benchmark::DoNotOptimize(sink.data());
    }
}
BENCHMARK(BM_Baseline_FormatAndCopy1000)->Unit(benchmark::kMicrosecond);

// About 100 KB of declarations: variables of every built-in type, with a
// structure and an enumeration every 50 statements.
std::string declarationText()
{
    std::mt19937 rng(7);
    const char* types[] = {"WORD", "DWORD", "BYTE", "char", "int", "float", "DEC10", "DEC100", "IP_ADDR",
                           "unsigned short", "SWORD"};
    std::string text;
    int n = 0;
    while (text.size() < 100 * 1024) {
        if (n % 50 == 0) {
            text += "(struct) s" + std::to_string(n) + " { (WORD) x = 0; (DWORD) y = 2; (float) z = 6; };\n";
            text += "(enum) e" + std::to_string(n) + " { OFF; ON; FAULT = 7; SERVICE; };\n";
            text += "(s" + std::to_string(n) + ") sv" + std::to_string(n) + " = " + std::to_string(n) + ";\n";
        }
        text += "(" + std::string(types[rng() % 11]) + ") variable_" + std::to_string(n) + " = " +
                std::to_string(rng() % 256) + ";\n";
        ++n;
    }
    return text;
}

void BM_ParseDeclarations100KB(benchmark::State& state)
{
    const std::string text = declarationText();
    for (auto _ : state) {
        VariableStore store(VariableStore::Link{});
        store.parseVariableDeclaration(text);
        benchmark::DoNotOptimize(store.varDict().size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseDeclarations100KB)->Unit(benchmark::kMicrosecond);

// Baseline: find every statement end in the same text.
void BM_Baseline_ScanText100KB(benchmark::State& state)
{
    const std::string text = declarationText();
    for (auto _ : state) {
        std::size_t count = 0;
        for (const char* p = text.data(); (p = static_cast<const char*>(std::memchr(p, ';', text.data() + text.size() - p)));
             ++p)
            ++count;
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Baseline_ScanText100KB)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
