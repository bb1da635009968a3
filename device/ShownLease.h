#pragma once
// ShownLease: what a screen holds while it shows a device to the user (the
// detail screen, the event log screen, a device's open pages). A record with
// at least one lease is shown (Client::shown()). When a shown device falls
// silent the registry keeps its record in the graveyard, tells the user
// ("Lost client"), and gives the same record back when the device returns;
// a record nobody shows is simply forgotten. Holding a reference to a record
// (a list snapshot, a binding, a look-up in progress) never makes it shown:
// only a lease does, so no lifetime is read from a reference count.
//
// A lease keeps its record alive. It is move-only; a default-made or moved-
// from lease holds nothing and shows nothing. Dropping a lease (reset(),
// assignment, destruction) ends the showing before it lets go of the record.
//
// Thread rule: leases are taken and dropped on the main thread; the count
// they keep is atomic, so the listen thread's presence check may ask
// shown() while the main thread takes or drops one. The check then sees the
// lease or does not, and decides accordingly: a screen opened at that very
// moment on a device being lost shows a record that is no longer registered.

#include <memory>

namespace fieldmon {

class Client;

class ShownLease {
public:
    ShownLease() = default;
    // Shows `record` (null: nothing) until the lease is dropped.
    explicit ShownLease(std::shared_ptr<Client> record);
    ~ShownLease();

    ShownLease(ShownLease&& other) noexcept = default;
    ShownLease& operator=(ShownLease&& other) noexcept;
    ShownLease(const ShownLease&) = delete;
    ShownLease& operator=(const ShownLease&) = delete;

    // Ends the showing and lets go of the record.
    void reset();

    const std::shared_ptr<Client>& record() const { return record_; }
    Client* operator->() const { return record_.get(); }
    Client& operator*() const { return *record_; }
    explicit operator bool() const { return record_ != nullptr; }

private:
    std::shared_ptr<Client> record_;
};

} // namespace fieldmon
