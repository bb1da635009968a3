#pragma once
// Helpers of the capture tests: hand-made pcap files (any link type, any
// frames), frames of the link types a tcpdump capture may have, a temporary
// folder, and storage sinks (one the test runs by hand, one on a thread).

#include "capture/StorageSink.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fieldmon::test {

struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        char name[] = "/tmp/fieldmon-capture-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// A classic pcap file (microseconds, little-endian) of `frames` at link type `linkType`.
struct PcapFile {
    explicit PcapFile(std::uint32_t linkType)
    {
        le32(0xA1B2C3D4);
        le16(2);
        le16(4);
        le32(0);
        le32(0);
        le32(262144);
        le32(linkType);
    }
    void add(std::int64_t micros, const std::string& frame)
    {
        le32(static_cast<std::uint32_t>(micros / 1000000));
        le32(static_cast<std::uint32_t>(micros % 1000000));
        le32(static_cast<std::uint32_t>(frame.size()));
        le32(static_cast<std::uint32_t>(frame.size()));
        bytes += frame;
    }
    void le16(std::uint16_t v) { bytes += std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; }
    void le32(std::uint32_t v)
    {
        le16(static_cast<std::uint16_t>(v));
        le16(static_cast<std::uint16_t>(v >> 16));
    }
    std::string bytes;
};

// Link-layer headers in front of an IPv4 packet.
inline std::string ethernet(const std::string& ip, std::uint16_t etherType = 0x0800)
{
    std::string f(12, '\x02');
    f += static_cast<char>(etherType >> 8);
    f += static_cast<char>(etherType);
    return f + ip;
}
inline std::string linuxCooked(const std::string& ip, std::uint16_t etherType = 0x0800)
{
    std::string f(14, '\0');
    f += static_cast<char>(etherType >> 8);
    f += static_cast<char>(etherType);
    return f + ip;
}
inline std::string linuxCooked2(const std::string& ip, std::uint16_t etherType = 0x0800)
{
    std::string f;
    f += static_cast<char>(etherType >> 8);
    f += static_cast<char>(etherType);
    f.append(18, '\0');
    return f + ip;
}

// Jobs wait until the test runs them: the queue's bound can be reached at will.
class ManualSink final : public capture::StorageSink {
public:
    void submit(Job job) override { jobs_.push_back(std::move(job)); }
    std::size_t runAll()
    {
        std::size_t n = 0;
        while (!jobs_.empty()) {
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            job();
            ++n;
        }
        return n;
    }
    std::size_t waiting() const { return jobs_.size(); }

private:
    std::deque<Job> jobs_;
};

// A stand-in for the storage thread: runs jobs in order on its own thread.
class ThreadSink final : public capture::StorageSink {
public:
    ThreadSink() : thread_([this] { loop(); }) {}
    ~ThreadSink()
    {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void submit(Job job) override
    {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        cv_.notify_all();
    }
    // Waits until every job submitted so far has run.
    void drain()
    {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [&] { return jobs_.empty() && !running_; });
    }

private:
    void loop()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [&] { return quit_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            running_ = true;
            lock.unlock();
            job();
            lock.lock();
            running_ = false;
            idle_.notify_all();
        }
    }
    std::mutex mutex_;
    std::condition_variable cv_, idle_;
    std::deque<Job> jobs_;
    bool quit_ = false;
    bool running_ = false;
    std::thread thread_;
};

} // namespace fieldmon::test
