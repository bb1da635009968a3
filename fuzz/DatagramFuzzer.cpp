// Fuzzes the finder's datagram dispatch: the first four bytes pick the
// sender, the rest is the datagram as the listen thread would receive it (at
// most 1023 bytes). Senders no device can have (0.0.0.0/8, multicast,
// broadcast) are fed as they are; every other address is folded onto
// loopback (127.x.y.z), where the devices of this rig live, so that nothing
// the finder answers leaves the machine. Announcements, events, replies and
// junk from the network must never read out of bounds, abort, register a
// refused sender or grow the registry beyond its cap.

#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "support/ManualLoop.h"
#include "platform/NotificationCenter.h"
#include "support/RecordingAlerts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

using namespace fieldmon;

namespace {

struct Rig {
    platform::ManualLoop loop;
    platform::NotificationCenter notifications;
    platform::RecordingAlerts alerts;
    platform::Services services{loop, notifications, alerts};
    int sink = -1; // the device port on every loopback address, so replies land somewhere
    std::unique_ptr<ClientFinder> finder;

    Rig()
    {
        sink = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(sink, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        socklen_t len = sizeof sa;
        ::getsockname(sink, reinterpret_cast<sockaddr*>(&sa), &len);

        ClientFinder::Seams seams;
        inet_pton(AF_INET, "127.0.0.1", &seams.broadcast);
        seams.listenPort = 0;
        seams.devicePort = ntohs(sa.sin_port);
        seams.localNetwork = [] { return LocalNetwork::Direct; };
        seams.sources.loopbackDevices = true; // the devices sit on 127.0.0.x
        finder = std::make_unique<ClientFinder>(services, false, seams);
    }
};

// 0.0.0.0/8, multicast, broadcast.
bool refused(std::uint32_t a)
{
    return (a >> 24) == 0 || ((a >> 24) >= 224 && (a >> 24) <= 239) || a == 0xFFFFFFFFu;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Dumps and event lines would drown the fuzzer's own output.
    if (!std::freopen("/dev/null", "w", stdout))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Rig rig;
    if (size < 4)
        return 0;
    std::uint32_t sender = std::uint32_t(data[0]) << 24 | std::uint32_t(data[1]) << 16 | std::uint32_t(data[2]) << 8 | data[3];
    if (!refused(sender))
        sender = (127u << 24) | (sender & 0xFFFFFFu);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(sender);
    std::string_view datagram(reinterpret_cast<const char*>(data + 4),
                              std::min<std::size_t>(size - 4, ClientFinder::kMaxDatagram));
    rig.finder->parsePacket(from, datagram);
    rig.loop.runPending();

    const auto records = rig.finder->registryContents().records;
    if (records.size() > ClientFinder::kMaxRecords)
        std::abort(); // the registry outgrew its cap
    for (const auto& record : records)
        if (auto r = record.lock(); r && refused(ntohl(r->address().s_addr)))
            std::abort(); // a record for a sender no device can have
    return 0;
}
