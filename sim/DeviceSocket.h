#pragma once
// DeviceSocket: the one UDP socket through which every simulated or replayed
// device of a fieldsim process talks. It is bound to the any-address on the
// device port, so that broadcasts reach it; each received datagram comes
// with the address it was sent to (IP_PKTINFO), which says which device it
// is for, and each datagram leaves with its device's own address as source,
// so the app tells the devices apart by sender address as on a real network.
//
// Thread rule: one owner.

#include "sim/Datagram.h"
#include "sim/SimLog.h"

#include <netinet/in.h>

#include <string>
#include <string_view>

namespace fieldmon::sim {

class DeviceSocket {
public:
    explicit DeviceSocket(SimLog& log) : log_(log) {}
    ~DeviceSocket();
    DeviceSocket(const DeviceSocket&) = delete;
    DeviceSocket& operator=(const DeviceSocket&) = delete;

    bool open(std::uint16_t port, std::string& why);
    int fd() const { return fd_; }

    // One waiting datagram, without blocking. False when none is waiting.
    struct Received {
        std::string_view bytes; // valid until the next receive()
        sockaddr_in from{};
        in_addr destination{};
    };
    bool receive(Received& out);

    // Sends from `source`, logging each datagram under `who`.
    void send(in_addr source, const std::string& who, const Datagram& d);

    static std::string dotted(in_addr a);
    static bool isBroadcast(in_addr a);

private:
    SimLog& log_;
    int fd_ = -1;
    char buffer_[65536];
};

} // namespace fieldmon::sim
