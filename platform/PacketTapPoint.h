#pragma once
// PacketTapPoint: where the app's sockets and HTTP transport show what they
// send and receive to an attached PacketTap. One per app (AppShell), reached
// through platform::Services::taps.
//
// The point is off unless a tap is attached: each call then costs one load
// and one predictable branch (active()). While a tap is attached, calls are
// serialised by the point's lock and run the tap's handler under it, so
// detach() returns only once no handler runs any more, and the tap may be
// destroyed right after.
//
// Thread rule: every call from any thread (the listen thread receives and
// sends presence probes, the main thread sends and fetches); attach() and
// detach() from the thread that owns the tap (the main thread in the app).

#include "platform/PacketTap.h"

#include <netinet/in.h>

#include <atomic>
#include <mutex>
#include <unordered_map>

namespace fieldmon::platform {

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
