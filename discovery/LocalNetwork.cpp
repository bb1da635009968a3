#include "discovery/LocalNetwork.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>

#include <bit>
#include <fstream>
#include <optional>
#include <cstdlib>
#include <sstream>

namespace fieldmon {

namespace {

std::optional<std::uint32_t> hexWord(const std::string& text)
{
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

const std::uint32_t kLinkLocal = inet_addr("169.254.0.0");

} // namespace

std::vector<Route> parseRouteTable(std::string_view text)
{
    std::vector<Route> routes;
    std::istringstream in{std::string(text)};
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (header) {
            header = false;
            continue;
        }
        std::istringstream fields(line);
        std::string iface, dest, gw, flags, refcnt, use, metric, mask;
        if (!(fields >> iface >> dest >> gw >> flags >> refcnt >> use >> metric >> mask))
            continue;
        auto d = hexWord(dest), g = hexWord(gw), f = hexWord(flags), m = hexWord(mask);
        if (!d || !g || !f || !m)
            continue;
        // The kernel prints each address as the 32-bit word it stores, which
        // read back as a number is the in_addr value on any byte order.
        Route r;
        r.interface = iface;
        r.destination = *d;
        r.gateway = *g;
        r.mask = *m;
        r.flags = *f;
        r.metric = std::atoi(metric.c_str());
        routes.push_back(std::move(r));
    }
    return routes;
}

LocalNetwork evaluateLocalNetwork(const std::vector<NetworkInterface>& interfaces, const std::vector<Route>& routes)
{
    const Route* best = nullptr;
    for (const Route& r : routes) {
        if (!(r.flags & RTF_UP) || (kLinkLocal & r.mask) != r.destination)
            continue;
        int prefix = std::popcount(r.mask);
        if (!best || prefix > std::popcount(best->mask) || (prefix == std::popcount(best->mask) && r.metric < best->metric))
            best = &r;
    }
    if (!best || (best->flags & RTF_GATEWAY) || best->gateway != 0)
        return LocalNetwork::NotDirect;
    for (const NetworkInterface& i : interfaces)
        if (i.name == best->interface && i.up && !i.loopback && i.hasIPv4)
            return LocalNetwork::Direct;
    return LocalNetwork::NotDirect;
}

LocalNetwork checkLocalNetwork()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return LocalNetwork::Untestable;
    std::vector<NetworkInterface> interfaces;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_name)
            continue;
        NetworkInterface* entry = nullptr;
        for (auto& i : interfaces)
            if (i.name == a->ifa_name)
                entry = &i;
        if (!entry) {
            interfaces.push_back({a->ifa_name});
            entry = &interfaces.back();
        }
        entry->up = entry->up || (a->ifa_flags & IFF_UP);
        entry->loopback = entry->loopback || (a->ifa_flags & IFF_LOOPBACK);
        entry->hasIPv4 = entry->hasIPv4 || (a->ifa_addr && a->ifa_addr->sa_family == AF_INET);
    }
    freeifaddrs(list);

    std::ifstream file("/proc/net/route");
    if (!file)
        return LocalNetwork::Untestable;
    std::stringstream text;
    text << file.rdbuf();
    return evaluateLocalNetwork(interfaces, parseRouteTable(text.str()));
}

} // namespace fieldmon
