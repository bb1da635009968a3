#include "discovery/LocalNetwork.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>

namespace fieldmon {

LocalNetwork evaluateLocalNetwork(const std::vector<NetworkInterface>& ipv4Interfaces)
{
    bool usable = std::any_of(ipv4Interfaces.begin(), ipv4Interfaces.end(),
                              [](const NetworkInterface& i) { return i.up && !i.loopback && i.broadcast; });
    return usable ? LocalNetwork::Direct : LocalNetwork::NotDirect;
}

LocalNetwork checkLocalNetwork()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return LocalNetwork::Untestable;
    std::vector<NetworkInterface> ipv4;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET)
            continue;
        ipv4.push_back({a->ifa_name ? a->ifa_name : "", (a->ifa_flags & IFF_UP) != 0,
                        (a->ifa_flags & IFF_LOOPBACK) != 0, (a->ifa_flags & IFF_BROADCAST) != 0});
    }
    freeifaddrs(list);
    return evaluateLocalNetwork(ipv4);
}

} // namespace fieldmon
