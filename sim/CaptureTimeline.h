#pragma once
// CaptureTimeline: a capture file read as the device traffic it holds, one
// item at a time, in file order: datagrams devices sent to the app (port
// 10023: announcements, replies, events, presence answers), datagrams sent to
// devices (port 10024: requests and commands; broadcasts are left out), and
// HTTP transfers, whole. Everything else in the file (other protocols and
// ports, IPv6, fragments) is skipped. Times never go backwards: a packet
// stamped earlier than the one before it (the recorder writes a transfer's
// packets when it ends) takes the time of the one before.
//
// The file is streamed; only the HTTP connections in progress are held.
//
// Thread rule: one owner.

#include "capture/CaptureReader.h"
#include "capture/HttpExchanges.h"

#include <deque>
#include <memory>
#include <string>

namespace fieldmon::sim {

struct TimelineItem {
    enum class Kind { FromDevice, ToDevice, Http };
    Kind kind = Kind::FromDevice;
    std::int64_t micros = 0;
    capture::Endpoint from, to;
    std::string bytes;           // the datagram (FromDevice, ToDevice)
    capture::HttpExchange http;  // Http
    // The device: the sender of FromDevice, the receiver of ToDevice, the
    // server of Http.
    std::uint32_t device() const { return kind == Kind::FromDevice ? from.address : to.address; }
};

class CaptureTimeline {
public:
    static constexpr std::uint16_t kAppPort = 10023;
    static constexpr std::uint16_t kDevicePort = 10024;

    static std::unique_ptr<CaptureTimeline> open(const std::string& path, std::string& why);

    // The next item; false at the end of the file. A file that ends badly
    // ends early: endedEarly() then tells why.
    bool next(TimelineItem& out);
    const std::string& endedEarly() const { return reader_->error(); }
    const capture::CaptureReader::Skipped& skipped() const { return reader_->skipped(); }
    std::uint64_t otherTraffic() const { return other_; }

private:
    explicit CaptureTimeline(std::unique_ptr<capture::CaptureReader> reader) : reader_(std::move(reader)) {}
    std::int64_t monotonic(std::int64_t micros);

    std::unique_ptr<capture::CaptureReader> reader_;
    capture::HttpExchanges http_;
    std::vector<capture::HttpExchange> done_;
    std::deque<capture::HttpExchange> ready_;
    std::int64_t last_ = 0;
    bool ended_ = false;
    std::uint64_t other_ = 0;
};

} // namespace fieldmon::sim
