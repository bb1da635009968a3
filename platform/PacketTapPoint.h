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
#include <chrono>
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

    // Sends a datagram through `transmit` (true when it left) and, while a
    // tap is attached and it left, shows it as sent by socket `fd` to `to`.
    // Its source is the socket's own port (getsockname) and the address the
    // system sends from towards `to` (looked up once per destination,
    // sending nothing). The time is taken before the send, and the tap is
    // told before the lock is let go: a reply the datagram causes, which
    // received() stamps after it arrives and hands over under the same
    // lock, is stamped later and shown after it. (Stamped after the send,
    // a reply on a loaded machine came out first, and a replay found an
    // answer to a request not made yet.)
    template <typename Transmit>
    bool send(int fd, const sockaddr_in& to, std::string_view bytes, Transmit&& transmit)
    {
        if (!active())
            return transmit();
        std::lock_guard lock(mutex_);
        const auto at = std::chrono::system_clock::now();
        if (!transmit())
            return false;
        showSent(fd, to, bytes, at);
        return true;
    }
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
    // mutex_ held.
    void showSent(int fd, const sockaddr_in& to, std::string_view bytes, PacketTap::WallTime at);
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
