#include "discovery/DeviceSources.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>

namespace fieldmon {

DeviceSources::DeviceSources(DeviceSourceRules rules) : rules_(std::move(rules))
{
    if (!rules_.localAddresses)
        rules_.localAddresses = systemAddresses;
}

std::vector<in_addr> DeviceSources::systemAddresses()
{
    std::vector<in_addr> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return out;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET)
            continue;
        out.push_back(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr);
        if ((a->ifa_flags & IFF_BROADCAST) && a->ifa_broadaddr && a->ifa_broadaddr->sa_family == AF_INET)
            out.push_back(reinterpret_cast<const sockaddr_in*>(a->ifa_broadaddr)->sin_addr);
    }
    freeifaddrs(list);
    return out;
}

bool DeviceSources::accepts(in_addr source, double now)
{
    const std::uint32_t a = ntohl(source.s_addr);
    const std::uint32_t top = a >> 24;
    if (top == 0)
        return false; // 0.0.0.0/8
    if (top >= 224 && top <= 239)
        return false; // multicast
    if (a == INADDR_BROADCAST)
        return false;
    if (top == 127)
        return rules_.loopbackDevices;
    if (!readAt_ || now - *readAt_ >= kRefreshSeconds || now < *readAt_) {
        local_ = rules_.localAddresses();
        readAt_ = now;
    }
    return std::none_of(local_.begin(), local_.end(), [&](in_addr l) { return l.s_addr == source.s_addr; });
}

} // namespace fieldmon
