#pragma once
// Flood: the malformed datagrams of a misbehaving device ("flood" in its
// file), hostile traffic for long runs of the app. next() gives the next one
// of a fixed rotation: unknown kinds, replies nobody asked for, 'i' with
// extra bytes, empty and oversized datagrams, event lines of random bytes and
// identity announcements with hostile fields. The same seed gives the same
// datagrams, so runs repeat.
//
// Thread rule: one owner.

#include <cstdint>
#include <random>
#include <string>

namespace fieldmon::sim {

class Flood {
public:
    explicit Flood(std::uint32_t seed) : random_(seed) {}

    std::string next();

private:
    std::string bytes(std::size_t count);
    std::size_t length(std::size_t low, std::size_t high);

    std::mt19937 random_;
    unsigned turn_ = 0;
};

} // namespace fieldmon::sim
