#include "sim/CaptureTimeline.h"

namespace fieldmon::sim {

namespace {

bool isBroadcast(std::uint32_t a) { return a == 0xFFFFFFFFu || (a & 0xFFu) == 0xFFu; }

// What devices send the app: announcements, replies, events, presence answers.
bool deviceKind(char c) { return c == 'm' || c == 'V' || c == 'A' || c == 'e' || c == 'i'; }

} // namespace

std::unique_ptr<CaptureTimeline> CaptureTimeline::open(const std::string& path, std::string& why)
{
    auto reader = capture::CaptureReader::open(path, why);
    if (!reader)
        return nullptr;
    return std::unique_ptr<CaptureTimeline>(new CaptureTimeline(std::move(reader)));
}

std::int64_t CaptureTimeline::monotonic(std::int64_t micros)
{
    if (micros > last_)
        last_ = micros;
    return last_;
}

bool CaptureTimeline::next(TimelineItem& out)
{
    capture::CapturedPacket p;
    for (;;) {
        if (!ready_.empty()) {
            out.kind = TimelineItem::Kind::Http;
            out.http = std::move(ready_.front());
            ready_.pop_front();
            out.micros = monotonic(out.http.responseMicros);
            out.from = out.http.client;
            out.to = out.http.server;
            out.bytes.clear();
            return true;
        }
        if (ended_)
            return false;
        if (reader_->next(p) != capture::CaptureReader::Next::Packet) {
            ended_ = true;
            http_.finish(done_);
            for (auto& x : done_)
                ready_.push_back(std::move(x));
            done_.clear();
            continue;
        }
        if (p.protocol == capture::CapturedPacket::Protocol::Tcp) {
            http_.add(p, done_);
            for (auto& x : done_)
                ready_.push_back(std::move(x));
            done_.clear();
            if (ready_.empty())
                monotonic(p.micros);
            continue;
        }
        const std::int64_t t = monotonic(p.micros);
        if (p.payload.empty()) {
            ++other_;
            continue;
        }
        if (p.to.port == kAppPort && deviceKind(p.payload[0])) {
            out.kind = TimelineItem::Kind::FromDevice;
        } else if (p.to.port == kDevicePort && !isBroadcast(p.to.address)) {
            out.kind = TimelineItem::Kind::ToDevice;
        } else {
            ++other_;
            continue;
        }
        out.micros = t;
        out.from = p.from;
        out.to = p.to;
        out.bytes.assign(p.payload);
        return true;
    }
}

} // namespace fieldmon::sim
