// ClientFinder: the registry's algorithms. Adding runs on the main thread,
// the presence check and removals on the listen thread; both take the
// registry locks in the order id, ip, dict, type.

#include "discovery/ClientFinder.h"

#include "device/Client.h"
#include "platform/Diagnostics.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/TimeStamp.h"

#include <algorithm>
#include <cstdint>

namespace fieldmon {

namespace {

// All four registry locks, taken in the registry's order and released in
// reverse (members are destroyed in reverse order of declaration).
struct AllRegistryLocks {
    std::lock_guard<std::mutex> id, ip, dict, type;
    explicit AllRegistryLocks(ClientRegistry& r)
        : id(r.clientid_mutex), ip(r.clientip_mutex), dict(r.clientdict_mutex), type(r.clienttype_mutex)
    {
    }
};

unsigned pointerBits(const void* p)
{
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p));
}

} // namespace

// A record that a screen shows (it holds a ShownLease) waits in the
// graveyard for its device to return; any other is forgotten. The answer is
// read once, here: a lease taken or dropped at this very moment is either
// seen or not, and the record is kept (with its alert) or forgotten whole.
void ClientFinder::unregisterLocked(const std::shared_ptr<Client>& client)
{
    const std::string address = client->dictionaryIPString();
    if (client->shown()) {
        registry_.clientGraveyard[std::to_string(client->serialNumber())] = client;
        onMainThread([this, client] { lostClientNotification(*client); });
    }
    if (auto entry = registry_.clientIPDictionary.find(address);
        entry != registry_.clientIPDictionary.end() && entry->second == client)
        registry_.clientIPDictionary.erase(entry);

    auto& ids = registry_.clientIDArray;
    auto found = std::find(ids.rbegin(), ids.rend(), client);
    if (found == ids.rend())
        return;
    if (!registry_.removeFromType(client.get(), dictionaryTypeString(*client)))
        diag("Weird, there is no client array where there should be one\n");
    ids.erase(std::next(found).base());
}

RegistrySnapshot ClientFinder::registrySnapshot()
{
    AllRegistryLocks locks(registry_);
    return registry_.snapshot();
}

RegistryContents ClientFinder::registryContents()
{
    AllRegistryLocks locks(registry_);
    return registry_.contents();
}

void ClientFinder::removeClient(const std::shared_ptr<Client>& client)
{
    // The LOST line is written on the main thread before any registry lock is
    // taken: the main thread may be inside addClient holding them.
    Client* record = client.get();
    if (!onMainThreadAndWait([this, record] { lostClientEvent(*record); }))
        return; // the finder is stopping
    AllRegistryLocks locks(registry_);
    unregisterLocked(client);
}

void ClientFinder::checkPresence()
{
    std::vector<std::shared_ptr<Client>> lost;
    {
        std::lock_guard lock(registry_.clientid_mutex);
        double now = services_.loop.now();
        for (const auto& client : registry_.clientIDArray) {
            double silence = now - client->presence().lastHeardTime().value_or(now);
            if (silence > kProbeAfterSeconds) {
                client->sendChar('F');
                client->presence().noteProbe(now);
            }
            if (silence > kLostAfterSeconds) {
                if (debug())
                    diag("It's been a while for client %d\n", client->serialNumber());
                lost.push_back(client);
            }
        }
    }
    for (const auto& client : lost) {
        removeClient(client);
        // Observers are screens: tell them on the main thread.
        onMainThread([this] { services_.notifications.post(kFoundNewClient, static_cast<const void*>(this)); });
    }
    // `lost` may now hold the last reference to a removed record, and a
    // record's destructor cancels its transfers and timers, which belong to
    // the main thread: the references are dropped there, after the
    // notifications above. (Posted even when the finder goes away meanwhile:
    // the task touches nothing but the records.)
    if (!lost.empty())
        services_.loop.post([records = std::move(lost)]() mutable { records.clear(); });
}

// Whether a registered record's device still answers at its address: no
// presence probe of it has gone unanswered for kProbeAnswerSeconds.
static bool stillAnswers(const Client& record, double now)
{
    std::optional<double> probe = record.presence().unansweredProbeSince();
    return !probe || now - *probe < ClientFinder::kProbeAnswerSeconds;
}

std::shared_ptr<Client> ClientFinder::addClient(std::shared_ptr<Client> client)
{
    // Presence event lines are written after the locks are released: event
    // observers (screens) must not run while we hold the registry.
    std::vector<std::pair<std::shared_ptr<Client>, const char*>> events;
    std::shared_ptr<Client> result;
    std::shared_ptr<Client> claimed; // a record whose serial another host claims for the first time
    bool madeRoom = false;
    const double now = services_.loop.now();
    {
        AllRegistryLocks locks(registry_);

        // Another host announcing the serial number of a device that still
        // answers at its own address is not that device: moving the record
        // would send the user's next commands to that host. (The graveyard
        // below only holds records whose devices have gone silent.)
        std::shared_ptr<Client> known = registry_.findBySerial(client->serialNumber());
        if (known && known->dictionaryIPString() != client->dictionaryIPString() && stillAnswers(*known, now)) {
            if (known->rivalAddress().empty()) {
                known->setRivalAddress(client->dictionaryIPString());
                claimed = std::move(known);
            }
        } else {
            // A device that was lost while a screen showed it gets its old record back.
            auto grave = registry_.clientGraveyard.find(std::to_string(client->serialNumber()));
            if (grave != registry_.clientGraveyard.end() && grave->second->serialNumber() == client->serialNumber()) {
                std::shared_ptr<Client> back = std::move(grave->second);
                registry_.clientGraveyard.erase(grave);
                diag("Resurection! 0x%x\n", pointerBits(back.get()));
                back->copyValues(*client);
                client = std::move(back);
                diag("Retain count is now %d\n", static_cast<int>(client.use_count()));
                if (client->shown())
                    onMainThread([this, client] { foundClientNotification(*client); });
                events.emplace_back(client, "EVENTIPOD_REFOUND_CLIENT");
            }
            result = registerLocked(client, std::move(known), events, madeRoom);
        }
    }

    for (auto& [record, event] : events) {
        if (std::string_view(event) == "EVENTIPOD_LOST_CLIENT")
            lostClientEvent(*record);
        else
            writePresenceEvent(*record, event);
    }
    if (madeRoom && !registryFullSaid_) {
        registryFullSaid_ = true;
        diag("%zu devices listed: the one heard from longest ago makes room for each new one\n", kMaxRecords);
    }
    if (claimed) {
        diag("Serial %d is claimed by %s too; it stays with %s\n", claimed->serialNumber(),
             claimed->rivalAddress().c_str(), claimed->dictionaryIPString().c_str());
        claimed->broadcastEvent(platform::presenceStampNow() + " Two hosts claim serial " +
                                std::to_string(claimed->serialNumber()) + ": " + claimed->dictionaryIPString() +
                                " and " + claimed->rivalAddress());
        // The detail screen shows the claim: it reloads on this.
        services_.notifications.post(kFoundNewClient, static_cast<const void*>(this));
    }
    return result;
}

std::shared_ptr<Client> ClientFinder::registerLocked(std::shared_ptr<Client> client, std::shared_ptr<Client> known,
                                                     PresenceEvents& events, bool& madeRoom)
{
    const std::string key = dictionaryTypeString(*client);
    const std::string& address = client->dictionaryIPString();

    // An address holds one device: an earlier record there is removed.
    auto evictFromAddress = [&](const std::shared_ptr<Client>& keep) {
        std::shared_ptr<Client> occupant = registry_.findByAddress(address);
        if (!occupant || occupant == keep)
            return;
        unregisterLocked(occupant);
        events.emplace_back(occupant, "EVENTIPOD_LOST_CLIENT");
    };

    if (known) {
        if (known->dictionaryIPString() != address) {
            // The device has moved (its old address stopped answering).
            evictFromAddress(known);
            auto old = registry_.clientIPDictionary.find(known->dictionaryIPString());
            if (old != registry_.clientIPDictionary.end() && old->second == known)
                registry_.clientIPDictionary.erase(old);
            registry_.clientIPDictionary[address] = known;
            known->setRivalAddress({});
        }
        if (known->platform() != client->platform() || known->type() != client->type()) {
            registry_.removeFromType(known.get(), dictionaryTypeString(*known));
            registry_.addToType(known, key);
        }
        known->copyValues(*client);
        return known;
    }
    evictFromAddress(nullptr);
    // A full registry (a flood of forged announcements, each from a new
    // address) forgets the record heard from longest ago, rather than
    // growing and probing without end.
    if (registry_.clientIDArray.size() >= kMaxRecords) {
        auto heard = [](const std::shared_ptr<Client>& c) { return c->presence().lastHeardTime().value_or(-1e300); };
        auto oldest = std::min_element(registry_.clientIDArray.begin(), registry_.clientIDArray.end(),
                                       [&](const auto& a, const auto& b) { return heard(a) < heard(b); });
        std::shared_ptr<Client> gone = *oldest;
        unregisterLocked(gone);
        events.emplace_back(gone, "EVENTIPOD_LOST_CLIENT");
        madeRoom = true;
    }
    registry_.clientIPDictionary[address] = client;
    events.emplace_back(client, "EVENTIPOD_FOUND_CLIENT");
    diag("Found new client %d!\n", client->serialNumber());
    registry_.addToType(client, key);
    registry_.clientIDArray.push_back(client);
    return client;
}

} // namespace fieldmon
