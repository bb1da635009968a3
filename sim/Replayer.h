#pragma once
// Replayer: plays the devices of a capture file back, as `fieldsim --replay`
// does. The capture is streamed: items are read kReadAhead seconds of
// recording before they are due (documents are taken as soon as they are
// read, so a page opened a little earlier than in the recording still finds
// them) and applied when the replay's clock reaches them. `from` is reached
// by playing the recording silently up to there; the clock then runs at
// `speed` times real time, and with `loop` the recording starts over at
// `from` when it ends.
//
// The replayer touches no socket: tick() and receive() return the datagrams
// to send, each with the device address it leaves from.
//
// Thread rule: one owner (the replay loop's thread); the devices' document()
// is safe from the HTTP servers' threads.

#include "sim/CaptureTimeline.h"
#include "sim/RecordedDevice.h"
#include "sim/SimLog.h"

#include <deque>
#include <unordered_map>
#include <memory>
#include <string>
#include <vector>

namespace fieldmon::sim {

struct ReplayOptions {
    std::string path;
    double speed = 1;   // 0.25 to 16
    double from = 0;    // seconds after the capture's first device packet
    bool loop = false;
    std::uint16_t appPort = 10023;
};

struct Outgoing {
    std::uint32_t source = 0; // the device's address, host byte order
    std::string who;
    Datagram datagram;
};

class Replayer {
public:
    static constexpr double kReadAhead = 5;
    static constexpr double kLongestWait = 0.25;
    static constexpr std::size_t kMaxDevices = 1024;

    Replayer(ReplayOptions options, SimLog& log);

    // Opens the capture and plays it silently up to `from`. False, with
    // `why`, when the file cannot be read or holds no device traffic.
    bool open(std::string& why);
    // The clock starts: capture second `from` plays at `now`.
    void start(double now);

    // Plays what is due at `now`; returns when it next wants to run, or a
    // negative number once the recording has ended (never with `loop`).
    double tick(double now, std::vector<Outgoing>& out);
    void receive(std::string_view bytes, const sockaddr_in& from, in_addr destination, double now,
                 std::vector<Outgoing>& out);

    // Devices found since the last call.
    std::vector<RecordedDevice*> takeNewDevices();
    RecordedDevice* device(std::uint32_t address);
    std::size_t deviceCount() const { return found_.size(); }

    // Seconds of recording since the capture's first device packet, at `now`.
    double recordedSecond(double now) const;
    std::int64_t captureStartMicros() const { return t0_; }
    std::uint64_t passes() const { return passes_; }

private:
    bool rewind(std::string& why);
    bool readOne(TimelineItem& item);
    void readAhead(std::int64_t untilMicros);
    void applyOne(TimelineItem& item, double now, bool live, std::vector<Outgoing>& out);
    void apply(std::int64_t untilMicros, double now, bool live, std::vector<Outgoing>& out);
    // The device at `address`, made on first sight; nothing past kMaxDevices.
    RecordedDevice* deviceFor(std::uint32_t address);
    std::int64_t recordedMicros(double now) const;

    ReplayOptions options_;
    SimLog& log_;
    std::unique_ptr<CaptureTimeline> timeline_;
    std::deque<TimelineItem> items_;
    bool exhausted_ = false;
    std::int64_t t0_ = 0;
    std::int64_t startMicros_ = 0; // the recorded time that plays at startNow_
    double startNow_ = 0;
    std::unordered_map<std::uint32_t, std::unique_ptr<RecordedDevice>> devices_;
    std::vector<RecordedDevice*> found_; // in the order they were found
    // The device of the item before: most items come from a few devices in turn.
    RecordedDevice* last_ = nullptr;
    bool tooMany_ = false;
    std::vector<RecordedDevice*> new_;
    std::uint64_t passes_ = 0;
    std::vector<Datagram> scratch_;
};

} // namespace fieldmon::sim
