#include "platform/NotificationCenter.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace fieldmon::platform {

// One observer. The recursive mutex is held while its callback runs, so a
// destructor on another thread waits for the delivery, and a callback that
// drops its own subscription does not deadlock.
struct Subscription::Entry {
    std::string name;
    NotificationCenter::Callback callback;
    std::recursive_mutex mutex;
    bool active = true;
};

struct Subscription::State {
    mutable std::mutex mutex;
    std::map<std::string, std::vector<std::shared_ptr<Entry>>, std::less<>> observers;
};

Subscription& Subscription::operator=(Subscription&& other) noexcept
{
    if (this != &other) {
        reset();
        state_ = std::move(other.state_);
        entry_ = std::move(other.entry_);
    }
    return *this;
}

void Subscription::reset()
{
    if (!entry_)
        return;
    if (auto state = state_.lock()) {
        std::lock_guard lock(state->mutex);
        auto it = state->observers.find(entry_->name);
        if (it != state->observers.end()) {
            std::erase(it->second, entry_);
            if (it->second.empty())
                state->observers.erase(it);
        }
    }
    {
        std::lock_guard lock(entry_->mutex);
        entry_->active = false;
    }
    entry_.reset();
    state_.reset();
}

NotificationCenter::NotificationCenter() : state_(std::make_shared<Subscription::State>()) {}

NotificationCenter::~NotificationCenter() = default;

Subscription NotificationCenter::subscribe(const std::string& name, Callback callback)
{
    auto entry = std::make_shared<Subscription::Entry>();
    entry->name = name;
    entry->callback = std::move(callback);
    {
        std::lock_guard lock(state_->mutex);
        state_->observers[name].push_back(entry);
    }
    return Subscription(state_, std::move(entry));
}

void NotificationCenter::post(const std::string& name, NotificationObject object)
{
    std::vector<std::shared_ptr<Subscription::Entry>> snapshot;
    {
        std::lock_guard lock(state_->mutex);
        auto it = state_->observers.find(name);
        if (it == state_->observers.end())
            return;
        snapshot = it->second;
    }
    Notification note{name, std::move(object)};
    for (auto& entry : snapshot) {
        std::lock_guard lock(entry->mutex);
        if (entry->active)
            entry->callback(note);
    }
}

std::size_t NotificationCenter::observerCount(const std::string& name) const
{
    std::lock_guard lock(state_->mutex);
    auto it = state_->observers.find(name);
    return it == state_->observers.end() ? 0 : it->second.size();
}

} // namespace fieldmon::platform
