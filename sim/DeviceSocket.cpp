#include "sim/DeviceSocket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fieldmon::sim {

DeviceSocket::~DeviceSocket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::string DeviceSocket::dotted(in_addr a)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

bool DeviceSocket::isBroadcast(in_addr a)
{
    const std::uint32_t host = ntohl(a.s_addr);
    return host == 0xFFFFFFFFu || (host & 0xFFu) == 0xFFu;
}

bool DeviceSocket::open(std::uint16_t port, std::string& why)
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        why = std::string("cannot create the UDP socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        why = "cannot bind UDP port " + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void DeviceSocket::send(in_addr source, const std::string& who, const Datagram& d)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(d.port);
    to.sin_addr = d.to;

    // The source address is the device's own, whatever interface the route takes.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec iov{const_cast<char*>(d.bytes.data()), d.bytes.size()};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst = source;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);

    const std::string where = dotted(d.to) + ":" + std::to_string(d.port);
    if (::sendmsg(fd_, &msg, 0) < 0)
        log_.line(who, "-> " + where + " failed: " + std::strerror(errno));
    else
        log_.line(who, "-> " + where + " '" + SimLog::printable(d.bytes) + "'");
}

bool DeviceSocket::receive(Received& out)
{
    sockaddr_in from{};
    alignas(cmsghdr) char control[256];
    iovec iov{buffer_, sizeof buffer_};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd_, &msg, MSG_DONTWAIT);
    if (n < 0)
        return false;
    out.destination = in_addr{};
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            out.destination = info.ipi_addr;
        }
    out.from = from;
    out.bytes = std::string_view(buffer_, static_cast<std::size_t>(n));
    return true;
}

} // namespace fieldmon::sim
