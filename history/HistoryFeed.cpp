#include "history/HistoryFeed.h"

#include "variables/RemoteData.h"

#include <chrono>

namespace fieldmon::history {

namespace {

double systemWall()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

} // namespace

HistoryFeed::HistoryFeed(HistoryStore& store, std::int32_t serial, std::function<double()> wall)
    : store_(store), serial_(serial), wall_(wall ? std::move(wall) : std::function<double()>(systemWall))
{
}

void HistoryFeed::valueStored(const RemoteData& variable, double time)
{
    const double wall = wall_();
    // Element variables evicted from their parent's cache come back with
    // new numbers: the cache of handles starts over rather than grow.
    if (ids_.size() >= kMaxCachedHandles)
        ids_.clear();
    auto [it, made] = ids_.try_emplace(variable.tempid());
    if (made)
        it->second = store_.series(serial_, variable.seriesName());
    bool isInt = false;
    std::int32_t i = 0;
    double d = 0;
    if (variable.numberValue(isInt, i, d)) {
        const double v = isInt ? static_cast<double>(i) : d;
        // A stale handle (the series was evicted) fails once; ask again.
        if (!store_.appendNumber(it->second, time, wall, v)) {
            it->second = store_.series(serial_, variable.seriesName());
            if (!store_.appendNumber(it->second, time, wall, v))
                return;
        }
        ++appended_;
        return;
    }
    if (variable.structureType())
        return;
    const Value value = variable.defaultClientDataRepresentation();
    if (!store_.append(it->second, time, wall, value)) {
        it->second = store_.series(serial_, variable.seriesName());
        if (!store_.append(it->second, time, wall, value))
            return;
    }
    ++appended_;
}

} // namespace fieldmon::history
