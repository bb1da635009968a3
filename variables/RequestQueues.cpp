#include "variables/RequestQueues.h"

#include "platform/Diagnostics.h"
#include "variables/RemoteData.h"
#include "variables/VariableStore.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <numeric>

namespace fieldmon {

namespace {

bool isPassive(const RemoteDataRequest& r)
{
    return r.size() == 0 && r.request().empty() && !r.isRequesterEntry();
}

// A stable sort that moves each request once: sorting the requests
// themselves would move these large objects at every step.
template <typename Less>
void sortRequests(RequestQueues::RequestList& list, Less less)
{
    std::vector<std::uint32_t> order(list.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return less(list[a], list[b]); });
    RequestQueues::RequestList sorted;
    sorted.reserve(list.size());
    for (std::uint32_t i : order)
        sorted.push_back(std::move(list[i]));
    list.swap(sorted);
}

} // namespace

RequestQueues::RequestQueues(VariableStore& store) : store_(store) {}

void RequestQueues::queue(RemoteDataRequest request)
{
    if (request.isBase())
        addressQueue_.push_back(std::move(request));
    else
        valueQueue_.push_back(std::move(request));
}

void RequestQueues::batchAddressRequests(RequestList& list)
{
    sortRequests(list, RemoteDataRequest::sortByIndex);
    // Of several requests for one index, only the last asks; the ones before
    // it become passive and take the same reply bytes.
    for (std::size_t i = 1; i < list.size(); ++i)
        if (list[i].index() == list[i - 1].index())
            list[i - 1].becomePassive();
    // Consecutive indexes form one item asking for 4 bytes per variable.
    RemoteDataRequest* head = nullptr;
    for (auto& r : list) {
        if (r.size() == 0)
            continue;
        if (head && std::int64_t{head->index()} * 4 + head->requestSize() == std::int64_t{r.index()} * 4) {
            r.emptyRequestString();
            head->addToRequestSize(4);
            continue;
        }
        head = &r;
    }
}

void RequestQueues::batchValueRequests(RequestList& list)
{
    // Of several requests for one address, only the last asks; the ones
    // before it become passive and store from where it starts. The last must
    // be the largest, or a passive one would copy bytes past its item as its
    // own. Sorting by size within an address, stably, makes that so whatever
    // order the requests were queued in.
    sortRequests(list, [](const RemoteDataRequest& a, const RemoteDataRequest& b) {
        if (a.address() != b.address())
            return RemoteDataRequest::sortByAddress(a, b);
        return a.requestSize() < b.requestSize();
    });
    for (std::size_t i = 1; i < list.size(); ++i)
        if (list[i].address() == list[i - 1].address())
            list[i - 1].becomePassive();
    // Requests at most 2 bytes after the end of the item before them join
    // that item; the request before each joined one consumes the gap bytes,
    // so that every request still reads its own bytes from the reply.
    //
    // `consumed` counts the reply bytes the item's requests consume so far.
    // With no overlap it equals the item's size and the adjustment below is
    // exactly the gap. Variables may overlap (a device may report any
    // address), so the previous request's share is cut back (never below 0,
    // the list being sorted) to wherever the next one starts, and the item
    // only grows by what reaches past its end. When the item closes, its
    // last request consumes whatever is left of it: a last variable lying
    // inside an earlier one would otherwise leave the item's tail to nobody,
    // and every later item would be read from the wrong offset.
    //
    // An item never grows past 75 bytes: the request that would make it
    // larger starts an item of its own, rather than being cut off and
    // shifting the bytes of every later item onto the wrong variables.
    RemoteDataRequest* head = nullptr;
    RemoteDataRequest* previous = nullptr;
    std::int64_t consumed = 0;
    auto closeItem = [&] {
        if (previous)
            previous->addToSize(static_cast<std::int32_t>(head->requestSize() - consumed));
    };
    for (auto& r : list) {
        if (r.size() == 0)
            continue;
        if (head) {
            std::int64_t offset = std::int64_t{r.address()} - head->address();
            std::int64_t gap = offset - head->requestSize();
            std::int64_t end = std::max<std::int64_t>(head->requestSize(), offset + r.requestSize());
            bool fits = head->requestSize() <= RemoteDataRequest::kMaxItemBytes &&
                        r.requestSize() <= RemoteDataRequest::kMaxItemBytes && end <= RemoteDataRequest::kMaxItemBytes;
            if (gap <= 2 && fits) {
                head->addToRequestSize(static_cast<std::int32_t>(end - head->requestSize()));
                r.emptyRequestString();
                previous->addToSize(static_cast<std::int32_t>(offset - consumed));
                consumed = offset + r.size();
                previous = &r;
                continue;
            }
        }
        closeItem();
        head = previous = &r;
        consumed = r.size();
    }
    closeItem();
}

std::size_t RequestQueues::fitInDatagram(const RequestList& list, std::size_t used)
{
    std::size_t length = used;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string& text = list[i].request();
        if (text.empty())
            continue;
        if (length + text.size() > kMaxRequestText) {
            // Passive duplicates just before an item belong to it.
            std::size_t start = i;
            while (start > 0 && isPassive(list[start - 1]))
                --start;
            if (start > 0)
                return start;
        }
        length += text.size();
    }
    return list.size();
}

void RequestQueues::keepForNextDatagram(RequestList& rest)
{
    // The same variable asked for twice needs one request. Without this, a
    // silent device whose requests keep being queued faster than they fit
    // would grow the queue by every leftover duplicate at every pass. The
    // list is sorted, so equal keys sit together.
    auto key = [](const RemoteDataRequest& r) { return r.isAddressRequest() ? r.index() : r.address(); };
    std::size_t kept = 0;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        bool duplicate = false;
        for (std::size_t j = kept; j-- > 0 && key(rest[j]) == key(rest[i]);)
            if (rest[j].responder() == rest[i].responder()) {
                duplicate = true;
                break;
            }
        if (duplicate)
            continue;
        if (kept != i)
            rest[kept] = std::move(rest[i]);
        rest[kept].reset();
        ++kept;
    }
    rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(kept), rest.end());
}

char RequestQueues::nextIdentifier(const SentRequestTable& table) const
{
    const auto& next = store_.link().uniqueIdentifier;
    if (!next)
        return 'a';
    // An identifier whose list still waits for its reply is passed over, so
    // a late reply is cut against its own list and not a newer one. When
    // every identifier waits, the counter goes round once (28 calls) and
    // the next call, the 29th, gives the first one again: it is taken
    // anyway, and its list counts as lost.
    char id = next();
    for (std::size_t tries = 1; tries <= kIdentifiers && table.count(requestKey(id)); ++tries)
        id = next();
    return id;
}

bool RequestQueues::sendList(char kind, RequestList& list, SentRequestTable& table)
{
    char id = nextIdentifier(table);
    std::size_t cut = fitInDatagram(list, 2);
    RequestList rest(std::make_move_iterator(list.begin() + static_cast<std::ptrdiff_t>(cut)),
                     std::make_move_iterator(list.end()));
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(cut), list.end());
    keepForNextDatagram(rest);

    std::string text;
    text.reserve(kMaxRequestText);
    text += kind;
    text += id;
    for (const auto& r : list)
        text += r.request();
    list.push_back(RemoteDataRequest::requesters(waitingRequesters_));

    table[requestKey(id)] = std::move(list);
    list = std::move(rest);
    waitingRequesters_.clear();
    if (store_.link().send)
        store_.link().send(text);
    if (store_.link().requestSent)
        store_.link().requestSent(kind, id);
    return true;
}

bool RequestQueues::submitRequests()
{
    if (store_.debug())
        diag("Submitting\n");
    if (!addressQueue_.empty()) {
        batchAddressRequests(addressQueue_);
        return sendList('v', addressQueue_, sentAddressRequests_);
    }
    if (valueQueue_.empty()) {
        waitingRequesters_.clear();
        return false;
    }
    batchValueRequests(valueQueue_);
    return sendList('a', valueQueue_, sentValueRequests_);
}

void RequestQueues::handleReply(std::string_view datagram, SentRequestTable& table)
{
    if (datagram.size() < 2)
        return;
    if (store_.link().replyReceived)
        store_.link().replyReceived(datagram[0], datagram[1]);
    auto it = table.find(requestKey(datagram[1]));
    if (it == table.end())
        return;
    // Taken out before storing: the requester entry queues and submits
    // again, which may reuse this very key.
    RequestList list = std::move(it->second);
    table.erase(it);
    storeVars(list, reinterpret_cast<const std::uint8_t*>(datagram.data()) + 2, datagram.size() - 2);
}

void RequestQueues::handleAddressReply(std::string_view datagram)
{
    handleReply(datagram, sentAddressRequests_);
}

void RequestQueues::handleValueReply(std::string_view datagram)
{
    handleReply(datagram, sentValueRequests_);
}

void RequestQueues::storeVars(const RequestList& list, const std::uint8_t* payload, std::size_t length)
{
    if (store_.debug())
        diag("We got %d bytes\n",
             static_cast<int>(strnlen(reinterpret_cast<const char*>(payload), length)));
    std::size_t offset = 0;
    bool shortage = false;
    const double now = store_.now();
    VariableStore::ValueObserver* observer = store_.valueObserver();
    auto stored = [&](RemoteData* variable) {
        if (!variable)
            return;
        variable->setStoredAt(now);
        if (observer)
            observer->valueStored(*variable, now);
    };
    for (const auto& r : list) {
        auto size = static_cast<std::size_t>(std::max<std::int32_t>(r.size(), 0));
        if (shortage || offset + size > length) {
            diag("Missing data.\n");
            shortage = true;
            if (size == 0)
                stored(r.storeValue(payload + offset, length - offset));
            continue;
        }
        stored(r.storeValue(payload + offset, length - offset));
        offset += size;
    }
    if (store_.debug())
        diag("Had %d bytes worth of waiting people\n", static_cast<int>(offset));
}

const RequestQueues::RequestList* RequestQueues::findSentAddressRequests(char id) const
{
    auto it = sentAddressRequests_.find(requestKey(id));
    return it == sentAddressRequests_.end() ? nullptr : &it->second;
}

const RequestQueues::RequestList* RequestQueues::findSentValueRequests(char id) const
{
    auto it = sentValueRequests_.find(requestKey(id));
    return it == sentValueRequests_.end() ? nullptr : &it->second;
}

void RequestQueues::forgetSentRequests(char id)
{
    sentAddressRequests_.erase(requestKey(id));
}

void RequestQueues::clear()
{
    addressQueue_.clear();
    valueQueue_.clear();
    waitingRequesters_.clear();
    sentAddressRequests_.clear();
    sentValueRequests_.clear();
}

} // namespace fieldmon
