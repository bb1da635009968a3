#pragma once
// Named notifications, delivered synchronously on the posting thread to every
// current observer of the name, in subscription order.
//
// The object travelling with a notification is a text (event lines), a byte
// buffer (file contents), a pointer to the poster (the ClientFinder), or nothing.
//
// Thread rule: any thread may post, subscribe or drop a Subscription. A
// Subscription is an RAII handle: once its destructor has returned, its
// callback is never called again, even by a post in flight on another thread
// (the destructor waits for such a delivery to finish). A callback must
// therefore not wait for the thread that may be dropping its subscription.
// Callbacks may subscribe, unsubscribe and post; a delivery walks a snapshot
// of the observers taken when it began.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace fieldmon::platform {

using Bytes = std::vector<std::uint8_t>;
using NotificationObject = std::variant<std::monostate, std::string, Bytes, const void*>;

struct Notification {
    std::string name;
    NotificationObject object;

    const std::string* text() const { return std::get_if<std::string>(&object); }
    const Bytes* bytes() const { return std::get_if<Bytes>(&object); }
    const void* sender() const
    {
        auto p = std::get_if<const void*>(&object);
        return p ? *p : nullptr;
    }
    bool empty() const { return std::holds_alternative<std::monostate>(object); }
};

class NotificationCenter;

class Subscription {
public:
    Subscription() = default;
    ~Subscription() { reset(); }
    Subscription(Subscription&&) noexcept = default;
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    void reset();
    bool active() const { return entry_ != nullptr; }

private:
    friend class NotificationCenter;
    struct Entry;
    struct State;
    Subscription(std::weak_ptr<State> state, std::shared_ptr<Entry> entry)
        : state_(std::move(state)), entry_(std::move(entry)) {}

    std::weak_ptr<State> state_;
    std::shared_ptr<Entry> entry_;
};

class NotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    [[nodiscard]] Subscription subscribe(const std::string& name, Callback callback);
    void post(const std::string& name, NotificationObject object = {});

    // Number of live observers of a name (for tests and diagnostics).
    std::size_t observerCount(const std::string& name) const;

private:
    std::shared_ptr<Subscription::State> state_;
};

} // namespace fieldmon::platform
