#pragma once
// RecordedMemory: what a capture tells of one device's memory: the bytes its
// replies carried (the last reply covering a byte wins) and the addresses its
// address replies gave for variable indexes. A byte no reply ever carried is
// unknown, and a request touching an unknown byte or index is not answered,
// as the recording never answered it either.
//
// Memory is sparse (256-byte pages), so a device's whole 32-bit address
// space costs only what was recorded.
//
// Thread rule: one owner.

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace fieldmon::sim {

class RecordedMemory {
public:
    void write(std::uint32_t address, std::string_view bytes);
    // Appends `count` bytes from `address` to `out`; false (and `out` as it
    // was) when any of them is unknown.
    bool read(std::uint32_t address, std::uint32_t count, std::string& out) const;

    void setAddress(int indexLowByte, std::uint32_t address) { addresses_[indexLowByte & 0xFF] = address; }
    std::optional<std::uint32_t> addressOf(int indexLowByte) const;

    void clear();
    std::size_t knownBytes() const;

private:
    struct Page {
        std::uint8_t bytes[256] = {};
        std::bitset<256> known;
    };
    std::unordered_map<std::uint32_t, Page> pages_;
    std::unordered_map<int, std::uint32_t> addresses_;
};

} // namespace fieldmon::sim
