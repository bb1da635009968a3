#pragma once
// Keeps a copy of the diagnostic lines the app prints, for the automation
// "log" command, without changing what reaches standard output: file
// descriptor 1 becomes a pipe, and a copier thread writes everything it
// reads there to the original standard output, in order, keeping the
// complete lines until takeLines() collects them. Output of every thread
// (printf from the listen thread included) passes through the one pipe, so
// its order is kept. A terminal keeps line-buffered output.
//
// What waits to be collected is bounded in lines and bytes (KeptLines);
// older lines are dropped and counted.
//
// Start it before anything prints and destroy it after everything that
// prints: the destructor flushes stdout, gives fd 1 back and joins the
// copier after it has copied the rest.
//
// Thread rule: takeLines() on any one thread at a time (the main thread);
// the copier thread is the class's own. Both work under `mutex_`.

#include "platform/KeptLines.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fieldmon::automation {

class OutputTee {
public:
    // The tee, or null when fd 1 cannot be redirected (output stays as it is).
    static std::unique_ptr<OutputTee> start();
    ~OutputTee();

    OutputTee(const OutputTee&) = delete;
    OutputTee& operator=(const OutputTee&) = delete;

    using Taken = platform::KeptLines::Taken;
    // The complete lines printed since the last call, oldest first.
    Taken takeLines();

private:
    OutputTee(int original, int readEnd);
    void run();
    // Copies what the pipe holds now; caller holds mutex_.
    bool drain();

    int original_;
    int readEnd_;
    std::mutex mutex_;
    platform::KeptLines kept_;
    std::thread copier_;
};

} // namespace fieldmon::automation
