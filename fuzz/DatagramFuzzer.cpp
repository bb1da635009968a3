// Fuzzes the finder's datagram dispatch: the first byte picks the sender
// (one of eight loopback addresses), the rest is the datagram as the listen
// thread would receive it (at most 1023 bytes). Announcements, events,
// replies and junk from the network must never read out of bounds, abort or
// grow the registry beyond one record per address.

#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "platform/ManualLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/RecordingAlerts.h"

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
        finder = std::make_unique<ClientFinder>(services, false, seams);
    }
};

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
    if (size == 0)
        return 0;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 2 + data[0] % 8);
    std::string_view datagram(reinterpret_cast<const char*>(data + 1),
                              std::min<std::size_t>(size - 1, ClientFinder::kMaxDatagram));
    rig.finder->parsePacket(from, datagram);
    rig.loop.runPending();

    rig.finder->lockIDArray();
    std::size_t records = rig.finder->clientIDArray().size();
    rig.finder->unlockIDArray();
    if (records > 8)
        std::abort(); // more records than sender addresses
    return 0;
}
