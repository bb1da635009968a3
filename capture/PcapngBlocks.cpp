#include "capture/PcapngBlocks.h"

namespace fieldmon::capture {

namespace {

constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescription = 0x00000001;
constexpr std::uint32_t kEnhancedPacket = 0x00000006;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;

constexpr std::uint16_t kOptEnd = 0;
constexpr std::uint16_t kOptComment = 1;
constexpr std::uint16_t kShbUserApplication = 4;
constexpr std::uint16_t kIfName = 2;
constexpr std::uint16_t kIfTimestampResolution = 9;

void le16(std::string& out, std::uint16_t v)
{
    out.push_back(static_cast<char>(v));
    out.push_back(static_cast<char>(v >> 8));
}

void le32(std::string& out, std::uint32_t v)
{
    le16(out, static_cast<std::uint16_t>(v));
    le16(out, static_cast<std::uint16_t>(v >> 16));
}

void pad32(std::string& out, std::size_t from)
{
    while ((out.size() - from) % 4)
        out.push_back('\0');
}

void option(std::string& out, std::uint16_t code, std::string_view value)
{
    const std::size_t at = out.size();
    le16(out, code);
    le16(out, static_cast<std::uint16_t>(value.size()));
    out.append(value);
    pad32(out, at);
}

// Starts a block; finish() writes both copies of its total length.
std::size_t begin(std::string& out, std::uint32_t type)
{
    const std::size_t at = out.size();
    le32(out, type);
    le32(out, 0); // total length, filled in by finish()
    return at;
}

void finish(std::string& out, std::size_t at)
{
    pad32(out, at);
    const auto total = static_cast<std::uint32_t>(out.size() - at + 4);
    le32(out, total);
    for (int i = 0; i < 4; ++i)
        out[at + 4 + static_cast<std::size_t>(i)] = static_cast<char>(total >> (8 * i));
}

} // namespace

void appendSectionHeader(std::string& out, std::string_view application)
{
    const std::size_t at = begin(out, kSectionHeader);
    le32(out, kByteOrderMagic);
    le16(out, 1); // version 1.0
    le16(out, 0);
    le32(out, 0xFFFFFFFFu); // section length: not given
    le32(out, 0xFFFFFFFFu);
    option(out, kShbUserApplication, application.substr(0, 0xFFFF));
    option(out, kOptEnd, {});
    finish(out, at);
}

void appendInterfaceDescription(std::string& out, std::uint16_t linkType, std::string_view name)
{
    const std::size_t at = begin(out, kInterfaceDescription);
    le16(out, linkType);
    le16(out, 0);
    le32(out, kSnapLength);
    option(out, kIfName, name.substr(0, 0xFFFF));
    option(out, kIfTimestampResolution, std::string_view("\x06", 1)); // 10^-6 s
    option(out, kOptEnd, {});
    finish(out, at);
}

void appendEnhancedPacket(std::string& out, std::int64_t micros, std::string_view packet, std::string_view comment)
{
    const std::size_t at = begin(out, kEnhancedPacket);
    const auto stamp = static_cast<std::uint64_t>(micros < 0 ? 0 : micros);
    le32(out, 0); // interface 0
    le32(out, static_cast<std::uint32_t>(stamp >> 32));
    le32(out, static_cast<std::uint32_t>(stamp));
    le32(out, static_cast<std::uint32_t>(packet.size()));
    le32(out, static_cast<std::uint32_t>(packet.size()));
    out.append(packet);
    pad32(out, at);
    if (!comment.empty()) {
        option(out, kOptComment, comment.substr(0, 0xFFFF));
        option(out, kOptEnd, {});
    }
    finish(out, at);
}

} // namespace fieldmon::capture
