#include "variables/RemoteDataRequest.h"

#include "platform/Diagnostics.h"
#include "variables/RemoteData.h"

#include <cstdio>
#include <unordered_set>

namespace fieldmon {

namespace {

void appendHex8(std::string& out, std::int32_t address)
{
    static constexpr char digits[] = "0123456789abcdef";
    auto a = static_cast<std::uint32_t>(address);
    char hex[8];
    for (int i = 7; i >= 0; --i, a >>= 4)
        hex[i] = digits[a & 0xF];
    out.append(hex, sizeof hex);
}

unsigned identity(const void* p)
{
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p));
}

} // namespace

std::string RemoteDataRequest::valueText(std::int32_t address, std::int32_t size)
{
    std::string text;
    if (size <= kMaxItemBytes) {
        text.reserve(9);
        appendHex8(text, address);
        text += requestChar(size);
        return text;
    }
    text.reserve(static_cast<std::size_t>(size / kMaxItemBytes + 1) * 9);
    std::uint32_t at = static_cast<std::uint32_t>(address);
    for (std::int32_t left = size; left > 0; left -= kMaxItemBytes) {
        std::int32_t n = left < kMaxItemBytes ? left : kMaxItemBytes;
        appendHex8(text, static_cast<std::int32_t>(at));
        text += requestChar(n);
        at += static_cast<std::uint32_t>(n);
    }
    return text;
}

std::string RemoteDataRequest::addressText(std::int32_t index, std::int32_t size)
{
    std::string text(1, requestChar(index & 0xFF));
    text += std::to_string(size);
    return text;
}

RemoteDataRequest RemoteDataRequest::value(std::shared_ptr<RemoteData> responder, std::int32_t address,
                                           std::int32_t size, bool ready)
{
    RemoteDataRequest r;
    r.request_ = valueText(address, size);
    r.responder_ = std::move(responder);
    r.address_ = address;
    r.size_ = r.requestSize_ = r.originalSize_ = size;
    r.ready_ = ready;
    return r;
}

RemoteDataRequest RemoteDataRequest::baseAddress(std::shared_ptr<RemoteData> responder, std::int32_t index,
                                                 std::int32_t size, bool ready)
{
    RemoteDataRequest r;
    r.request_ = addressText(index, size);
    r.responder_ = std::move(responder);
    r.index_ = index;
    r.size_ = r.requestSize_ = r.originalSize_ = size;
    r.addr_ = r.base_ = true;
    r.ready_ = ready;
    return r;
}

RemoteDataRequest RemoteDataRequest::requesters(const std::vector<std::shared_ptr<Requester>>& vars)
{
    RemoteDataRequest r;
    r.requesterEntry_ = true;
    r.ready_ = true;
    // A requester that queued several times in one batch is continued once.
    std::unordered_set<const Requester*> seen;
    r.vars_.reserve(vars.size());
    for (const auto& v : vars)
        if (v && seen.insert(v.get()).second)
            r.vars_.push_back(v);
    return r;
}

void RemoteDataRequest::becomePassive()
{
    size_ = 0;
    request_.clear();
}

void RemoteDataRequest::addToRequestSize(std::int32_t n)
{
    requestSize_ += n;
    if (addr_) {
        request_ = addressText(index_, requestSize_);
        return;
    }
    if (requestSize_ > kMaxItemBytes) {
        diag("ERROR: Requesting too much at once\n");
        requestSize_ = kMaxItemBytes;
    }
    request_.clear();
    appendHex8(request_, address_);
    request_ += requestChar(requestSize_);
}

void RemoteDataRequest::reset()
{
    if (requesterEntry_)
        return;
    size_ = requestSize_ = originalSize_;
    request_ = addr_ ? addressText(index_, size_) : valueText(address_, size_);
}

RemoteData* RemoteDataRequest::storeValue(const std::uint8_t* bytes, std::size_t available) const
{
    if (requesterEntry_) {
        // Requeueing calls back into the device record, which may queue and
        // even send; hold every live requester first so that none vanishes
        // half-way through.
        std::vector<std::shared_ptr<Requester>> live;
        live.reserve(vars_.size());
        for (const auto& w : vars_)
            if (auto v = w.lock())
                live.push_back(std::move(v));
        for (const auto& v : live)
            if (v->requeue())
                v->queueVariableRequests();
        if (!live.empty())
            live.back()->submitRequests();
        return nullptr;
    }
    if (!responder_)
        return nullptr;
    if (addr_) {
        if (available >= 4)
            responder_->setAddress(bytes);
        return nullptr;
    }
    auto need = static_cast<std::size_t>(responder_->size());
    if (available < need)
        return nullptr;
    responder_->storeData(bytes, size_);
    return responder_.get();
}

std::string RemoteDataRequest::description() const
{
    char text[128];
    if (requesterEntry_)
        std::snprintf(text, sizeof text, "<RemoteDataRequest: 0x%x requeue>", identity(this));
    else if (addr_)
        std::snprintf(text, sizeof text, "<RemoteDataRequest: 0x%x index=0x%x size=%d>", identity(this),
                      static_cast<unsigned>(index_), size_);
    else
        std::snprintf(text, sizeof text, "<RemoteDataRequest: 0x%x storeData address=0x%x size=%d>",
                      identity(this), static_cast<unsigned>(address_), size_);
    return text;
}

} // namespace fieldmon
