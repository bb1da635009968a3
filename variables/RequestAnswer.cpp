#include "variables/RequestAnswer.h"

#include "platform/Ascii.h"

namespace fieldmon {

int readItemCode(std::string_view text, std::size_t& pos)
{
    if (pos >= text.size())
        return -1;
    const auto b0 = static_cast<unsigned char>(text[pos]);
    if (b0 >= 0xC2 && b0 <= 0xDF && pos + 1 < text.size()) {
        const auto b1 = static_cast<unsigned char>(text[pos + 1]);
        if ((b1 & 0xC0) == 0x80) {
            pos += 2;
            return ((b0 & 0x1F) << 6) | (b1 & 0x3F);
        }
    }
    pos += 1;
    return b0;
}

namespace {

using ascii::hexValue;
using ascii::isDigit;

void appendLE32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(v >> (8 * i)));
}

} // namespace

std::optional<std::string> answerAddressRequest(std::string_view request, const AnswerMemory& memory,
                                                std::string& note)
{
    if (request.size() < 2)
        return std::nullopt;
    std::string reply = "V";
    reply.push_back(request[1]);
    std::size_t pos = 2;
    while (pos < request.size()) {
        const std::size_t itemStart = pos;
        const int code = readItemCode(request, pos);
        std::uint64_t count = 0;
        std::size_t digits = 0;
        while (pos < request.size() && isDigit(request[pos]) && digits < 12) {
            count = count * 10 + static_cast<std::uint64_t>(request[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0) {
            note = "no byte count after the index at byte " + std::to_string(itemStart);
            break;
        }
        if (reply.size() - 2 + count > kMaxReplyPayload) {
            note = "reply would exceed " + std::to_string(kMaxReplyPayload) + " bytes; later items dropped";
            break;
        }
        // The index travels as its low byte; a run continues with the next
        // indexes. A count that is no multiple of 4 is padded with zeros so
        // that the reply still holds exactly the bytes asked for.
        const int first = (code - 65) & 0xFF;
        for (std::uint64_t k = 0; k < count / 4; ++k)
            appendLE32(reply, memory.addressOfIndex((first + static_cast<int>(k)) & 0xFF));
        reply.append(count % 4, '\0');
    }
    reply.push_back('\0');
    return reply;
}

std::optional<std::string> answerValueRequest(std::string_view request, const AnswerMemory& memory,
                                              std::string& note)
{
    if (request.size() < 2)
        return std::nullopt;
    std::string reply = "A";
    reply.push_back(request[1]);
    std::size_t pos = 2;
    while (pos < request.size()) {
        const std::size_t itemStart = pos;
        if (request.size() - pos < 9) {
            note = "short item at byte " + std::to_string(itemStart);
            break;
        }
        std::uint32_t address = 0;
        bool ok = true;
        for (int i = 0; i < 8; ++i) {
            int h = hexValue(request[pos + static_cast<std::size_t>(i)]);
            ok = ok && h >= 0;
            address = (address << 4) | static_cast<std::uint32_t>(h < 0 ? 0 : h);
        }
        if (!ok) {
            note = "bad address digits at byte " + std::to_string(itemStart);
            break;
        }
        pos += 8;
        const int code = readItemCode(request, pos);
        if (code < 0) {
            note = "no size character at byte " + std::to_string(itemStart + 8);
            break;
        }
        const std::uint64_t count = static_cast<std::uint64_t>((code - 65) & 0xFF);
        if (reply.size() - 2 + count > kMaxReplyPayload) {
            note = "reply would exceed " + std::to_string(kMaxReplyPayload) + " bytes; later items dropped";
            break;
        }
        memory.read(address, count, reply);
    }
    reply.push_back('\0');
    return reply;
}

} // namespace fieldmon
