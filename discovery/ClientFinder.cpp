#include "discovery/ClientFinder.h"

#include "platform/Diagnostics.h"
#include "platform/MainLoop.h"
#include "platform/PacketTapPoint.h"

#include <arpa/inet.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>

namespace fieldmon {

namespace {

void exitOnFatal()
{
    std::fflush(nullptr);
    std::exit(1);
}

} // namespace

ClientFinder::ClientFinder(const platform::Services& services, bool debug, Seams seams)
    : services_(services), seams_(std::move(seams)), debug_(debug), sources_(seams_.sources),
      self_(std::make_shared<ClientFinder*>(this))
{
    if (!seams_.fatal)
        seams_.fatal = exitOnFatal;
    if (!seams_.localNetwork)
        seams_.localNetwork = checkLocalNetwork;
    diag("Creating client list\n");

    // The listen thread comes first and binds the listening port itself. We
    // wait for the result of the bind (not for anything the thread does
    // later), so that no device reply to the first search can arrive before
    // the port is open, and so that a bind failure ends start-up here.
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::promise<bool> bound;
    std::future<bool> bindResult = bound.get_future();
    listenThread_ = std::thread([this, token = stop_.get_token(), bound = std::move(bound)]() mutable {
        // Named, so that CPU time and wake-ups can be told apart per thread
        // (top -H, /proc/PID/task/TID/comm).
        pthread_setname_np(pthread_self(), kListenThreadName);
        bool ok = openListeningSocket();
        bound.set_value(ok);
        if (ok)
            listenForClients(token);
    });

    int fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) {
        diag("\nError Creating Socket\n");
        bindResult.wait();
        seams_.fatal();
    } else {
        if (debug_)
            diag("Creating socket\n");
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        sa_.sin_family = AF_INET;
        sa_.sin_port = htons(seams_.devicePort);
        sa_.sin_addr = seams_.broadcast;
        sock_ = fd; // published after sa_ is filled in: charSendMsg reads sa_ only with a socket
    }

    if (seams_.localNetwork() != LocalNetwork::Direct)
        noNetwork();

    // The five mutexes and the registry containers are members, made before
    // this body ran; std::mutex cannot fail to be created.
    if (debug_)
        diag("Created client array\n");

    if (!bindResult.get())
        seams_.fatal();
}

ClientFinder::~ClientFinder()
{
    // Cancels a hand-off the listen thread may be waiting in, wakes its
    // wait, and waits for it to end before anything it uses goes away.
    stop_.request_stop();
    if (wakeFd_ >= 0) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t w = ::write(wakeFd_, &one, sizeof one);
    }
    if (listenThread_.joinable())
        listenThread_.join();
    self_.reset();

    if (sock_ >= 0)
        ::close(sock_);
    if (listenSock_ >= 0)
        ::close(listenSock_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    diag("Thread closed\n");
}

bool ClientFinder::openListeningSocket()
{
    int fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) {
        std::perror("error bind failed");
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(seams_.listenPort);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("error bind failed");
        ::close(fd);
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    // Each datagram's own destination address (unicast or broadcast), for
    // the packet tap: the socket is bound to every address.
    int one = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    boundListenPort_ = ntohs(addr.sin_port);
    listenSock_ = fd;
    return true;
}

void ClientFinder::listenForClients(std::stop_token stop)
{
    using Clock = std::chrono::steady_clock;
    // One receive area for the life of the thread: 1023 bytes and the 0 the
    // content gets after its last byte, so it can be read as a C string.
    char buffer[kMaxDatagram];
    sockaddr_in from{};
    bool presenceNext = true;
    // The tick clock starts with the thread, as if a tick had just run: on a
    // network that never falls quiet for 0.25 s the presence check and the
    // search must still run, yet no earlier than a quiet start would.
    Clock::time_point lastTick = Clock::now();
    const auto tickInterval = std::chrono::duration<double>(kTickSeconds);

    while (!stop.stop_requested()) {
        // poll rather than select: an application with many open files may
        // hand us a descriptor beyond what an fd_set can hold.
        pollfd fds[2] = {{listenSock_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        int ready = ::poll(fds, 2, static_cast<int>(kTickSeconds * 1000));
        if (stop.stop_requested())
            break;
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            diag("Error?\n");
            // A wait that fails keeps failing; pace the retries like ticks
            // instead of spinning.
            std::this_thread::sleep_for(tickInterval);
            continue;
        }
        if (ready > 0 && (fds[0].revents & (POLLIN | POLLERR))) {
            if (fds[0].revents & POLLERR)
                discardSocketErrors();
            // Never a blocking read: what poll saw may be gone by now (a
            // datagram dropped for a bad checksum, a pending error that was
            // all there was), and a blocked read would stop the ticks and
            // the destructor's join. Nothing to read goes back to poll.
            iovec io{buffer, kMaxDatagram};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &io;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            ssize_t n = ::recvmsg(listenSock_, &msg, MSG_DONTWAIT);
            if (n >= 0) {
                if (services_.taps && services_.taps->active())
                    tapReceived(msg, std::string_view(buffer, static_cast<std::size_t>(n)));
                // The hand-off owns its copy of the datagram and the sender:
                // a handler that destroys the finder releases this wait
                // while the handler still runs (see onMainThreadAndWait).
                onMainThreadAndWait([this, from, datagram = std::string(buffer, static_cast<std::size_t>(n))] {
                    parsePacket(from, datagram);
                });
            } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
                std::fprintf(stderr, "%s\n", std::strerror(errno));
            }
            // While data keeps arriving, a tick still runs every 0.25 s.
            if (Clock::now() - lastTick < tickInterval)
                continue;
        }
        lastTick = Clock::now();
        tick(presenceNext);
        presenceNext = !presenceNext;
    }
}

void ClientFinder::tapReceived(const msghdr& msg, std::string_view datagram)
{
    in_addr destination{};
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            destination = info.ipi_addr;
        }
    const auto& from = *static_cast<const sockaddr_in*>(msg.msg_name);
    services_.taps->received(from, destination, boundListenPort_, datagram);
}

// A socket error makes poll report the socket until the error is read: the
// pending error (printed like a failed receive) and anything in the error
// queue are taken and dropped. Bounded, so a flood of errors cannot hold up
// the ticks.
void ClientFinder::discardSocketErrors()
{
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(listenSock_, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error != 0)
        std::fprintf(stderr, "%s\n", std::strerror(error));
    char scratch[64];
    for (int i = 0; i < 64; ++i) {
        iovec io{scratch, sizeof scratch};
        msghdr msg{};
        msg.msg_iov = &io;
        msg.msg_iovlen = 1;
        if (::recvmsg(listenSock_, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            return;
    }
}

void ClientFinder::tick(bool presence)
{
    if (debug())
        diag("Timeout/search\n");
    if (presence) {
        checkPresence();
        return;
    }
    if (searching()) {
        if (debug())
            diag("Looking for unidentified clients\n");
        charSendMsg('h');
    }
}

void ClientFinder::initiateSearch()
{
    if (debug())
        diag("Starting search\n");
    if (charSendMsg('H') < 0)
        diag("Failed to send message.  Uh oh.\n");
    searching_ = true;
}

int ClientFinder::charSendMsg(char c)
{
    int fd = sock_.load();
    if (fd == -1)
        return -1;
    int error = 0;
    auto transmit = [&] {
        std::lock_guard lock(send_mutex);
        // Never waiting for room in the send buffer (see Client::sendBytes).
        const bool left = ::sendto(fd, &c, 1, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&sa_), sizeof sa_) >= 0;
        error = left ? 0 : errno;
        return left;
    };
    const bool left = services_.taps ? services_.taps->send(fd, sa_, std::string_view(&c, 1), transmit) : transmit();
    // A full send buffer is no network failure: the next tick searches again.
    if (!left && (error == EAGAIN || error == EWOULDBLOCK))
        return -1;
    if (!left) {
        reportSendFailure(error);
        return -1;
    }
    return 0;
}

// A failed broadcast: tell the user whether the local network is gone or the
// send failed for another reason.
void ClientFinder::reportSendFailure(int error)
{
    switch (seams_.localNetwork()) {
    case LocalNetwork::Untestable:
        onMainThreadAndWait([this] { noNetwork(); });
        return;
    case LocalNetwork::NotDirect:
        onMainThreadAndWait([this] { lostNetwork("Can't access local WiFi"); });
        return;
    case LocalNetwork::Direct: {
        std::string text = std::strerror(error);
        onMainThreadAndWait([this, text] { lostNetwork("Network Error: " + text); });
        diag("Error sending packet: %s\n", text.c_str());
        return;
    }
    }
}

bool ClientFinder::onMainThreadAndWait(std::function<void()> fn)
{
    std::weak_ptr<ClientFinder*> alive = self_;
    // Stopping also ends a wait whose task runs: a handler on the main thread
    // may destroy the finder, whose destructor then joins this thread. So
    // every hand-off owns what it uses, and touches nothing of the finder
    // after a call that may have destroyed it.
    return services_.loop.postAndWait(
        [alive, fn = std::move(fn)] {
            if (alive.lock())
                fn();
        },
        stop_.get_token(), platform::MainLoop::StopEnds::Running);
}

void ClientFinder::onMainThread(std::function<void()> fn)
{
    std::weak_ptr<ClientFinder*> alive = self_;
    services_.loop.post([alive, fn = std::move(fn)] {
        if (alive.lock())
            fn();
    });
}

} // namespace fieldmon
