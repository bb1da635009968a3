#include "sim/ReplayLoop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cmath>

namespace fieldmon::sim {

ReplayLoop::ReplayLoop(Replayer& replayer, SimLog& log, std::uint16_t devicePort, HttpSpec http)
    : replayer_(replayer), log_(log), devicePort_(devicePort), http_(std::move(http)), socket_(log)
{
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0)
        wake_[0] = wake_[1] = -1;
}

ReplayLoop::~ReplayLoop()
{
    for (auto& s : servers_)
        s->stop();
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

double ReplayLoop::now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool ReplayLoop::open(std::string& why)
{
    if (!socket_.open(devicePort_, why))
        return false;
    log_.line("fieldsim", "replaying on UDP port " + std::to_string(devicePort_));
    serveNewDevices();
    return true;
}

void ReplayLoop::serveNewDevices()
{
    for (RecordedDevice* d : replayer_.takeNewDevices()) {
        auto server = std::make_unique<DeviceHttp>(
            d->name(), [d](const std::string& file) { return d->document(file); }, http_, log_);
        std::string why;
        if (!server->start(in_addr{htonl(d->address())}, why))
            log_.line(d->name(), "http: " + why);
        servers_.push_back(std::move(server));
    }
}

void ReplayLoop::send(std::vector<Outgoing>& out)
{
    for (const Outgoing& o : out)
        socket_.send(in_addr{htonl(o.source)}, o.who, o.datagram);
    out.clear();
}

void ReplayLoop::requestStop()
{
    stop_ = true;
    if (wake_[1] >= 0) {
        const char b = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wake_[1], &b, 1);
    }
}

void ReplayLoop::run()
{
    std::vector<Outgoing> out;
    replayer_.start(now());
    while (!stop_) {
        // What the app sent first, so that a host heard by now gets the
        // events due now.
        DeviceSocket::Received r;
        for (int k = 0; k < 64 && socket_.receive(r); ++k) {
            replayer_.receive(r.bytes, r.from, r.destination, now(), out);
            send(out);
        }
        const double next = replayer_.tick(now(), out);
        send(out);
        serveNewDevices();
        if (next < 0)
            return;
        // Sleep to the microsecond: a 16x replay of datagrams 10 ms apart
        // leaves them 0.6 ms apart.
        const double wait = std::max(0.0, next - now());
        timespec timeout{static_cast<time_t>(wait), static_cast<long>(std::fmod(wait, 1.0) * 1e9)};
        pollfd fds[2] = {{socket_.fd(), POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::ppoll(fds, wake_[0] >= 0 ? 2 : 1, &timeout, nullptr) > 0 && wake_[0] >= 0 && (fds[1].revents & POLLIN)) {
            char drain[16];
            while (::read(wake_[0], drain, sizeof drain) > 0) {
            }
        }
    }
}

} // namespace fieldmon::sim
