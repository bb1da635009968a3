#include "platform/PacketTapPoint.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fieldmon::platform {

void PacketTapPoint::attach(PacketTap* tap)
{
    std::lock_guard lock(mutex_);
    tap_ = tap;
    sources_.clear();
    active_.store(tap != nullptr, std::memory_order_relaxed);
}

void PacketTapPoint::detach() { attach(nullptr); }

std::uint32_t PacketTapPoint::sourceAddressTowards(std::uint32_t destination)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        return 0;
    // A connect of a datagram socket only picks the route; a broadcast
    // destination needs the broadcast option to be allowed at all.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(destination);
    std::uint32_t source = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        sockaddr_in local{};
        socklen_t len = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0)
            source = ntohl(local.sin_addr.s_addr);
    }
    ::close(fd);
    return source;
}

std::uint32_t PacketTapPoint::sourceTowards(std::uint32_t destination)
{
    auto known = sources_.find(destination);
    if (known == sources_.end())
        known = sources_.emplace(destination, sourceAddressTowards(destination)).first;
    return known->second;
}

void PacketTapPoint::showSent(int fd, const sockaddr_in& to, std::string_view bytes, PacketTap::WallTime at)
{
    if (!tap_)
        return;
    const PacketEnd destination{ntohl(to.sin_addr.s_addr), ntohs(to.sin_port)};
    PacketEnd source;
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0) {
        source.address = ntohl(local.sin_addr.s_addr);
        source.port = ntohs(local.sin_port);
    }
    if (source.address == 0) {
        // An unbound socket says 0.0.0.0: the packet left from the address
        // of the route towards its destination. The lookup runs under the
        // lock, once per destination and recording.
        source.address = sourceTowards(destination.address);
    }
    tap_->datagram(PacketTap::Direction::Sent, source, destination, bytes, at);
}

void PacketTapPoint::received(const sockaddr_in& from, in_addr localAddress, std::uint16_t localPort,
                              std::string_view bytes)
{
    if (!active())
        return;
    const auto at = std::chrono::system_clock::now();
    const PacketEnd source{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
    const PacketEnd destination{ntohl(localAddress.s_addr), localPort};
    std::lock_guard lock(mutex_);
    if (tap_)
        tap_->datagram(PacketTap::Direction::Received, source, destination, bytes, at);
}

void PacketTapPoint::httpTransfer(PacketEnd client, PacketEnd server, std::string_view request,
                                  std::string_view response, PacketTap::WallTime start, PacketTap::WallTime end)
{
    if (!active())
        return;
    std::lock_guard lock(mutex_);
    if (!tap_)
        return;
    if (client.address == 0)
        client.address = sourceTowards(server.address);
    tap_->httpTransfer(client, server, request, response, start, end);
}

} // namespace fieldmon::platform
