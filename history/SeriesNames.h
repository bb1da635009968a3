#pragma once
// The names behind series keys: each (device serial, variable name) gets a
// small number for the whole run, the first time the store sees it. Rows on
// their way to disk carry only that number; the storage thread looks the
// name up here when it meets a number it has not written yet.
//
// Entries are never removed during a run (an evicted series that comes back
// gets its old number), so the table grows with the distinct names devices
// declare, not with traffic.
//
// Thread rule: any thread; guarded by `mutex_`. The main thread adds, the
// storage thread reads.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace fieldmon::history {

class SeriesNames {
public:
    struct Name {
        std::int32_t serial = 0;
        std::string name;
    };

    std::uint32_t keyFor(std::int32_t serial, std::string_view name)
    {
        std::lock_guard lock(mutex_);
        std::string full = composite(serial, name);
        auto it = keys_.find(full);
        if (it != keys_.end())
            return it->second;
        const auto key = static_cast<std::uint32_t>(names_.size());
        names_.push_back({serial, std::string(name)});
        keys_.emplace(std::move(full), key);
        return key;
    }

    bool lookup(std::uint32_t key, Name& out) const
    {
        std::lock_guard lock(mutex_);
        if (key >= names_.size())
            return false;
        out = names_[key];
        return true;
    }

private:
    static std::string composite(std::int32_t serial, std::string_view name)
    {
        std::string s = std::to_string(serial);
        s += '\0';
        s += name;
        return s;
    }

    mutable std::mutex mutex_;
    std::vector<Name> names_;
    std::unordered_map<std::string, std::uint32_t> keys_;
};

} // namespace fieldmon::history
