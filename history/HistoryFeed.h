#pragma once
// Feeds one device's history from its reply path: every value a reply
// stores in the device's variables is appended to the store under the
// device's serial number and the value's series name (RemoteData::
// seriesName: "flow", "pump.rpm", "level[3]").
//
//   HistoryFeed feed(store, serial);
//   record.variables().setValueObserver(&feed);   // while pages are open
//   ...
//   record.variables().setValueObserver(nullptr); // before the feed goes
//
// Numbers go in as numbers (NaN, ±inf and huge values are kept apart by the
// store), enumerations and addresses as texts (the store keeps a text only
// when it changes), values of unknown types as errors. A whole structure is
// no sample: its members are series of their own when pages read them.
// No request is ever made: the feed records what the pages fetch.
//
// Series handles are cached by the variable's creation number, so the
// steady state does one hash lookup and no allocation per value; a handle
// the store has evicted is looked up again.
//
// Thread rule: main thread only (the reply path runs there).

#include "history/HistoryStore.h"
#include "variables/VariableStore.h"

#include <cstdint>
#include <unordered_map>

namespace fieldmon::history {

class HistoryFeed final : public VariableStore::ValueObserver {
public:
    static constexpr std::size_t kMaxCachedHandles = 4096;

    // `wall` gives the wall clock (seconds since 1970, UTC); the system
    // clock when empty (tests pass their own).
    HistoryFeed(HistoryStore& store, std::int32_t serial, std::function<double()> wall = {});

    void valueStored(const RemoteData& variable, double time) override;

    std::int32_t serial() const { return serial_; }
    std::uint64_t appended() const { return appended_; }

private:
    HistoryStore& store_;
    std::int32_t serial_;
    std::function<double()> wall_;
    std::unordered_map<std::int32_t, SeriesId> ids_; // by RemoteData::tempid()
    std::uint64_t appended_ = 0;
};

} // namespace fieldmon::history
