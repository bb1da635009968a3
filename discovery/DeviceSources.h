#pragma once
// DeviceSources: which source addresses a device datagram may come from.
// A device has an address of its own on the LAN; a datagram that claims to
// come from anywhere else is forged or misrouted, and a record made from it
// would point Connect and every command at the wrong machine (from 0.0.0.0,
// at this phone itself). Refused sources:
//
//   0.0.0.0/8        "this network": a forged or half-configured sender
//   127.0.0.0/8      loopback: this phone
//   224.0.0.0/4      multicast: a group, never one device
//   255.255.255.255  and every interface's directed broadcast address
//   this phone's own interface addresses
//
// The phone's own addresses are read from the system (getifaddrs) and read
// again at most every kRefreshSeconds, so an address the phone gets later
// is refused too.
//
// Tests run their devices on loopback addresses (127.0.0.x): they pass
// loopbackDevices, which accepts all of 127/8. Production accepts no
// loopback source.
//
// Thread rule: one thread (the finder calls it on the main thread).

#include <netinet/in.h>

#include <functional>
#include <optional>
#include <vector>

namespace fieldmon {

struct DeviceSourceRules {
    bool loopbackDevices = false;
    // This phone's own IPv4 addresses and its interfaces' broadcast
    // addresses; null reads them from the system.
    std::function<std::vector<in_addr>()> localAddresses;
};

class DeviceSources {
public:
    static constexpr double kRefreshSeconds = 2.0;

    explicit DeviceSources(DeviceSourceRules rules);

    // Whether a device may sit at `source`; `now` paces the re-reading of the
    // phone's own addresses.
    bool accepts(in_addr source, double now);

    // The system's own addresses and interface broadcast addresses.
    static std::vector<in_addr> systemAddresses();

private:
    DeviceSourceRules rules_;
    std::vector<in_addr> local_;
    std::optional<double> readAt_;
};

} // namespace fieldmon
