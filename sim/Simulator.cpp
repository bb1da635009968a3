#include "sim/Simulator.h"

#include "sim/UiDeclarations.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace fieldmon::sim {

namespace {

std::string dotted(in_addr a) { return DeviceSocket::dotted(a); }

} // namespace

Simulator::Simulator(SimLog& log, SimulatorOptions options) : log_(log), options_(options), socket_(log)
{
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0)
        wake_[0] = wake_[1] = -1;
}

Simulator::~Simulator()
{
    for (auto& e : devices_)
        if (e->http)
            e->http->stop();
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
    if (!socket_.open(options_.devicePort, why))
        return false;
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
    if (!out.empty() || !DeviceSocket::isBroadcast(destination))
        return out;
    for (std::size_t i = 0; i < devices_.size(); ++i)
        out.push_back(i);
    return out;
}

void Simulator::send(const SimDevice& from, const std::vector<Datagram>& out)
{
    for (const Datagram& d : out)
        socket_.send(from.address(), from.name(), d);
}

void Simulator::receiveOne(double t)
{
    DeviceSocket::Received r;
    if (!socket_.receive(r))
        return;
    const std::string_view bytes = r.bytes;
    const sockaddr_in from = r.from;
    const in_addr destination = r.destination;
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
        pollfd fds[2] = {{socket_.fd(), POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = ::poll(fds, wake_[0] >= 0 ? 2 : 1, timeoutMs);
        if (ready <= 0)
            continue;
        if (fds[0].revents & POLLIN)
            for (int k = 0; k < 64; ++k) { // drain a burst, then tick again
                pollfd one{socket_.fd(), POLLIN, 0};
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
