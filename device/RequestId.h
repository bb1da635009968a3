#pragma once
// The one-character identifiers that tag variable requests. Each device
// record has its own counter: it starts at 97 ('a'); each call first wraps
// it to 96 when it is above 123, then adds one. So the first identifier is
// 'b', then up to '|' (124), then 'a' to '|' again: 28 values.
//
// One counter for all devices used to let busy devices run through the 28
// values between two requests of a quiet one, so the quiet device's next
// request took an identifier whose list still waited for its reply (see
// RequestQueues for what happens to identifiers still waiting).
//
// Thread rule: main thread only (the counter itself is atomic so a stray call
// elsewhere cannot tear it, but the sequence is only meaningful on one thread).

#include <atomic>

namespace fieldmon {

class RequestIdCounter {
public:
    char next()
    {
        int value = value_.load(std::memory_order_relaxed);
        if (value > 123)
            value = 96;
        ++value;
        value_.store(value, std::memory_order_relaxed);
        return static_cast<char>(value);
    }

private:
    std::atomic<int> value_{97};
};

} // namespace fieldmon
