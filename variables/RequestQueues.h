#pragma once
// RequestQueues: the variable request machinery of one device. Expressions
// queue address requests (addressQueue) and value requests (valueQueue) and add
// themselves to waitingRequesters; submitRequests() packs one queue
// into one datagram tagged with a one-character identifier and keeps the sent
// list under that identifier until the reply comes; the reply is cut into the
// waiting variables and the waiting requesters are asked to continue.
//
// Identifiers come from the device's own counter; one whose list still
// waits for its reply is passed over (nextIdentifier).
//
// Request datagrams: "v" or "a", the identifier, then the item texts of the
// requests (see RemoteDataRequest). Replies: "V" or "A", the identifier, the
// payload, one closing byte. Address requests always go out before value
// requests; one submitRequests() sends at most one datagram.
//
// A datagram carries at most kMaxRequestText bytes (the command channel's
// limit). Requests that do not fit stay queued, whole items at a time, and go
// out with the next submitRequests() (the reply's requester entry calls it at
// once), so no item is ever cut in two and no variable waits for bytes that
// were never asked for.
//
// Reference cycle: Client → RequestQueues → waitingRequesters →
// expression → Client. It lasts from an expression queueing until the next
// submitRequests(), which always clears that list, or until clear(). Sent
// lists hold their requesters weakly (see RemoteDataRequest::requesters).
//
// Thread rule: main thread only.

#include "variables/RemoteDataRequest.h"
#include "variables/Requester.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon {

class VariableStore;

class RequestQueues {
public:
    using RequestList = std::vector<RemoteDataRequest>;
    using SentRequestTable = std::map<std::string, RequestList>;

    static constexpr std::size_t kMaxRequestText = 5999;
    // How many identifiers the device link's counter runs through.
    static constexpr std::size_t kIdentifiers = 28;

    explicit RequestQueues(VariableStore& store);

    RequestList& addressQueue() { return addressQueue_; }
    RequestList& valueQueue() { return valueQueue_; }
    std::vector<std::shared_ptr<Requester>>& waitingRequesters() { return waitingRequesters_; }
    // Files a request on addressQueue when isBase(), else on valueQueue.
    void queue(RemoteDataRequest request);

    // Sends the queued address requests if there are any, else the queued
    // value requests. True when a datagram was made and handed to the link.
    bool submitRequests();

    // Handle a "V" (address) or "A" (value) reply: the datagram as it came,
    // kind byte first, identifier, then the payload and its closing byte.
    // Everything after the identifier, the closing byte included, is cut
    // into the waiting variables. Any length is handled; a datagram of fewer
    // than 2 bytes carries no identifier and is ignored.
    void handleAddressReply(std::string_view datagram);
    void handleValueReply(std::string_view datagram);
    // Cuts `length` payload bytes into the requests of `list`, in order.
    void storeVars(const RequestList& list, const std::uint8_t* payload, std::size_t length);

    // Sent and unanswered lists: address requests in sentAddressRequests, value
    // requests in sentValueRequests, keyed by requestKey.
    SentRequestTable& sentAddressRequests() { return sentAddressRequests_; }
    SentRequestTable& sentValueRequests() { return sentValueRequests_; }
    const RequestList* findSentAddressRequests(char id) const;
    const RequestList* findSentValueRequests(char id) const;
    void forgetSentRequests(char id);
    static std::string requestKey(char id) { return std::string(1, id); }

    // Drops every queue and sent list (ends any reference cycle above).
    void clear();

private:
    // Cuts `list` after the last whole item that fits into a datagram whose
    // text is already `used` bytes long; returns where the rest begins.
    static std::size_t fitInDatagram(const RequestList& list, std::size_t used);
    // Readies requests cut off a datagram for the next one: batching undone,
    // repeated requests of one variable dropped.
    static void keepForNextDatagram(RequestList& rest);
    // The link's next identifier that no sent list of `table` waits under.
    char nextIdentifier(const SentRequestTable& table) const;
    bool sendList(char kind, RequestList& list, SentRequestTable& table);
    static void batchAddressRequests(RequestList& list);
    static void batchValueRequests(RequestList& list);
    void handleReply(std::string_view datagram, SentRequestTable& table);

    VariableStore& store_;
    RequestList addressQueue_;
    RequestList valueQueue_;
    std::vector<std::shared_ptr<Requester>> waitingRequesters_;
    SentRequestTable sentAddressRequests_;
    SentRequestTable sentValueRequests_;
};

} // namespace fieldmon
