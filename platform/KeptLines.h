#pragma once
// KeptLines: the diagnostic lines that wait for the automation "log" command,
// cut from the bytes as they come, and bounded both in count and in bytes.
// Only the newest are kept; older ones are dropped and counted. A count alone
// is no bound: one datagram dump is a line of several kilobytes, and a device
// that floods the app with bad datagrams would make ten thousand of them many
// megabytes of memory while nobody asks for the log.
//
// Thread rule: one thread at a time (the diagnostics sink holds its lock around every call).

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace fieldmon::platform {

class KeptLines {
public:
    static constexpr std::size_t kMaxLines = 10'000;
    static constexpr std::size_t kMaxBytes = 1024 * 1024;
    static constexpr std::size_t kMaxLineBytes = 64 * 1024; // the rest of a longer line is left out

    struct Taken {
        std::vector<std::string> lines;
        std::size_t dropped = 0;
    };

    // Adds output bytes; a line is kept once its line feed has come.
    void add(const char* data, std::size_t size);
    // The complete lines since the last call, oldest first, and how many
    // older ones were dropped.
    Taken take();

private:
    std::string partial_;
    std::deque<std::string> lines_;
    std::size_t bytes_ = 0;
    std::size_t dropped_ = 0;
};

} // namespace fieldmon::platform
