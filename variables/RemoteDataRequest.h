#pragma once
// RemoteDataRequest: one entry of a variable request datagram. Three kinds:
//
//  - an address request asks for the device memory addresses of variables by
//    variable index; its item text is the index character (65 + index, as one
//    byte) followed by the decimal number of address bytes asked for;
//  - a value request asks for `requestSize` bytes at `address`; its item text
//    is eight lowercase hex digits and the size character (65 + size);
//  - the requester entry closes a sent list: it holds the requesters to
//    continue once the reply has been stored.
//
// Request characters are single bytes on the wire: the character for the
// number n is the byte (65 + n) mod 256, sent as it is (bytes above 127 are
// not UTF-8 encoded; an index of 191 even gives the byte 0). A device reads
// one byte per item character, so one byte it must be.
//
// `size` is how many reply bytes the request consumes, `requestSize` how many
// its item asks for. Batching (see RequestQueues) empties the text of
// requests merged into another and makes duplicates passive (size 0).
//
// Thread rule: main thread only.

#include "variables/Requester.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fieldmon {

class RemoteData;

class RemoteDataRequest {
public:
    // The most bytes one value item may ask for.
    static constexpr std::int32_t kMaxItemBytes = 75;

    // A value request for `size` bytes at `address`, answered into `responder`.
    static RemoteDataRequest value(std::shared_ptr<RemoteData> responder, std::int32_t address,
                                   std::int32_t size, bool ready);
    // An address request for the variable with index `index`.
    static RemoteDataRequest baseAddress(std::shared_ptr<RemoteData> responder, std::int32_t index,
                                         std::int32_t size, bool ready);
    // The trailing entry of a sent list. It holds its requesters weakly: a
    // device that never answers must not keep its record, expressions and
    // widgets alive through the identifier table, and a requester that its
    // owner has let go of has nobody left to deliver to.
    static RemoteDataRequest requesters(const std::vector<std::shared_ptr<Requester>>& vars);

    // The item text of a value request: "%8.8x%c" for sizes up to 75. A
    // variable larger than one item is asked for in consecutive items of at
    // most 75 bytes, so that the reply holds all its bytes in order.
    static std::string valueText(std::int32_t address, std::int32_t size);
    // "%c%d" of (65 + index) and the byte count.
    static std::string addressText(std::int32_t index, std::int32_t size);
    // The one byte that stands for n in a request: (65 + n) mod 256.
    static char requestChar(std::int32_t n) { return static_cast<char>(static_cast<std::uint8_t>(65 + n)); }

    const std::string& request() const { return request_; }
    const std::shared_ptr<RemoteData>& responder() const { return responder_; }
    void setResponder(std::shared_ptr<RemoteData> r) { responder_ = std::move(r); }
    std::int32_t address() const { return address_; }
    std::int32_t index() const { return index_; }
    std::int32_t size() const { return size_; }
    std::int32_t requestSize() const { return requestSize_; }
    bool isBase() const { return base_; }
    bool isAddressRequest() const { return addr_; }
    bool isRequesterEntry() const { return requesterEntry_; }
    bool ready() const { return ready_; }
    void setReady(bool r) { ready_ = r; }
    bool isNotReady() const { return !ready_; }
    const std::vector<std::weak_ptr<Requester>>& vars() const { return vars_; }

    // Consumes nothing and asks for nothing: a duplicate of the next request.
    void becomePassive();
    // Asks for nothing (merged into an earlier item) but still consumes size().
    void emptyRequestString() { request_.clear(); }
    void addToSize(std::int32_t n) { size_ += n; }
    // Grows the item and rebuilds its text. A value item is capped at 75
    // bytes with "ERROR: Requesting too much at once".
    void addToRequestSize(std::int32_t n);
    // Back to the state it was made in (batching undone), for a request that
    // stays queued for the next datagram.
    void reset();

    // Ascending by address / by index.
    static bool sortByAddress(const RemoteDataRequest& a, const RemoteDataRequest& b) { return a.address_ < b.address_; }
    static bool sortByIndex(const RemoteDataRequest& a, const RemoteDataRequest& b) { return a.index_ < b.index_; }

    // Stores the reply bytes at `bytes`, of which `available` lie inside the
    // payload: an address request sets its variable's address, a value
    // request its value, each only when all the bytes it needs are there.
    // The requester entry re-queues its requesters whose requeue() is set and
    // then submits the next batch through the last one still alive.
    // The variable whose value it stored, or null (an address, a requester
    // entry, or too few bytes).
    RemoteData* storeValue(const std::uint8_t* bytes, std::size_t available) const;

    std::string description() const;

private:
    RemoteDataRequest() = default;

    std::string request_;
    std::vector<std::weak_ptr<Requester>> vars_;
    std::shared_ptr<RemoteData> responder_;
    std::int32_t address_ = 0;
    std::int32_t index_ = 0;
    std::int32_t size_ = 0;
    std::int32_t requestSize_ = 0;
    std::int32_t originalSize_ = 0;
    bool addr_ = false;
    bool base_ = false;
    bool ready_ = false;
    bool requesterEntry_ = false;
};

} // namespace fieldmon
