#include "discovery/ClientRegistry.h"

#include "device/Client.h"

#include <algorithm>

namespace fieldmon {

std::string dictionaryTypeString(const Client& client)
{
    return client.type() + " (" + client.platform() + ")";
}

ClientRegistry::ClientPtr ClientRegistry::findBySerial(std::int32_t serial) const
{
    for (auto it = clientIDArray.rbegin(); it != clientIDArray.rend(); ++it)
        if ((*it)->serialNumber() == serial)
            return *it;
    return nullptr;
}

ClientRegistry::ClientPtr ClientRegistry::findByAddress(const std::string& address) const
{
    auto it = clientIPDictionary.find(address);
    return it == clientIPDictionary.end() ? nullptr : it->second;
}

void ClientRegistry::addToType(const ClientPtr& client, const std::string& key)
{
    auto [it, inserted] = clientTypeDictionary.try_emplace(key);
    if (inserted)
        clientTypeArray.push_back(key);
    it->second.push_back(client);
}

bool ClientRegistry::removeFromType(const Client* client, const std::string& key)
{
    auto list = clientTypeDictionary.find(key);
    if (list == clientTypeDictionary.end())
        return false;
    auto& records = list->second;
    auto found = std::find_if(records.rbegin(), records.rend(), [&](const ClientPtr& c) { return c.get() == client; });
    if (found != records.rend())
        records.erase(std::next(found).base());
    if (records.empty()) {
        clientTypeDictionary.erase(list);
        auto k = std::find(clientTypeArray.rbegin(), clientTypeArray.rend(), key);
        if (k != clientTypeArray.rend())
            clientTypeArray.erase(std::next(k).base());
    }
    return true;
}

RegistrySnapshot ClientRegistry::snapshot() const
{
    RegistrySnapshot shot;
    shot.sections.reserve(clientTypeArray.size());
    for (const std::string& key : clientTypeArray) {
        auto list = clientTypeDictionary.find(key);
        if (list == clientTypeDictionary.end())
            continue;
        shot.sections.push_back({key, {list->second.begin(), list->second.end()}});
    }
    return shot;
}

RegistryContents ClientRegistry::contents() const
{
    RegistryContents all;
    all.records.assign(clientIDArray.begin(), clientIDArray.end());
    all.addresses = clientIPDictionary.size();
    all.graveyard.insert(clientGraveyard.begin(), clientGraveyard.end());
    return all;
}

std::shared_ptr<Client> RegistrySnapshot::at(int section, int row) const
{
    if (section < 0 || static_cast<std::size_t>(section) >= sections.size())
        return nullptr;
    const auto& records = sections[static_cast<std::size_t>(section)].records;
    if (row < 0 || static_cast<std::size_t>(row) >= records.size())
        return nullptr;
    return records[static_cast<std::size_t>(row)].lock();
}

} // namespace fieldmon
