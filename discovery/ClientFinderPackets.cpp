// ClientFinder: classifying received datagrams and handing them on.

#include "discovery/ClientFinder.h"

#include "device/Client.h"
#include "discovery/DatagramDump.h"
#include "discovery/IdentityAnnouncement.h"
#include "platform/Diagnostics.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"

#include <arpa/inet.h>

#include <cstring>

namespace fieldmon {

namespace {

std::string dottedAddress(in_addr address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

// The content as a C string would read it: up to the first 0 byte.
std::string_view asCString(std::string_view bytes)
{
    return bytes.substr(0, ::strnlen(bytes.data(), bytes.size()));
}

// Whether two references name the same record; works after either is gone.
bool sameRecord(const std::weak_ptr<Client>& a, const std::shared_ptr<Client>& b)
{
    return !a.owner_before(b) && !b.owner_before(a);
}

void dump(std::string_view datagram)
{
    diagWrite(datagramDump(datagram));
}

} // namespace

std::shared_ptr<Client> ClientFinder::getClientFromIP(in_addr address)
{
    std::string key = dottedAddress(address);
    std::lock_guard lock(registry_.clientip_mutex);
    return registry_.findByAddress(key);
}

void ClientFinder::parsePacket(const sockaddr_in& from, std::string_view datagram)
{
    if (debug()) {
        std::string content(asCString(datagram));
        diag("Got packet '%s'\n", content.c_str());
    }
    // A sender no device can be (this phone, 0.0.0.0, loopback, a group or
    // broadcast address) gets no record and reaches none.
    if (!sources_.accepts(from.sin_addr, services_.loop.now())) {
        if (!refusedSourceSaid_) {
            refusedSourceSaid_ = true;
            diag("Ignoring datagrams from %s: no device can have that address\n",
                 dottedAddress(from.sin_addr).c_str());
        }
        return;
    }
    if (datagram.empty()) {
        dump(datagram);
        return;
    }

    // The record registered under the sender's address, marked as heard now.
    auto heardFrom = [&]() -> std::shared_ptr<Client> {
        auto client = getClientFromIP(from.sin_addr);
        if (client)
            client->heard(services_.loop.now());
        return client;
    };

    switch (datagram[0]) {
    case 'm':
        break;
    case 'V':
    case 'A':
        // Replies are decoded here, where the hand-off landed, as they came:
        // the kind byte first, the closing byte last. The expressions they
        // complete may run anything, even the finder's destruction: nothing
        // of `this` is touched after them.
        if (auto client = heardFrom()) {
            RequestQueues& requests = client->variables().requests();
            if (datagram[0] == 'V')
                requests.handleAddressReply(datagram);
            else
                requests.handleValueReply(datagram);
        }
        return;
    case 'e':
        if (auto client = heardFrom())
            client->broadcastEvent(asCString(datagram.substr(1)));
        return;
    case 'i':
        if (datagram.size() == 1) {
            heardFrom();
            return;
        }
        dump(datagram);
        return;
    case 'f':
        return;
    default:
        if (datagram.size() != 1)
            dump(datagram);
        return;
    }

    // An identity announcement. `previous` only identifies the record that
    // held the address before; it keeps nothing alive.
    std::weak_ptr<Client> previous = getClientFromIP(from.sin_addr);
    auto client = Client::create(debug(), services_);
    client->setSocket(sock(), &send_mutex);
    if (debug())
        diag("Heard back from client at address %s\n", dottedAddress(from.sin_addr).c_str());

    IdentityAnnouncement id = parseIdentityAnnouncement(datagram.substr(1));
    client->setPlatform(std::move(id.platform));
    client->setType(std::move(id.type));
    client->setName(std::move(id.name));
    client->setVersion(id.version);
    client->setSerialNumber(id.serialNumber);
    client->setService(id.service);
    client->setAddress(from.sin_addr, seams_.devicePort);
    client->heard(services_.loop.now());

    std::shared_ptr<Client> result = addClient(std::move(client));
    if (!result)
        return; // another host claiming a present device's serial number
    if (!sameRecord(previous, result))
        services_.notifications.post(kFoundNewClient, static_cast<const void*>(this));
    result->sendChar('s');
}

} // namespace fieldmon
