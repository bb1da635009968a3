#pragma once
// A packet tap for tests: keeps what it is shown, from any thread.

#include "platform/PacketTap.h"

#include <mutex>
#include <string>
#include <vector>

namespace fieldmon::test {

class TapLog final : public platform::PacketTap {
public:
    struct Datagram {
        Direction direction;
        platform::PacketEnd from, to;
        std::string bytes;
        WallTime at;
    };
    struct Transfer {
        platform::PacketEnd client, server;
        std::string request, response;
        WallTime start, end;
    };

    void datagram(Direction direction, platform::PacketEnd from, platform::PacketEnd to, std::string_view bytes,
                  WallTime at) override
    {
        std::lock_guard lock(mutex_);
        datagrams_.push_back({direction, from, to, std::string(bytes), at});
    }
    void httpTransfer(platform::PacketEnd client, platform::PacketEnd server, std::string_view request,
                      std::string_view response, WallTime start, WallTime end) override
    {
        std::lock_guard lock(mutex_);
        transfers_.push_back({client, server, std::string(request), std::string(response), start, end});
    }

    std::vector<Datagram> datagrams() const
    {
        std::lock_guard lock(mutex_);
        return datagrams_;
    }
    std::vector<Transfer> transfers() const
    {
        std::lock_guard lock(mutex_);
        return transfers_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Datagram> datagrams_;
    std::vector<Transfer> transfers_;
};

} // namespace fieldmon::test
