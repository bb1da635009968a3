#include "capture/RecorderTap.h"

namespace fieldmon::capture {

namespace {

Endpoint endpoint(platform::PacketEnd end) { return Endpoint{end.address, end.port}; }

} // namespace

void RecorderTap::datagram(Direction direction, platform::PacketEnd from, platform::PacketEnd to,
                           std::string_view bytes, WallTime at)
{
    switch (direction) {
    case Direction::Sent:
        recorder_.datagram(Recorder::Direction::Sent, endpoint(from), endpoint(to), bytes, at);
        return;
    case Direction::Received:
        recorder_.datagram(Recorder::Direction::Received, endpoint(from), endpoint(to), bytes, at);
        return;
    }
}

void RecorderTap::httpTransfer(platform::PacketEnd client, platform::PacketEnd server, std::string_view request,
                               std::string_view response, WallTime start, WallTime end)
{
    recorder_.httpTransfer(endpoint(client), endpoint(server), request, response, start, end);
}

} // namespace fieldmon::capture
