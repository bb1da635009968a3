#pragma once
// SimLog: the simulator's journal. Every datagram a device receives or sends
// and every notable thing it does goes here as one line with a time stamp
// (local time with milliseconds) and the device's name, on standard output or
// in a file given with --log.
//
// Thread rule: any thread; lines are written whole under a lock (the HTTP
// servers log from their own threads).

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace fieldmon::sim {

class SimLog {
public:
    // Writes to stdout until open() names a file.
    SimLog() = default;
    ~SimLog();
    SimLog(const SimLog&) = delete;
    SimLog& operator=(const SimLog&) = delete;

    // Appends to `path` from now on; false (and stdout kept) if it cannot be opened.
    bool open(const std::string& path);

    // Keeps the lines in memory as well (tests read them back).
    void setCapture(bool on);
    std::string captured() const;

    void line(std::string_view who, std::string_view text);

    // Bytes as readable text: printable ASCII as is, the rest as \r, \n, \t
    // or \xNN; at most `limit` bytes are shown, then "...(N bytes)".
    static std::string printable(std::string_view bytes, std::size_t limit = 200);

private:
    mutable std::mutex mutex_;
    std::FILE* file_ = nullptr;
    bool capture_ = false;
    std::string captured_;
};

} // namespace fieldmon::sim
