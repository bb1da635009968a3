#include "variables/RequestAnswer.h"

#include "variables/RequestItems.h"

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
    for (const AddressItem& item : addressItems(request, note)) {
        if (reply.size() - 2 + item.count > kMaxReplyPayload) {
            note = "reply would exceed " + std::to_string(kMaxReplyPayload) + " bytes; later items dropped";
            break;
        }
        // A count that is no multiple of 4 is padded with zeros so that the
        // reply still holds exactly the bytes asked for.
        for (std::uint64_t k = 0; k < item.count / 4; ++k)
            appendLE32(reply, memory.addressOfIndex((item.firstIndex + static_cast<int>(k)) & 0xFF));
        reply.append(item.count % 4, '\0');
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
    for (const ValueItem& item : valueItems(request, note)) {
        if (reply.size() - 2 + item.count > kMaxReplyPayload) {
            note = "reply would exceed " + std::to_string(kMaxReplyPayload) + " bytes; later items dropped";
            break;
        }
        memory.read(item.address, item.count, reply);
    }
    reply.push_back('\0');
    return reply;
}

} // namespace fieldmon
