#pragma once
// ReplayLoop: runs a Replayer on the network: the one device socket (see
// DeviceSocket), an HTTP server on each replayed device's address serving
// its recorded documents, and a wait that wakes at each recorded datagram's
// time (to the microsecond, so that a fast replay keeps the recorded spacing).
//
// Thread rule: construct, open() and run() on one thread; requestStop() from
// any thread (and from a signal handler).

#include "sim/DeviceHttp.h"
#include "sim/DeviceSocket.h"
#include "sim/Replayer.h"

#include <atomic>
#include <memory>
#include <vector>

namespace fieldmon::sim {

class ReplayLoop {
public:
    ReplayLoop(Replayer& replayer, SimLog& log, std::uint16_t devicePort, HttpSpec http);
    ~ReplayLoop();
    ReplayLoop(const ReplayLoop&) = delete;
    ReplayLoop& operator=(const ReplayLoop&) = delete;

    bool open(std::string& why);
    // Plays until the recording ends (or requestStop()).
    void run();
    void requestStop();

    static double now();

private:
    void send(std::vector<Outgoing>& out);
    void serveNewDevices();

    Replayer& replayer_;
    SimLog& log_;
    std::uint16_t devicePort_;
    HttpSpec http_;
    DeviceSocket socket_;
    std::vector<std::unique_ptr<DeviceHttp>> servers_;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
};

} // namespace fieldmon::sim
