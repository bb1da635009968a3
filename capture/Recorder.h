#pragma once
// Recorder: writes what the app sends and receives to a pcapng capture that
// Wireshark, tshark and `fieldsim --replay` read. Datagrams become IPv4/UDP
// packets with their real addresses and ports; each HTTP transfer becomes a
// synthesized TCP conversation carrying the real request and response. The
// first packet of each device whose name is known (from its announcement, or
// from nameDevice()) carries a comment naming it.
//
// The calls only copy the bytes into a bounded queue (no disk, no packet
// building); the storage thread (platform::StorageThread, one queue of its
// own named "capture") builds the packets and writes them as whole blocks.
// When the queue is full (the disk cannot keep up) the item is dropped
// whole and counted. The file is a valid capture after every write;
// when it reaches its size cap, or the disk fails or fills, recording stops
// and the stop handler hears why, on the main thread.
//
// Hook-up: make one Recorder for `--record FILE` or the "Record" switch,
// call datagram() for every datagram sent and received, httpTransfer() when
// a transfer ends, nameDevice() for devices known before recording began,
// and destroy it (or stop()) to finish the file.
//
// Thread rule: datagram(), httpTransfer(), nameDevice() and counts() from any
// thread (the listen thread sends presence probes); the constructor, stop()
// and the destructor on the main thread. The stop handler runs on the main
// thread, never after the destructor.

#include "capture/Endpoint.h"
#include "platform/StorageThread.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace fieldmon::platform {
class MainLoop;
}

namespace fieldmon::capture {

class Recorder {
public:
    using WallTime = std::chrono::system_clock::time_point;
    enum class Direction { Sent, Received };
    enum class StopReason { SizeCap, WriteFailed };
    using StopHandler = std::function<void(StopReason reason, const std::string& detail)>;

    struct Options {
        std::string path;
        std::uint64_t sizeCap = std::uint64_t{1} << 30;      // 1 GiB
        std::size_t queueBytes = std::size_t{16} << 20;       // waiting for the disk
        std::string application;                              // empty: "fieldmon <version>"
    };

    struct Counts {
        std::uint64_t packets = 0; // packets in the file
        std::uint64_t dropped = 0; // datagrams and transfers left out for a full queue
        std::uint64_t bytes = 0;   // size of the file
    };

    // Starts recording: the storage thread creates the file and writes its
    // header; a file that cannot be created is reported through `onStop`.
    Recorder(Options options, platform::StorageThread& storage, platform::MainLoop& loop, StopHandler onStop);
    // Stops; what is queued is still written. Never waits on the disk.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void datagram(Direction direction, Endpoint from, Endpoint to, std::string_view bytes, WallTime at);
    // A client port of 0 (not known to the app) gets a made-up ephemeral one.
    void httpTransfer(Endpoint client, Endpoint server, std::string_view request, std::string_view response,
                      WallTime start, WallTime end);
    void nameDevice(std::uint32_t address, std::string_view name);

    // Ends recording; later calls are ignored.
    void stop();
    bool recording() const;
    Counts counts() const;
    const std::string& path() const;

    static std::string defaultApplication();

private:
    struct State;
    void enqueue(int kind, int direction, Endpoint a, Endpoint b, std::string_view first, std::string_view second,
                 std::int64_t t1, std::int64_t t2);
    bool submit(platform::StorageThread::Job job);

    std::shared_ptr<State> state_;
    platform::StorageThread& storage_;
    platform::StorageThread::QueueId queue_;
};

} // namespace fieldmon::capture
