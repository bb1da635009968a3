#include "capture/Recorder.h"

#include "capture/CaptureFile.h"
#include "capture/PcapngBlocks.h"
#include "capture/SyntheticPackets.h"
#include "platform/MainLoop.h"

#include "FieldmonVersion.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace fieldmon::capture {

namespace {

enum Kind : std::uint8_t { kDatagram = 1, kHttp = 2, kName = 3 };

// The recorder's jobs waiting at most: open, one drain, close. The bytes are
// bounded by the recorder's own buffer, not by the storage queue.
constexpr std::size_t kJobsWaiting = 4;

// What the queue holds before each item's bytes. Copied in and out with
// memcpy: the queue is one byte buffer, so that queueing a datagram costs a
// copy and no allocation.
struct ItemHead {
    std::uint8_t kind = 0;
    std::uint8_t direction = 0;
    std::uint32_t firstSize = 0;
    std::uint32_t secondSize = 0;
    Endpoint a, b;
    std::int64_t t1 = 0, t2 = 0;
};

std::int64_t micros(Recorder::WallTime t)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

bool isBroadcast(std::uint32_t address) { return address == 0xFFFFFFFFu || (address & 0xFFu) == 0xFFu; }

// "North well (1207), PLAT PUMP version 3" from an announcement datagram;
// empty when it is none.
std::string nameFromAnnouncement(std::string_view d)
{
    if (d.size() < 2 || d[0] != 'm')
        return {};
    std::string fields[6];
    std::size_t f = 0;
    for (std::size_t i = 1; i < d.size() && d[i] != '\0' && f < 6; ++i) {
        if (d[i] == ';')
            ++f;
        else if (f < 6)
            fields[f].push_back(d[i]);
    }
    return fields[2] + " (" + fields[4] + "), " + fields[0] + " " + fields[1] + " version " + fields[3];
}

} // namespace

struct Recorder::State : std::enable_shared_from_this<Recorder::State> {
    State(Options o, platform::MainLoop& l, StopHandler h) : options(std::move(o)), loop(l), onStop(std::move(h)) {}

    const Options options;
    platform::MainLoop& loop;
    StopHandler onStop; // main thread only

    std::mutex mutex; // guards pending and drainQueued
    std::string pending;
    bool drainQueued = false;
    std::atomic<bool> stopped{false};
    std::atomic<std::uint64_t> packets{0}, dropped{0}, bytes{0};

    // Storage thread only.
    std::unique_ptr<CaptureFile> file;
    bool finished = false;
    std::string drained;
    std::string blocks;
    std::vector<std::size_t> ends;
    std::string scratch;
    std::unordered_map<std::uint32_t, std::string> names;
    std::unordered_map<std::uint32_t, bool> commented;
    std::uint16_t ipId = 1;
    std::uint16_t nextClientPort = 0;

    void open();
    void drain();
    void close();
    void finish(StopReason reason, const std::string& detail);
    std::string commentFor(std::uint32_t device);
    void addPacket(std::int64_t t, std::string_view packet, std::string_view comment);
    void build(const ItemHead& h, std::string_view first, std::string_view second);
};

void Recorder::State::open()
{
    std::string why;
    file = CaptureFile::create(options.path, options.sizeCap, why);
    if (!file) {
        finish(StopReason::WriteFailed, why);
        return;
    }
    blocks.clear();
    ends.clear();
    appendSectionHeader(blocks, options.application.empty() ? defaultApplication() : options.application);
    ends.push_back(blocks.size());
    appendInterfaceDescription(blocks, kLinkTypeIpv4, "fieldmon");
    ends.push_back(blocks.size());
    const auto result = file->append(blocks, ends, why);
    bytes = file->size();
    if (result == CaptureFile::Result::Failed)
        finish(StopReason::WriteFailed, options.path + ": " + why);
    else if (result == CaptureFile::Result::CapReached)
        finish(StopReason::SizeCap, "the size cap is smaller than the file's header");
}

void Recorder::State::finish(StopReason reason, const std::string& detail)
{
    if (finished)
        return;
    finished = true;
    stopped = true;
    file.reset();
    // The handler belongs to the main thread, and is gone once the recorder
    // is: the posted task reads it there.
    loop.post([self = shared_from_this(), reason, detail] {
        if (self->onStop)
            self->onStop(reason, detail);
    });
}

std::string Recorder::State::commentFor(std::uint32_t device)
{
    if (device == 0 || isBroadcast(device))
        return {};
    auto name = names.find(device);
    if (name == names.end())
        return {};
    bool& done = commented[device];
    if (done)
        return {};
    done = true;
    return "fieldmon: device " + name->second + ", at " + dottedAddress(device);
}

void Recorder::State::addPacket(std::int64_t t, std::string_view packet, std::string_view comment)
{
    appendEnhancedPacket(blocks, t, packet, comment);
    ends.push_back(blocks.size());
}

void Recorder::State::build(const ItemHead& h, std::string_view first, std::string_view second)
{
    switch (static_cast<Kind>(h.kind)) {
    case kName:
        if (!names.count(h.a.address))
            names[h.a.address] = std::string(first);
        return;
    case kDatagram: {
        const bool received = h.direction == static_cast<std::uint8_t>(Direction::Received);
        const std::uint32_t device = received ? h.a.address : h.b.address;
        if (received && !names.count(device)) {
            std::string name = nameFromAnnouncement(first);
            if (!name.empty())
                names[device] = std::move(name);
        }
        scratch.clear();
        appendUdpPacket(scratch, h.a, h.b, first, ipId++);
        addPacket(h.t1, scratch, commentFor(device));
        return;
    }
    case kHttp: {
        Endpoint client = h.a;
        if (client.port == 0)
            client.port = static_cast<std::uint16_t>(49152 + (nextClientPort++ % 16384));
        const std::string comment = commentFor(h.b.address);
        bool firstPacket = true;
        for (const TimedPacket& p : tcpConversation(client, h.b, first, second, h.t1, h.t2, ipId)) {
            addPacket(p.micros, p.bytes, firstPacket ? std::string_view(comment) : std::string_view());
            firstPacket = false;
        }
        return;
    }
    }
}

void Recorder::State::drain()
{
    {
        std::lock_guard lock(mutex);
        pending.swap(drained);
        drainQueued = false;
    }
    if (!file || finished) {
        drained.clear();
        return;
    }
    blocks.clear();
    ends.clear();
    std::size_t at = 0;
    while (at + sizeof(ItemHead) <= drained.size()) {
        ItemHead h;
        std::memcpy(&h, drained.data() + at, sizeof h);
        at += sizeof h;
        const std::string_view first(drained.data() + at, h.firstSize);
        const std::string_view second(drained.data() + at + h.firstSize, h.secondSize);
        at += h.firstSize + h.secondSize;
        build(h, first, second);
    }
    drained.clear();
    if (ends.empty())
        return;
    std::string why;
    const std::uint64_t before = file->blocksWritten();
    const auto result = file->append(blocks, ends, why);
    packets += file->blocksWritten() - before;
    bytes = file->size();
    switch (result) {
    case CaptureFile::Result::Written:
        return;
    case CaptureFile::Result::CapReached:
        finish(StopReason::SizeCap, "the capture reached its size cap of " + std::to_string(options.sizeCap) +
                                        " bytes: " + options.path);
        return;
    case CaptureFile::Result::Failed:
        finish(StopReason::WriteFailed, "writing " + options.path + " failed: " + why);
        return;
    }
}

void Recorder::State::close()
{
    drain();
    file.reset();
    finished = true;
}

Recorder::Recorder(Options options, platform::StorageThread& storage, platform::MainLoop& loop, StopHandler onStop)
    : state_(std::make_shared<State>(std::move(options), loop, std::move(onStop))), storage_(storage),
      queue_(storage.addQueue("capture", kJobsWaiting))
{
    if (!submit([s = state_] { s->open(); }))
        state_->stopped = true; // the storage thread has stopped: nothing can be written
}

bool Recorder::submit(platform::StorageThread::Job job) { return storage_.tryPush(queue_, std::move(job)); }

Recorder::~Recorder()
{
    state_->onStop = nullptr;
    stop();
}

std::string Recorder::defaultApplication() { return std::string("fieldmon ") + kVersion; }

void Recorder::stop()
{
    if (state_->stopped.exchange(true))
        return;
    // Refused only when the storage thread stops: its end closes the file
    // then (the last job holding the state lets it go).
    submit([s = state_] { s->close(); });
}

bool Recorder::recording() const { return !state_->stopped; }

Recorder::Counts Recorder::counts() const { return {state_->packets, state_->dropped, state_->bytes}; }

const std::string& Recorder::path() const { return state_->options.path; }

void Recorder::enqueue(int kind, int direction, Endpoint a, Endpoint b, std::string_view first,
                       std::string_view second, std::int64_t t1, std::int64_t t2)
{
    if (state_->stopped)
        return;
    ItemHead h;
    h.kind = static_cast<std::uint8_t>(kind);
    h.direction = static_cast<std::uint8_t>(direction);
    h.firstSize = static_cast<std::uint32_t>(first.size());
    h.secondSize = static_cast<std::uint32_t>(second.size());
    h.a = a;
    h.b = b;
    h.t1 = t1;
    h.t2 = t2;
    const std::size_t need = sizeof h + first.size() + second.size();
    bool submitDrain = false;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->pending.size() + need > state_->options.queueBytes) {
            ++state_->dropped;
            return;
        }
        const std::size_t at = state_->pending.size();
        state_->pending.resize(at + need);
        char* p = state_->pending.data() + at;
        std::memcpy(p, &h, sizeof h);
        // An empty piece may have no storage at all: copy only what there is.
        if (!first.empty())
            std::memcpy(p + sizeof h, first.data(), first.size());
        if (!second.empty())
            std::memcpy(p + sizeof h + first.size(), second.data(), second.size());
        submitDrain = !state_->drainQueued;
        state_->drainQueued = true;
    }
    if (submitDrain && !submit([s = state_] { s->drain(); })) {
        // Refused (the storage thread is stopping): the items wait in the
        // buffer, and the next call tries again.
        std::lock_guard lock(state_->mutex);
        state_->drainQueued = false;
    }
}

void Recorder::datagram(Direction direction, Endpoint from, Endpoint to, std::string_view bytes, WallTime at)
{
    enqueue(kDatagram, static_cast<int>(direction), from, to, bytes.substr(0, kMaxUdpPayload), {}, micros(at), 0);
}

void Recorder::httpTransfer(Endpoint client, Endpoint server, std::string_view request, std::string_view response,
                            WallTime start, WallTime end)
{
    enqueue(kHttp, 0, client, server, request, response, micros(start), micros(end));
}

void Recorder::nameDevice(std::uint32_t address, std::string_view name)
{
    enqueue(kName, 0, Endpoint{address, 0}, {}, name, {}, 0, 0);
}

} // namespace fieldmon::capture
