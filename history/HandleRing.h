#pragma once
// A ring of piece numbers (ChunkPool handles), oldest first, that grows in
// a few steps up to the most its owner will ever hold and then stays: a
// series with a few pieces costs a few bytes, and a full one allocates no
// more.
//
// Thread rule: main thread only (owned by a series).

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace fieldmon::history {

class HandleRing {
public:
    HandleRing() = default;
    HandleRing(HandleRing&& other) noexcept
        : slots_(std::move(other.slots_)), head_(other.head_), count_(other.count_), limit_(other.limit_)
    {
        other.slots_.clear();
        other.head_ = other.count_ = 0;
    }
    HandleRing& operator=(HandleRing&&) = delete;
    HandleRing(const HandleRing&) = delete;
    HandleRing& operator=(const HandleRing&) = delete;

    // The most the owner will hold; growth stops there.
    void setLimit(std::size_t limit) { limit_ = limit; }
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::uint32_t operator[](std::size_t i) const { return slots_[(head_ + i) % slots_.size()]; }
    std::uint32_t front() const { return (*this)[0]; }
    std::uint32_t back() const { return (*this)[count_ - 1]; }

    void pushBack(std::uint32_t h)
    {
        grow();
        slots_[(head_ + count_) % slots_.size()] = h;
        ++count_;
    }
    void pushFront(std::uint32_t h)
    {
        grow();
        head_ = (head_ + slots_.size() - 1) % slots_.size();
        slots_[head_] = h;
        ++count_;
    }
    std::uint32_t popFront()
    {
        const std::uint32_t h = slots_[head_];
        head_ = (head_ + 1) % slots_.size();
        --count_;
        return h;
    }
    std::uint32_t popBack()
    {
        --count_;
        return slots_[(head_ + count_) % slots_.size()];
    }
    std::size_t bytes() const { return slots_.capacity() * sizeof(std::uint32_t); }

private:
    void grow()
    {
        if (count_ < slots_.size())
            return;
        // 16, 128, then the limit: a short series stays small, and a long
        // one leaves only two small buffers behind, not a trail of them
        // (which fragments the heap of a store with many series).
        std::size_t size = slots_.empty() ? 16 : slots_.size() * 8;
        if (size > limit_ / 2 || size > limit_)
            size = std::max(limit_, slots_.size() + 1);
        std::vector<std::uint32_t> bigger(size);
        for (std::size_t i = 0; i < count_; ++i)
            bigger[i] = (*this)[i];
        slots_.swap(bigger);
        head_ = 0;
    }

    std::vector<std::uint32_t> slots_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::size_t limit_ = SIZE_MAX;
};

} // namespace fieldmon::history
