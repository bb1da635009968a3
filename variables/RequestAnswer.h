#pragma once
// RequestAnswer: the device side of the variable request datagrams, so that
// the simulator and the tests answer requests the way a device does. The app
// itself only sends requests and cuts replies (RequestQueues).
//
//   address request  "v" id items   item: one character (65 + low byte of the
//                                    first variable index), then the number
//                                    of address bytes in decimal (4 per variable)
//   value request    "a" id items   item: 8 hexadecimal digits of the start
//                                    address, then one character (65 + count)
//   replies          "V"/"A" id payload, then one closing byte (0)
//
// The payload answers each item in order with nothing between: the 4-byte
// little-endian addresses of the variables of an address item, or exactly
// the bytes asked for by a value item (zeros beyond the memory). An item
// character is the single byte (65 + n) mod 256, so indexes from 191 on wrap
// to bytes below 'A'; a two-byte UTF-8 form of a character above 127 is
// accepted as well. A malformed item ends the list: the items before it are
// answered and `note` says where reading stopped.
//
// Thread rule: pure functions; `memory` is only read.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fieldmon {

// What answering needs of a device's memory.
class AnswerMemory {
public:
    virtual ~AnswerMemory() = default;
    // The address of the variable whose declared index has this low byte
    // (requests carry only the low byte).
    virtual std::uint32_t addressOfIndex(int lowByte) const = 0;
    // Appends `count` bytes from `address`; zeros where there is no memory.
    virtual void read(std::uint64_t address, std::uint64_t count, std::string& out) const = 0;
};

// Largest payload a reply carries; items beyond it are not answered (a UDP
// datagram holds at most 65507 bytes).
inline constexpr std::size_t kMaxReplyPayload = 65000;

// Both return nothing when the datagram has no identifier byte.
std::optional<std::string> answerAddressRequest(std::string_view request, const AnswerMemory& memory,
                                                std::string& note);
std::optional<std::string> answerValueRequest(std::string_view request, const AnswerMemory& memory,
                                              std::string& note);

// One item character at `pos`: a two-byte UTF-8 sequence or a single byte.
// Advances `pos`; -1 at the end of the text.
int readItemCode(std::string_view text, std::size_t& pos);

} // namespace fieldmon
