#include "sim/Simulator.h"

#include "sim/UiDeclarations.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fieldmon::sim {

namespace {

std::string dotted(in_addr a)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

bool isBroadcast(in_addr a)
{
    const std::uint32_t host = ntohl(a.s_addr);
    return host == 0xFFFFFFFFu || (host & 0xFFu) == 0xFFu;
}

} // namespace

Simulator::Simulator(SimLog& log, SimulatorOptions options) : log_(log), options_(options)
{
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0)
        wake_[0] = wake_[1] = -1;
}

Simulator::~Simulator()
{
    for (auto& e : devices_)
        if (e->http)
            e->http->stop();
    if (socket_ >= 0)
        ::close(socket_);
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

double Simulator::now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool Simulator::addDevice(DeviceConfig config, std::vector<std::string>& problems)
{
    const std::string uiPath = config.folder + "/" + config.uiFile;
    std::ifstream in(uiPath, std::ios::binary);
    std::vector<DeclaredVariable> declared;
    if (!in) {
        problems.push_back(config.source + ": cannot read " + uiPath + " (the device runs without variables)");
    } else {
        std::stringstream text;
        text << in.rdbuf();
        std::vector<std::string> xmlErrors;
        const auto texts = declarationTexts(text.str(), xmlErrors);
        for (const auto& e : xmlErrors)
            problems.push_back(uiPath + ": " + e);
        declared = declaredVariables(texts, problems);
    }
    for (const auto& e : devices_)
        if (e->device->address().s_addr == config.address.s_addr) {
            problems.push_back(config.source + ": address " + dotted(config.address) + " is already used by " +
                               e->device->name());
            return false;
        }
    auto entry = std::make_unique<Entry>();
    entry->device = std::make_unique<SimDevice>(std::move(config), log_, options_.appPort);
    entry->device->start(declared, now(), problems);
    devices_.push_back(std::move(entry));
    return true;
}

bool Simulator::open(std::string& why)
{
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        why = std::string("cannot create the UDP socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(socket_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(options_.devicePort);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        why = "cannot bind UDP port " + std::to_string(options_.devicePort) + ": " + std::strerror(errno);
        return false;
    }
    log_.line("fieldsim", "listening on UDP port " + std::to_string(options_.devicePort) + ", answering to port " +
                              std::to_string(options_.appPort));
    for (auto& e : devices_)
        restartHttp(*e);
    return true;
}

void Simulator::restartHttp(Entry& e)
{
    const SimDevice& d = *e.device;
    if (!e.http)
        e.http = std::make_unique<DeviceHttp>(d.name(), d.config().folder, d.config().http, log_);
    std::string why;
    if (!e.http->start(d.address(), why))
        log_.line(d.name(), "http: " + why);
    e.servedAddress = d.address();
}

std::vector<std::size_t> Simulator::recipients(in_addr destination) const
{
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i]->device->address().s_addr == destination.s_addr)
            out.push_back(i);
    if (!out.empty() || !isBroadcast(destination))
        return out;
    for (std::size_t i = 0; i < devices_.size(); ++i)
        out.push_back(i);
    return out;
}

void Simulator::send(const SimDevice& from, const std::vector<Datagram>& out)
{
    for (const Datagram& d : out) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(d.port);
        to.sin_addr = d.to;

        // The source address is the device's own, whatever interface the
        // route takes.
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
        info.ipi_spec_dst = from.address();
        std::memcpy(CMSG_DATA(c), &info, sizeof info);

        const std::string where = dotted(d.to) + ":" + std::to_string(d.port);
        if (::sendmsg(socket_, &msg, 0) < 0)
            log_.line(from.name(), "-> " + where + " failed: " + std::strerror(errno));
        else
            log_.line(from.name(), "-> " + where + " '" + SimLog::printable(d.bytes) + "'");
    }
}

void Simulator::receiveOne(double t)
{
    char buffer[65536];
    sockaddr_in from{};
    alignas(cmsghdr) char control[256];
    iovec iov{buffer, sizeof buffer};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(socket_, &msg, MSG_DONTWAIT);
    if (n < 0)
        return;
    in_addr destination{};
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            destination = info.ipi_addr;
        }
    const std::string_view bytes(buffer, static_cast<std::size_t>(n));
    const auto to = recipients(destination);
    if (to.empty()) {
        log_.line("fieldsim", "datagram for " + dotted(destination) + " from " + dotted(from.sin_addr) +
                                  " (no device there) '" + SimLog::printable(bytes) + "'");
        return;
    }
    for (std::size_t i : to) {
        std::vector<Datagram> out;
        devices_[i]->device->receive(bytes, from, t, out);
        send(*devices_[i]->device, out);
    }
}

void Simulator::requestStop()
{
    stop_ = true;
    if (wake_[1] >= 0) {
        const char b = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wake_[1], &b, 1);
    }
}

void Simulator::run(double seconds)
{
    const double end = seconds > 0 ? now() + seconds : 0;
    while (!stop_) {
        double t = now();
        if (end > 0 && t >= end)
            break;
        double next = t + 1;
        for (auto& e : devices_) {
            std::vector<Datagram> out;
            next = std::min(next, e->device->tick(t, out));
            send(*e->device, out);
            if (e->device->address().s_addr != e->servedAddress.s_addr)
                restartHttp(*e);
        }
        if (end > 0)
            next = std::min(next, end);
        const int timeoutMs = std::max(0, static_cast<int>((next - now()) * 1000) + 1);
        pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = ::poll(fds, wake_[0] >= 0 ? 2 : 1, timeoutMs);
        if (ready <= 0)
            continue;
        if (fds[0].revents & POLLIN)
            for (int k = 0; k < 64; ++k) { // drain a burst, then tick again
                pollfd one{socket_, POLLIN, 0};
                if (::poll(&one, 1, 0) <= 0)
                    break;
                receiveOne(now());
            }
        if (wake_[0] >= 0 && (fds[1].revents & POLLIN)) {
            char drain[16];
            while (::read(wake_[0], drain, sizeof drain) > 0) {
            }
        }
    }
}

} // namespace fieldmon::sim
