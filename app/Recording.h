#pragma once
// Recording: the app's recording of a visit to a capture file, started by
// `--record FILE` or the device list's "Record" switch. While it records, a
// capture::Recorder is attached to the app's packet tap point, so every
// datagram sent and received and every HTTP transfer goes into the file;
// devices already known when it starts are named in the file by their
// first packet.
//
// It stops in three ways, each with an alert that names the file:
//   - stop() (the switch turned off): "Recording saved";
//   - the size cap is reached ("Recording stopped", with the limit and
//     the file), or the disk fails or fills ("Recording stopped", with what
//     the system said). The app keeps working; the file stays
//     readable up to its last whole block. `changed` then tells the screen
//     that shows the switch.
//
// Thread rule: main thread only. The packet tap's calls come from any
// thread; detaching before the recorder goes keeps them off a dead recorder.

#include "capture/Recorder.h"
#include "capture/RecorderTap.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace fieldmon {

class ClientFinder;

namespace platform {
class Alerts;
class MainLoop;
class PacketTapPoint;
class StorageThread;
} // namespace platform

class Recording {
public:
    struct Parts {
        platform::PacketTapPoint& taps;
        // The app's storage thread, asked for when a recording starts.
        std::function<platform::StorageThread&()> storage;
        platform::MainLoop& loop;
        platform::Alerts& alerts;
    };

    explicit Recording(Parts parts);
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Devices already in this finder's registry are named when a recording
    // starts (not owned; may be null).
    void setFinder(ClientFinder* finder) { finder_ = finder; }
    // Starts a recording to `path` (replacing the file) unless one runs;
    // false if one runs. A file that cannot be made stops it at once, with
    // the alert.
    bool start(const std::string& path, std::uint64_t sizeCap = std::uint64_t{1} << 30);
    // Ends the recording and shows the alert naming its file.
    void stop();
    bool recording() const { return recorder_ != nullptr; }
    // The file of the running recording, or of the last one.
    const std::string& path() const { return path_; }

    // Told whenever recording() changes.
    std::function<void(bool on)> changed;

    // A file in `folder` named for the time: fm-20261207-143005.pcapng.
    static std::string fileNameFor(const std::string& folder);

private:
    void stopped(capture::Recorder::StopReason reason, const std::string& detail);
    // Detaches and ends the recorder; queued packets are still written.
    void end();
    void nameKnownDevices();
    // " in\n<folder>/\nas\n<file>." for the alerts.
    std::string where() const;

    Parts parts_;
    ClientFinder* finder_ = nullptr;
    std::unique_ptr<capture::Recorder> recorder_;
    std::unique_ptr<capture::RecorderTap> tap_;
    std::string path_;
    std::uint64_t sizeCap_ = 0;
};

} // namespace fieldmon
