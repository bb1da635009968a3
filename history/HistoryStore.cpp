#include "history/HistoryStore.h"

#include "platform/Check.h"
#include "platform/Diagnostics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace fieldmon::history {

namespace {

std::int64_t floorSecond(std::int64_t ms) { return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000); }

} // namespace

std::size_t HistoryStore::KeyHash::operator()(const std::pair<std::int32_t, std::string_view>& k) const
{
    return std::hash<std::string_view>()(k.second) ^ (std::hash<std::int32_t>()(k.first) * 0x9e3779b97f4a7c15ull);
}

HistoryStore::HistoryStore(platform::MainLoop& loop, platform::StorageThread* storage, HistoryOptions options,
                           ClockReading start)
    : loop_(loop), storage_(storage), options_(std::move(options)), anchor_(start.wall - start.mono),
      pool_(options_.memoryBudget), names_(std::make_shared<SeriesNames>()),
      counters_(std::make_shared<DiskCounters>()), self_(std::make_shared<HistoryStore*>(this))
{
    limits_.rawChunks = std::max<std::size_t>(1, (options_.rawSamples + RawChunk::kSamples - 1) / RawChunk::kSamples);
    limits_.rawKeepMs = static_cast<std::int64_t>(options_.rawSeconds * 1000);
    limits_.keepSeconds = static_cast<std::int64_t>(options_.memorySeconds);
    limits_.blocks = static_cast<std::size_t>(limits_.keepSeconds / SecondBlock::kSeconds) + 2;
    pool_.setReclaim([this](const void* asker) { return reclaim(asker); });
    noteClockJump(start.mono + anchor_, start.wall);

    scheduleFlush();
    if (!storage_)
        return;
    queue_ = storage_->addQueue("history", options_.queueCapacity);
    if (options_.databasePath.empty())
        return;
    HistoryDatabase::Settings settings;
    settings.path = options_.databasePath;
    settings.keepSeconds = static_cast<std::int64_t>(options_.diskSeconds);
    settings.sizeCap = options_.databaseCap;
    db_ = std::make_shared<HistoryDatabase>(settings, names_);
    disk_ = DiskState::Opening;
    const std::int64_t startSecond = floorSecond(toMs(start.mono));
    std::weak_ptr<HistoryStore*> self = self_;
    auto& mainLoop = loop_;
    storage_->tryPush(*queue_, [db = db_, startSecond, self, &mainLoop] {
        HistoryDatabase::Outcome o = db->open(startSecond);
        mainLoop.post([self, o] {
            if (auto s = self.lock()) {
                if (o.status == HistoryDatabase::Status::Ok)
                    (*s)->disk_ = DiskState::Open;
                else
                    (*s)->diskUnusable(o.reason);
            }
        });
    });
}

HistoryStore::~HistoryStore()
{
    if (timer_)
        loop_.cancel(*timer_);
    if (db_ && disk_ != DiskState::MemoryOnly)
        flush(true);
    self_.reset();
    pool_.setReclaim({});
    slots_.clear(); // series give their pieces back while the pool still lives
}

std::int64_t HistoryStore::toMs(double mono) const
{
    return static_cast<std::int64_t>(std::llround((mono + anchor_) * 1000.0));
}

double HistoryStore::wallAt(double t) const
{
    return static_cast<double>(clock_.wallAt(static_cast<std::int64_t>(std::llround(t * 1000.0)))) / 1000.0;
}

void HistoryStore::say(const std::string& line)
{
    if (options_.diagnostic) {
        options_.diagnostic(line);
        return;
    }
    diagWrite(line + "\n");
}

void HistoryStore::diskUnusable(const std::string& reason)
{
    disk_ = DiskState::MemoryOnly;
    pending_.clear();
    for (Slot& s : slots_)
        if (s.tiers)
            s.tiers->setRows(collector(s));
    if (saidUnusable_)
        return;
    saidUnusable_ = true;
    say("History: the database " + options_.databasePath + " cannot be used (" + reason +
        "); history is kept in memory only");
}

HistoryStore::Slot* HistoryStore::resolve(SeriesId id)
{
    if (id.slot >= slots_.size())
        return nullptr;
    Slot& s = slots_[id.slot];
    return s.generation == id.generation ? &s : nullptr;
}

const HistoryStore::Slot* HistoryStore::resolve(SeriesId id) const
{
    return const_cast<HistoryStore*>(this)->resolve(id);
}

std::optional<SeriesId> HistoryStore::find(std::int32_t serial, std::string_view name) const
{
    auto it = index_.find(std::pair<std::int32_t, std::string_view>(serial, name));
    if (it == index_.end())
        return std::nullopt;
    return SeriesId{it->second, slots_[it->second].generation};
}

SeriesId HistoryStore::series(std::int32_t serial, std::string_view name)
{
    if (auto found = find(serial, name))
        return *found;
    const std::uint32_t slot = makeSeries(serial, name);
    return SeriesId{slot, slots_[slot].generation};
}

std::uint32_t HistoryStore::makeSeries(std::int32_t serial, std::string_view name)
{
    std::vector<std::uint32_t>& device = devices_[serial];
    if (device.size() >= std::max<std::size_t>(1, options_.maxSeriesPerDevice)) {
        // Full: the device's series appended to longest ago goes.
        auto oldest = std::min_element(device.begin(), device.end(), [&](std::uint32_t a, std::uint32_t b) {
            return slots_[a].tiers->lastMs() < slots_[b].tiers->lastMs();
        });
        evict(*oldest);
    }
    std::uint32_t slot;
    if (!freeSlots_.empty()) {
        slot = freeSlots_.back();
        freeSlots_.pop_back();
    } else {
        slot = static_cast<std::uint32_t>(slots_.size());
        slots_.emplace_back();
    }
    Slot& s = slots_[slot];
    s.tiers.emplace(pool_, limits_);
    s.serial = serial;
    s.name = std::string(name);
    s.key = names_->keyFor(serial, name);
    s.tiers->setRows(collector(s));
    index_.emplace(std::pair<std::int32_t, std::string>(serial, s.name), slot);
    devices_[serial].push_back(slot);
    return slot;
}

void HistoryStore::evict(std::uint32_t slot)
{
    Slot& s = slots_[slot];
    FM_CHECK(s.tiers.has_value(), "evicting a free slot");
    // What has not gone to disk yet goes now (into the store's own rows).
    if (db_ && disk_ != DiskState::MemoryOnly)
        s.tiers->collect(std::numeric_limits<std::int64_t>::max());
    index_.erase(std::pair<std::int32_t, std::string>(s.serial, s.name));
    auto& device = devices_[s.serial];
    device.erase(std::find(device.begin(), device.end(), slot));
    if (device.empty())
        devices_.erase(s.serial);
    s.tiers.reset();
    s.name.clear();
    ++s.generation; // every handle to it is stale now
    freeSlots_.push_back(slot);
    ++evicted_;
}

bool HistoryStore::reclaim(const void* asker)
{
    std::uint32_t oldest = UINT32_MAX;
    for (std::uint32_t i = 0; i < slots_.size(); ++i) {
        if (!slots_[i].tiers || &*slots_[i].tiers == asker)
            continue;
        if (oldest == UINT32_MAX || slots_[i].tiers->lastMs() < slots_[oldest].tiers->lastMs())
            oldest = i;
    }
    if (oldest == UINT32_MAX)
        return false;
    evict(oldest);
    return true;
}

RowCollector HistoryStore::collector(const Slot& s)
{
    RowCollector c;
    if (db_ && disk_ != DiskState::MemoryOnly)
        c.rows = &pending_;
    c.key = s.key;
    c.clock = &clock_;
    return c;
}

void HistoryStore::noteWall(std::int64_t tMs, double wall)
{
    clock_.note(tMs, static_cast<std::int64_t>(std::llround(wall * 1000.0)));
}

void HistoryStore::noteClockJump(double t, double wall)
{
    noteWall(static_cast<std::int64_t>(std::llround(t * 1000.0)), wall);
    wallOffset_ = wall - t;
}

bool HistoryStore::appendOther(std::uint32_t slot, std::int64_t tMs, SampleKind kind, double v, std::string_view text)
{
    return slots_[slot].tiers->appendOther(tMs, kind, v, text) || lost();
}

bool HistoryStore::appendText(SeriesId id, double mono, double wall, std::string_view text)
{
    if (!resolve(id))
        return lost();
    const double t = mono + anchor_;
    if (!(std::fabs(wall - t - wallOffset_) <= kClockJumpSeconds))
        noteClockJump(t, wall);
    return appendOther(id.slot, toMs(mono), SampleKind::Text, 0, text);
}

bool HistoryStore::appendError(SeriesId id, double mono, double wall)
{
    if (!resolve(id))
        return lost();
    const double t = mono + anchor_;
    if (!(std::fabs(wall - t - wallOffset_) <= kClockJumpSeconds))
        noteClockJump(t, wall);
    return appendOther(id.slot, toMs(mono), SampleKind::Error, 0, {});
}

bool HistoryStore::append(SeriesId id, double mono, double wall, const Value& value)
{
    switch (value.kind()) {
    case ValueKind::Integer:
        return appendNumber(id, mono, wall, value.asInt());
    case ValueKind::Double:
        return appendNumber(id, mono, wall, value.asDouble());
    case ValueKind::String:
        return appendText(id, mono, wall, value.asText());
    case ValueKind::Error:
        return appendError(id, mono, wall);
    case ValueKind::None:
        return true;
    }
    return true;
}

bool HistoryStore::append(std::int32_t serial, std::string_view name, double mono, double wall, const Value& value)
{
    if (value.isNone())
        return true;
    return append(series(serial, name), mono, wall, value);
}

void HistoryStore::query(SeriesId id, double from, double to, int columns, TraceData& out)
{
    Slot* s = resolve(id);
    if (!s) {
        out.clear();
        return;
    }
    s->tiers->query(static_cast<std::int64_t>(std::llround(from * 1000)), static_cast<std::int64_t>(std::llround(to * 1000)),
                    columns, out);
}

std::optional<LatestSample> HistoryStore::latest(SeriesId id) const
{
    const Slot* s = resolve(id);
    return s ? s->tiers->latest() : std::nullopt;
}

void HistoryStore::exportSamples(SeriesId id, double from, double to, std::vector<ExportSample>& out,
                                 std::vector<std::string>& texts)
{
    Slot* s = resolve(id);
    if (!s)
        return;
    const std::size_t first = out.size();
    s->tiers->exportSamples(static_cast<std::int64_t>(std::llround(from * 1000)),
                            static_cast<std::int64_t>(std::llround(to * 1000)), out, texts);
    for (std::size_t i = first; i < out.size(); ++i)
        out[i].wallMs = clock_.wallAt(out[i].tMs);
}

std::vector<SeriesInfo> HistoryStore::seriesOf(std::int32_t serial) const
{
    std::vector<SeriesInfo> out;
    auto it = devices_.find(serial);
    if (it == devices_.end())
        return out;
    for (std::uint32_t slot : it->second) {
        const Slot& s = slots_[slot];
        if (s.tiers->empty())
            continue;
        SeriesInfo info;
        info.id = SeriesId{slot, s.generation};
        info.name = s.name;
        info.first = s.tiers->firstMs() / 1000.0;
        info.last = s.tiers->lastMs() / 1000.0;
        info.hasNumbers = s.tiers->hasNumbers();
        info.hasTexts = s.tiers->hasTexts();
        out.push_back(std::move(info));
    }
    std::sort(out.begin(), out.end(), [](const SeriesInfo& a, const SeriesInfo& b) { return a.name < b.name; });
    return out;
}

std::string HistoryStore::nameOf(SeriesId id) const
{
    const Slot* s = resolve(id);
    return s ? s->name : std::string();
}

void HistoryStore::scheduleFlush()
{
    timer_ = loop_.after(1.0, [this] {
        timer_.reset();
        flush();
        scheduleFlush();
    });
}

void HistoryStore::flush(bool everything)
{
    const bool toDisk = db_ && disk_ != DiskState::MemoryOnly;
    if (!toDisk) {
        for (Slot& s : slots_)
            if (s.tiers)
                s.tiers->catchUp();
        return;
    }
    const std::int64_t nowMs = toMs(loop_.now());
    const std::int64_t through = everything ? std::numeric_limits<std::int64_t>::max() : floorSecond(nowMs) - 1;
    // Every series: catching up costs nothing where nothing came.
    for (Slot& s : slots_)
        if (s.tiers)
            s.tiers->collect(through);
    pushBatch(floorSecond(nowMs));
}

void HistoryStore::pushBatch(std::int64_t nowSecond)
{
    if (pending_.empty() || !queue_)
        return;
    HistoryDatabase::Batch batch;
    batch.rows.swap(pending_);
    batch.nowSecond = nowSecond;
    pending_.reserve(batch.rows.size());
    std::weak_ptr<HistoryStore*> self = self_;
    auto& mainLoop = loop_;
    const bool queued = storage_->tryPush(
        *queue_, [db = db_, counters = counters_, batch = std::move(batch), self, &mainLoop] {
            if (!db->usable()) {
                ++counters->lost;
                return;
            }
            const HistoryDatabase::Outcome o = db->write(batch);
            if (o.status == HistoryDatabase::Status::Ok) {
                ++counters->written;
                counters->seconds += batch.rows.size();
                return;
            }
            ++counters->lost;
            mainLoop.post([self, o] {
                auto s = self.lock();
                if (!s)
                    return;
                HistoryStore& store = **s;
                if (o.status == HistoryDatabase::Status::Unusable) {
                    store.diskUnusable(o.reason);
                } else if (!store.saidLost_) {
                    store.saidLost_ = true;
                    store.say("History: a batch of history was not written (" + o.reason +
                              "); later batches will try again");
                }
            });
        });
    if (!queued)
        ++batchesRefused_;
}

bool HistoryStore::onStorage(std::function<void(HistoryDatabase*)> job)
{
    if (!queue_)
        return false;
    return storage_->tryPush(*queue_, [db = db_, job = std::move(job)] { job(db && db->usable() ? db.get() : nullptr); });
}

void HistoryStore::loadDevice(std::int32_t serial, std::function<void(std::size_t)> done)
{
    std::weak_ptr<HistoryStore*> self = self_;
    auto& mainLoop = loop_;
    auto deliver = [self, serial, done](std::vector<HistoryDatabase::LoadedSeries>& loaded,
                                        const HistoryDatabase::Outcome& o) {
        auto s = self.lock();
        if (!s)
            return;
        if (o.status == HistoryDatabase::Status::Unusable)
            (*s)->diskUnusable(o.reason);
        (*s)->merge(serial, loaded);
        if (done)
            done(loaded.size());
    };
    const std::int64_t from = floorSecond(toMs(loop_.now())) - static_cast<std::int64_t>(options_.memorySeconds);
    const bool queued = db_ && disk_ != DiskState::MemoryOnly &&
                        onStorage([serial, from, &mainLoop, deliver](HistoryDatabase* db) {
                            auto loaded = std::make_shared<std::vector<HistoryDatabase::LoadedSeries>>();
                            HistoryDatabase::Outcome o;
                            if (db)
                                o = db->load(serial, from, *loaded);
                            mainLoop.post([deliver, loaded, o] { deliver(*loaded, o); });
                        });
    if (!queued)
        mainLoop.post([deliver] {
            std::vector<HistoryDatabase::LoadedSeries> none;
            deliver(none, {});
        });
}

void HistoryStore::merge(std::int32_t serial, std::vector<HistoryDatabase::LoadedSeries>& loaded)
{
    for (HistoryDatabase::LoadedSeries& series : loaded) {
        if (series.seconds.empty())
            continue;
        for (const StoredSecond& s : series.seconds)
            clock_.note(s.second * 1000, s.wallMs);
        const SeriesId id = this->series(serial, series.name);
        slots_[id.slot].tiers->mergeOlder(series.seconds);
    }
}

HistoryStore::Stats HistoryStore::stats() const
{
    Stats st;
    st.series = index_.size();
    st.evicted = evicted_;
    st.samplesLost = samplesLost_;
    st.memoryBytes = pool_.bytes() + slots_.capacity() * sizeof(Slot) + pending_.capacity() * sizeof(DiskRow);
    for (const Slot& s : slots_)
        if (s.tiers)
            st.memoryBytes += s.tiers->ownBytes() + s.name.capacity();
    st.batchesWritten = counters_->written.load();
    st.batchesLost = counters_->lost.load() + batchesRefused_;
    st.secondsWritten = counters_->seconds.load();
    st.disk = disk_;
    return st;
}

} // namespace fieldmon::history
