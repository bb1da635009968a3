#pragma once
// The shared part of a benchmark binary's main(). The code under test prints
// diagnostics to stdout, and a terminal drawing them would be measured too:
// stdout goes to /dev/null and the results to stderr.
//
// Thread rule: main thread, from main().

#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>

namespace fieldmon::bench {

// Sends stdout to /dev/null; false when it cannot.
inline bool silenceStdout()
{
    return std::freopen("/dev/null", "w", stdout) != nullptr;
}

// Runs the benchmarks the command line selects, reporting to stderr.
inline int runBenchmarks(int& argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace fieldmon::bench
