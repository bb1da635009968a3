#pragma once
// RecorderTap: attaches a Recorder to the app's packet tap point, so that
// every datagram the finder and the device records send and receive, and
// every HTTP transfer, goes into the capture.
//
//   capture::RecorderTap tap(recorder);
//   taps.attach(&tap);
//   ...
//   taps.detach(); // before the tap and the recorder go
//
// Thread rule: as the tap point calls it (any thread, serialised); the
// recorder must outlive it.

#include "capture/Recorder.h"
#include "platform/PacketTap.h"

namespace fieldmon::capture {

class RecorderTap final : public platform::PacketTap {
public:
    explicit RecorderTap(Recorder& recorder) : recorder_(recorder) {}

    void datagram(Direction direction, platform::PacketEnd from, platform::PacketEnd to, std::string_view bytes,
                  WallTime at) override;
    void httpTransfer(platform::PacketEnd client, platform::PacketEnd server, std::string_view request,
                      std::string_view response, WallTime start, WallTime end) override;

private:
    Recorder& recorder_;
};

} // namespace fieldmon::capture
