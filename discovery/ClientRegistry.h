#pragma once
// ClientRegistry: the containers in which the finder keeps every present
// device record, and the four locks that guard them. The finder runs the
// algorithms (adding, removing, the presence check); this class holds the
// data and the small edits those algorithms make with the right locks held.
//
// Containers and their locks:
//   clientIDArray        all registered records, in order of registration   clientid_mutex
//   clientGraveyard      serial text -> lost record still shown somewhere    clientid_mutex
//   clientIPDictionary   dotted address text -> record                       clientip_mutex
//   clientTypeDictionary type key -> records of that type, in order          clientdict_mutex
//   clientTypeArray      type keys in order of first registration            clienttype_mutex
//
// Changes to the type dictionary and the type array are always made holding
// both clientdict_mutex and clienttype_mutex, so a reader holding either one
// sees a consistent container. The graveyard shares clientid_mutex, which
// every writer of it already holds.
//
// Lock order wherever more than one is held: id, ip, dict, type; released in
// reverse. None is recursive.
//
// Thread rule: any thread, holding the lock named for each member.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace fieldmon {

class Client;

// The section key of a record: "%@ (%@)" with its type and platform,
// e.g. "PUMP (PLAT)".
std::string dictionaryTypeString(const Client& client);

// What the device list shows, read in one go: the type sections in order of
// first registration, each with its records in order of registration. The
// records are weak references: a list never keeps alive a record that the
// registry has forgotten (listing a device is not showing it: see
// ShownLease).
struct RegistrySnapshot {
    struct Section {
        std::string key;
        std::vector<std::weak_ptr<Client>> records;
    };
    std::vector<Section> sections;

    // The record at (section, row) while it lives; null for a position
    // outside the snapshot or a record that is gone.
    std::shared_ptr<Client> at(int section, int row) const;
};

// Everything the registry holds, read in one go: every record in order of
// registration, how many addresses have a record, and the records kept for
// a screen after their device went, by serial number. Weak references, as in
// RegistrySnapshot: holding the contents keeps no record alive.
struct RegistryContents {
    std::vector<std::weak_ptr<Client>> records;
    std::size_t addresses = 0;
    std::unordered_map<std::string, std::weak_ptr<Client>> graveyard;
};

class ClientRegistry {
public:
    using ClientPtr = std::shared_ptr<Client>;
    using ClientList = std::vector<ClientPtr>;

    std::mutex clientid_mutex;
    std::mutex clientip_mutex;
    std::mutex clientdict_mutex;
    std::mutex clienttype_mutex;

    ClientList clientIDArray;
    std::unordered_map<std::string, ClientPtr> clientGraveyard;
    std::unordered_map<std::string, ClientPtr> clientIPDictionary;
    std::unordered_map<std::string, ClientList> clientTypeDictionary;
    std::vector<std::string> clientTypeArray;

    // Holding clientid_mutex: the registered record with this serial number
    // (searching from the end), or null.
    ClientPtr findBySerial(std::int32_t serial) const;

    // Holding clientip_mutex: the record registered under the address text.
    ClientPtr findByAddress(const std::string& address) const;

    // Holding clientdict_mutex and clienttype_mutex: appends the record to the
    // list of `key`, creating the list and appending the key to the type array
    // when it is new.
    void addToType(const ClientPtr& client, const std::string& key);

    // Holding clientdict_mutex and clienttype_mutex: removes the record (the
    // last occurrence) from the list of `key`; a list left empty takes its key
    // out of the dictionary and the type array. False when `key` has no list.
    bool removeFromType(const Client* client, const std::string& key);

    // Holding clientdict_mutex and clienttype_mutex: the type sections.
    RegistrySnapshot snapshot() const;

    // Holding clientid_mutex and clientip_mutex: the records, the number of
    // addresses and the graveyard.
    RegistryContents contents() const;
};

} // namespace fieldmon
