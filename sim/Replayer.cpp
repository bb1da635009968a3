#include "sim/Replayer.h"

#include "sim/DeviceSocket.h"

#include <arpa/inet.h>

#include <chrono>
#include <utility>
#include <cmath>
#include <cstdio>

namespace fieldmon::sim {

Replayer::Replayer(ReplayOptions options, SimLog& log) : options_(std::move(options)), log_(log) {}

RecordedDevice* Replayer::deviceFor(std::uint32_t address)
{
    if (last_ && last_->address() == address)
        return last_;
    auto it = devices_.find(address);
    if (it == devices_.end()) {
        // Each device found gets an HTTP server (threads): a capture with
        // addresses past counting must not make one for each.
        if (devices_.size() >= kMaxDevices) {
            if (!tooMany_)
                log_.line("replay", "more than " + std::to_string(kMaxDevices) +
                                        " device addresses in the capture: the others are left out");
            tooMany_ = true;
            return nullptr;
        }
        it = devices_.emplace(address, std::make_unique<RecordedDevice>(address, log_, options_.appPort)).first;
    }
    last_ = it->second.get();
    return last_;
}

RecordedDevice* Replayer::device(std::uint32_t address)
{
    auto it = devices_.find(address);
    return it == devices_.end() || !it->second->found() ? nullptr : it->second.get();
}

std::vector<RecordedDevice*> Replayer::takeNewDevices() { return std::exchange(new_, {}); }

bool Replayer::readOne(TimelineItem& item)
{
    if (exhausted_)
        return false;
    if (!timeline_->next(item)) {
        exhausted_ = true;
        if (!timeline_->endedEarly().empty())
            log_.line("replay", "the capture ends early: " + timeline_->endedEarly());
        return false;
    }
    RecordedDevice* d = deviceFor(item.device());
    if (!d) {
        item.kind = TimelineItem::Kind::Http; // nothing to apply later
        return true;
    }
    switch (item.kind) {
    case TimelineItem::Kind::Http:
        // Documents count from when they are read, so that a page opened a
        // little earlier than in the recording finds them.
        d->recordedDocument(item.http);
        break;
    case TimelineItem::Kind::FromDevice:
        d->sendsAt(static_cast<double>(item.micros) / 1e6);
        if (!d->found()) {
            d->setFound();
            new_.push_back(d);
            found_.push_back(d);
        }
        break;
    case TimelineItem::Kind::ToDevice:
        break;
    }
    return true;
}

void Replayer::readAhead(std::int64_t untilMicros)
{
    while (!exhausted_ && (items_.empty() || items_.back().micros <= untilMicros)) {
        TimelineItem item;
        if (!readOne(item))
            return;
        if (item.kind != TimelineItem::Kind::Http)
            items_.push_back(std::move(item));
    }
}

void Replayer::applyOne(TimelineItem& item, double now, bool live, std::vector<Outgoing>& out)
{
    RecordedDevice* device = deviceFor(item.device());
    if (!device)
        return;
    RecordedDevice& d = *device;
    if (item.kind == TimelineItem::Kind::FromDevice) {
        scratch_.clear();
        d.recordedDatagram(item.to, item.bytes, static_cast<double>(item.micros) / 1e6, now, live, scratch_);
        for (Datagram& g : scratch_)
            out.push_back(Outgoing{d.address(), d.name(), std::move(g)});
    } else if (item.kind == TimelineItem::Kind::ToDevice) {
        d.recordedRequest(item.from, item.bytes);
    }
}

void Replayer::apply(std::int64_t untilMicros, double now, bool live, std::vector<Outgoing>& out)
{
    while (!items_.empty() && items_.front().micros <= untilMicros) {
        applyOne(items_.front(), now, live, out);
        items_.pop_front();
    }
}

bool Replayer::rewind(std::string& why)
{
    timeline_ = CaptureTimeline::open(options_.path, why);
    if (!timeline_)
        return false;
    items_.clear();
    exhausted_ = false;
    for (auto& [address, d] : devices_)
        d->resetRecording();
    TimelineItem item;
    while (readOne(item) && item.kind == TimelineItem::Kind::Http) {
    }
    if (!exhausted_)
        items_.push_back(item);
    if (items_.empty()) {
        why = options_.path + ": no device traffic in the capture";
        if (!timeline_->endedEarly().empty())
            why += " (" + timeline_->endedEarly() + ")";
        return false;
    }
    t0_ = items_.front().micros;
    startMicros_ = t0_ + static_cast<std::int64_t>(std::llround(options_.from * 1e6));
    // Silently up to `from`, one item at a time with no queue between (one
    // buffer, reused), which is what makes a late `from` quick.
    std::vector<Outgoing> none;
    apply(startMicros_ - 1, 0, false, none);
    if (items_.empty()) {
        while (readOne(item)) {
            if (item.kind == TimelineItem::Kind::Http)
                continue;
            if (item.micros >= startMicros_) {
                items_.push_back(std::move(item));
                break;
            }
            applyOne(item, 0, false, none);
        }
    }
    readAhead(startMicros_ + static_cast<std::int64_t>(kReadAhead * 1e6));
    if (found_.empty() && exhausted_) {
        why = options_.path + ": no device in the capture (nothing was sent to port " +
              std::to_string(CaptureTimeline::kAppPort) + " by a device)";
        return false;
    }
    ++passes_;
    return true;
}

bool Replayer::open(std::string& why) { return rewind(why); }

void Replayer::start(double now)
{
    startNow_ = now;
    using namespace std::chrono;
    const double epoch = duration<double>(system_clock::now().time_since_epoch()).count();
    char line[200];
    std::snprintf(line, sizeof line, "capture second %.3f (recorded at %.6f) plays now (%.6f), speed %g",
                  static_cast<double>(startMicros_ - t0_) / 1e6, static_cast<double>(startMicros_) / 1e6, epoch,
                  options_.speed);
    log_.line("replay", line);
}

std::int64_t Replayer::recordedMicros(double now) const
{
    return startMicros_ + static_cast<std::int64_t>(std::llround((now - startNow_) * options_.speed * 1e6));
}

double Replayer::recordedSecond(double now) const { return static_cast<double>(recordedMicros(now) - t0_) / 1e6; }

double Replayer::tick(double now, std::vector<Outgoing>& out)
{
    const std::int64_t t = recordedMicros(now);
    readAhead(t + static_cast<std::int64_t>(kReadAhead * 1e6));
    apply(t, now, true, out);
    if (!items_.empty()) {
        const double due = startNow_ + static_cast<double>(items_.front().micros - startMicros_) / 1e6 / options_.speed;
        return std::min(due, now + kLongestWait);
    }
    if (!exhausted_)
        return now + kLongestWait;
    if (!options_.loop) {
        log_.line("replay", "the recording has ended");
        return -1;
    }
    std::string why;
    if (!rewind(why)) {
        log_.line("replay", "cannot start over: " + why);
        return -1;
    }
    log_.line("replay", "from the start again");
    start(now);
    return now;
}

void Replayer::receive(std::string_view bytes, const sockaddr_in& from, in_addr destination, double now,
                       std::vector<Outgoing>& out)
{
    const double t = static_cast<double>(recordedMicros(now)) / 1e6;
    auto one = [&](RecordedDevice& d) {
        scratch_.clear();
        d.receive(bytes, from, t, now, scratch_);
        for (Datagram& g : scratch_)
            out.push_back(Outgoing{d.address(), d.name(), std::move(g)});
    };
    if (RecordedDevice* d = device(ntohl(destination.s_addr))) {
        one(*d);
        return;
    }
    if (!DeviceSocket::isBroadcast(destination)) {
        log_.line("replay", "datagram for " + DeviceSocket::dotted(destination) + " (no recorded device there) '" +
                                SimLog::printable(bytes) + "'");
        return;
    }
    for (RecordedDevice* d : found_)
        one(*d);
}

} // namespace fieldmon::sim
