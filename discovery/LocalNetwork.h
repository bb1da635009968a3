#pragma once
// The local-network test: is there a local IPv4 network to broadcast on? That
// is the case when some interface is up, is not the loopback, has an IPv4
// address and can broadcast: the technician's wireless LAN, where the search
// broadcast reaches field devices.
//
// Routes play no part. An ordinary LAN has a default gateway and no route of
// its own for the link-local network 169.254/16, so asking how 169.254/16 is
// reached would call such a LAN unusable.
//
// Thread rule: evaluateLocalNetwork() is pure; checkLocalNetwork() reads the
// system's interface list and may run on any thread.

#include <string>
#include <vector>

namespace fieldmon {

enum class LocalNetwork {
    Untestable, // the interface list could not be read
    NotDirect,  // no interface to broadcast on
    Direct,     // a local IPv4 network to broadcast on
};

// One IPv4 address of an interface, with the interface's flags.
struct NetworkInterface {
    std::string name;
    bool up = false;
    bool loopback = false;
    bool broadcast = false;
};

LocalNetwork evaluateLocalNetwork(const std::vector<NetworkInterface>& ipv4Interfaces);

LocalNetwork checkLocalNetwork();

} // namespace fieldmon
