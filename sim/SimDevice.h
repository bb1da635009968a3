#pragma once
// SimDevice: one simulated field device. It answers the application's
// datagrams as a real device does:
//
//   "H", "h"     the identity announcement "m" platform;type;name;version;
//                serial;service to the asker's address, port 10023
//   "F"          the presence answer "i" (unless told not to answer probes)
//   "s"          nothing (the app's acknowledgement of an announcement)
//   "E"          nothing (the detail screen opened; logged)
//   "v…", "a…"   the address and value replies of the request protocol; the
//                device's "link" loses a share of these requests and holds
//                the other replies back by its delay
//   "c…"         commands: "service 1"/"service 0" switch service mode and
//                send the stamped events EVENTSYS_SVC_MODE_ON/_OFF, "hostreq"
//                sends the host-request event, others are matched against
//                the device's JSON command patterns
//
// Events ("e" + "hh:mm:ss text") go to every host heard from in the last two
// minutes, and so does the flood of malformed datagrams a device file may
// ask for. Variables move by their behaviours; periodic events and a
// timeline of changes (address, identity, silence) run from tick().
//
// The device never touches a socket: receive() and tick() return the
// datagrams to send, and the simulator sends them from the device's address.
//
// Thread rule: one owner (the simulator's loop thread).

#include "sim/Behaviour.h"
#include "sim/Datagram.h"
#include "sim/DeviceConfig.h"
#include "sim/DeviceMemory.h"
#include "sim/Flood.h"
#include "sim/SimLog.h"

#include <netinet/in.h>

#include <deque>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon::sim {

class SimDevice {
public:
    static constexpr std::uint16_t kAppPort = 10023;
    static constexpr double kHostMemorySeconds = 120;
    static constexpr std::size_t kMaxHosts = 8;
    static constexpr double kFloodBatchSeconds = 0.02;

    SimDevice(DeviceConfig config, SimLog& log, std::uint16_t appPort = kAppPort);

    // Lays out memory from the declarations, writes the JSON's initial
    // values and sets up behaviours, events and the timeline. Problems with
    // the JSON against the declarations go to `problems` (the device still runs).
    void start(const std::vector<DeclaredVariable>& declarations, double now, std::vector<std::string>& problems);

    void receive(std::string_view bytes, const sockaddr_in& from, double now, std::vector<Datagram>& out);

    // Runs what is due at `now`; returns when it next wants to run.
    double tick(double now, std::vector<Datagram>& out);

    std::string announcement() const;
    in_addr address() const { return config_.address; }
    const std::string& name() const { return config_.name; }
    const DeviceConfig& config() const { return config_; }
    bool service() const { return config_.service; }
    bool silent() const { return config_.silent; }
    DeviceMemory& memory() { return memory_; }
    const DeviceMemory& memory() const { return memory_; }

    // How many datagrams of each kind (first byte) arrived.
    int received(char kind) const;

    // Sends a stamped event line to the known hosts.
    void sendEvent(const std::string& text, bool stamp, double now, std::vector<Datagram>& out);

private:
    void runCommand(std::string_view command, double now, std::vector<Datagram>& out);
    void rememberHost(in_addr host, double now);
    void applyChange(const ScheduledChange& change);
    void sendFlood(double now, std::vector<Datagram>& out);
    void log(const std::string& text) const;
    Datagram to(in_addr host, std::string bytes) const;

    struct Moving {
        std::string path;
        std::unique_ptr<Behaviour> behaviour;
        double due = 0;
    };
    struct Periodic {
        PeriodicEvent spec;
        double due = 0;
        long count = 0;
    };
    struct Host {
        in_addr address{};
        double heard = 0;
    };

    DeviceConfig config_;
    SimLog& log_;
    std::uint16_t appPort_;
    DeviceMemory memory_;
    std::vector<Moving> moving_;
    std::vector<Periodic> periodic_;
    std::size_t nextChange_ = 0;
    double startTime_ = 0;
    std::vector<Host> hosts_;
    std::map<char, int> received_;
    Flood flood_;
    double floodSent_ = 0; // when the flood last sent (it sends what the rate owes since)
    // Replies held back by the link's delay, in the order they fall due.
    std::deque<std::pair<double, Datagram>> delayed_;
    std::minstd_rand linkDice_; // seeded by the serial: a run loses the same requests
};

} // namespace fieldmon::sim
