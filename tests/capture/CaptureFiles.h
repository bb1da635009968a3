#pragma once
// Helpers of the capture tests: hand-made pcap files (any link type, any
// frames), frames of the link types a tcpdump capture may have, a temporary
// folder, and a way to hold the storage thread busy.

#include "platform/StorageThread.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
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

// Holds the storage thread busy until release(): the recorder's jobs wait
// behind it, so its queue fills at will.
class StorageBlock {
public:
    explicit StorageBlock(platform::StorageThread& storage)
    {
        const auto queue = storage.addQueue("test block", 1);
        storage.tryPush(queue, [this] {
            std::unique_lock lock(mutex_);
            running_ = true;
            cv_.notify_all();
            cv_.wait(lock, [&] { return released_; });
        });
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return running_; });
    }
    ~StorageBlock() { release(); }
    void release()
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool running_ = false;
    bool released_ = false;
};

} // namespace fieldmon::test
