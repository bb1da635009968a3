#pragma once
// PacketTap: where the datagrams the app sends and receives, and the HTTP
// transfers it makes, can be seen by a listener (the capture recorder) with
// their real addresses and ports. Core code that talks to the network calls
// the tap point; it knows nothing of who listens.
//
// The tap point is off unless a tap is attached: each call then costs one
// load and one predictable branch (active()). While a tap is attached, calls
// are serialised by the point's lock and run the tap's handler under it, so
// detach() returns only once no handler runs any more, and the tap may be
// destroyed right after. A handler therefore must be quick (copy the bytes
// and return: never touch a disk, never wait for another thread) and must
// not call the tap point itself.
//
// Addresses and ports are in host byte order (10.77.0.1 is 0x0A4D0001).
//
// Thread rule: every call from any thread (the listen thread receives and
// sends presence probes, the main thread sends and fetches); attach() and
// detach() from the thread that owns the tap (the main thread in the app).

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <unordered_map>

namespace fieldmon::platform {

struct PacketEnd {
    std::uint32_t address = 0;
    std::uint16_t port = 0;

    friend bool operator==(const PacketEnd&, const PacketEnd&) = default;
};

class PacketTap {
public:
    using WallTime = std::chrono::system_clock::time_point;
    enum class Direction { Sent, Received };

    virtual ~PacketTap() = default;
    virtual void datagram(Direction direction, PacketEnd from, PacketEnd to, std::string_view bytes, WallTime at) = 0;
    // `client.port` 0: the app's port is not known (the HTTP stack hides it).
    virtual void httpTransfer(PacketEnd client, PacketEnd server, std::string_view request,
                              std::string_view response, WallTime start, WallTime end) = 0;
};

class PacketTapPoint {
public:
    PacketTapPoint() = default;
    PacketTapPoint(const PacketTapPoint&) = delete;
    PacketTapPoint& operator=(const PacketTapPoint&) = delete;

    // Replaces the attached tap (not owned).
    void attach(PacketTap* tap);
    // After this returns no handler of the detached tap runs or will run.
    void detach();

    // The hot path's only question when nothing listens.
    bool active() const { return active_.load(std::memory_order_relaxed); }

    // A datagram that socket `fd` has just sent to `to`. Its source is the
    // socket's own port (getsockname) and the address the system sends from
    // towards `to` (looked up once per destination, sending nothing).
    void sent(int fd, const sockaddr_in& to, std::string_view bytes);
    // A datagram received from `from` on `localPort`, addressed to
    // `localAddress` (the packet's destination: a unicast or broadcast one).
    void received(const sockaddr_in& from, in_addr localAddress, std::uint16_t localPort, std::string_view bytes);
    // A client address of 0 becomes the address this machine sends from
    // towards the server.
    void httpTransfer(PacketEnd client, PacketEnd server, std::string_view request, std::string_view response,
                      PacketTap::WallTime start, PacketTap::WallTime end);

    // The address this machine sends from towards `destination` (host byte
    // order), 0 when there is no route. Asks the system (a connect() of a
    // scratch socket, which sends nothing); any thread.
    static std::uint32_t sourceAddressTowards(std::uint32_t destination);

private:
    // sourceAddressTowards through the cache; mutex_ held.
    std::uint32_t sourceTowards(std::uint32_t destination);

    std::atomic<bool> active_{false};
    std::mutex mutex_;
    PacketTap* tap_ = nullptr; // guarded by mutex_
    // Source address per destination, guarded by mutex_; cleared on attach
    // (the routes may have changed between two recordings).
    std::unordered_map<std::uint32_t, std::uint32_t> sources_;
};

} // namespace fieldmon::platform
