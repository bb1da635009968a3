#pragma once
// Simulator: runs several simulated devices in one process. All devices
// share one UDP socket bound to the any-address on the device port, so that
// broadcasts reach it; the destination address of each datagram (IP_PKTINFO)
// says which device a unicast command or request is for, and every answer
// leaves with its device's own address as source, so the app tells the
// devices apart by sender address as it would on a real network. Each device
// also gets its own HTTP server on its own address.
//
// Thread rule: construct, add devices and open() on one thread; run() on one
// thread; requestStop() from any thread (and from a signal handler).

#include "sim/DeviceHttp.h"
#include "sim/DeviceSocket.h"
#include "sim/SimDevice.h"
#include "sim/SimLog.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace fieldmon::sim {

struct SimulatorOptions {
    std::uint16_t devicePort = 10024;
    std::uint16_t appPort = 10023;
};

class Simulator {
public:
    Simulator(SimLog& log, SimulatorOptions options = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Reads the device's UI description for its declarations and sets the
    // device up. Problems are added to `problems`; false when the device
    // cannot run at all.
    bool addDevice(DeviceConfig config, std::vector<std::string>& problems);

    // Binds the UDP socket and starts the HTTP servers.
    bool open(std::string& why);

    // Serves until requestStop() (or for `seconds` when positive).
    void run(double seconds = 0);
    void requestStop();

    std::size_t deviceCount() const { return devices_.size(); }
    SimDevice& device(std::size_t i) { return *devices_[i]->device; }
    int httpPort(std::size_t i) const { return devices_[i]->http ? devices_[i]->http->port() : 0; }

    // Decides which devices a datagram sent to `destination` is for: the one
    // at that address, or all of them for a broadcast address.
    std::vector<std::size_t> recipients(in_addr destination) const;

private:
    struct Entry {
        std::unique_ptr<SimDevice> device;
        std::unique_ptr<DeviceHttp> http;
        in_addr servedAddress{};
    };
    void receiveOne(double now);
    void send(const SimDevice& from, const std::vector<Datagram>& out);
    void restartHttp(Entry& e);
    static double now();

    SimLog& log_;
    SimulatorOptions options_;
    std::vector<std::unique_ptr<Entry>> devices_;
    DeviceSocket socket_;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
};

} // namespace fieldmon::sim
