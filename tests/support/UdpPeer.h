#pragma once
// A loopback UDP socket for tests: plays a device (or the app) on 127.0.0.x,
// receives with a time-out and sends to a given port. Never broadcasts.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fieldmon::test {

class UdpPeer {
public:
    // Binds to `address`:`port`; port 0 picks a free one.
    explicit UdpPeer(const char* address = "127.0.0.1", std::uint16_t port = 0)
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, address, &sa.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        socklen_t len = sizeof sa;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
        address_ = sa.sin_addr;
        port_ = ntohs(sa.sin_port);
    }
    ~UdpPeer() { ::close(fd_); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool bound() const { return bound_; }
    int fd() const { return fd_; }
    std::uint16_t port() const { return port_; }
    in_addr address() const { return address_; }

    struct Datagram {
        std::string bytes;
        sockaddr_in from{};
    };

    std::optional<Datagram> receive(int timeoutMs = 1000)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return std::nullopt;
        Datagram d;
        std::vector<char> buf(70000);
        socklen_t len = sizeof d.from;
        ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&d.from), &len);
        if (n < 0)
            return std::nullopt;
        d.bytes.assign(buf.data(), static_cast<std::size_t>(n));
        return d;
    }

    // Everything that arrives within `timeoutMs` of the last datagram.
    std::vector<std::string> drain(int timeoutMs = 100)
    {
        std::vector<std::string> all;
        while (auto d = receive(timeoutMs))
            all.push_back(d->bytes);
        return all;
    }

    bool sendTo(const std::string& bytes, std::uint16_t port, const char* address = "127.0.0.1")
    {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, address, &sa.sin_addr);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa) ==
               static_cast<ssize_t>(bytes.size());
    }

private:
    int fd_ = -1;
    bool bound_ = false;
    in_addr address_{};
    std::uint16_t port_ = 0;
};

// An unbound sending socket, as the finder makes.
inline int makeSendSocket()
{
    return ::socket(AF_INET, SOCK_DGRAM, 0);
}

inline in_addr ipv4(const char* text)
{
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return a;
}

} // namespace fieldmon::test
