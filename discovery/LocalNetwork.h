#pragma once
// The local-network test: is the link-local network 169.254.0.0 reachable
// directly, without a gateway? That is the sign that the device sits on a
// local network (the technician's wireless LAN) where broadcasts reach field
// devices, rather than only behind a router.
//
// On Linux it holds when the best route to 169.254.0.0 (longest prefix, then
// lowest metric) is up, has no gateway, and leaves through an interface other
// than loopback that is up and has an IPv4 address.
//
// Thread rule: pure functions any thread; checkLocalNetwork() reads the
// system's interface list and routing table and may run on any thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon {

enum class LocalNetwork {
    Untestable, // the interface list or the routing table could not be read
    NotDirect,  // no direct route to the link-local network
    Direct,
};

struct NetworkInterface {
    std::string name;
    bool up = false;
    bool loopback = false;
    bool hasIPv4 = false;
};

// One line of the kernel's IPv4 routing table. Addresses are in network byte
// order (as in in_addr::s_addr).
struct Route {
    std::string interface;
    std::uint32_t destination = 0;
    std::uint32_t gateway = 0;
    std::uint32_t mask = 0;
    unsigned flags = 0;
    int metric = 0;
};

// Parses the text of /proc/net/route; malformed lines are skipped.
std::vector<Route> parseRouteTable(std::string_view text);

LocalNetwork evaluateLocalNetwork(const std::vector<NetworkInterface>& interfaces, const std::vector<Route>& routes);

LocalNetwork checkLocalNetwork();

} // namespace fieldmon
