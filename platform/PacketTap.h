#pragma once
// PacketTap: the interface through which a listener (the capture recorder)
// sees the datagrams the app sends and receives, and the HTTP transfers it
// makes, with their real addresses and ports. Core code does not call it
// directly: it calls the app's PacketTapPoint, which holds the attached tap.
//
// Addresses and ports are in host byte order (10.77.0.1 is 0x0A4D0001).
//
// Thread rule: the handlers are called from any thread, one at a time (the
// tap point serialises them); they must be quick (copy the bytes and
// return: never touch a disk, never wait for another thread) and must not
// call the tap point.

#include <chrono>
#include <cstdint>
#include <string_view>

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

} // namespace fieldmon::platform
