#include "capture/CaptureReader.h"

#include <pcap/pcap.h>

#include <cstdio>

namespace fieldmon::capture {

namespace {

// Link types as libpcap reports them (DLT_ values).
#ifndef DLT_IPV4
#define DLT_IPV4 228
#endif
#ifndef DLT_LINUX_SLL2
#define DLT_LINUX_SLL2 276
#endif

constexpr std::uint16_t kEtherIpv4 = 0x0800;
constexpr std::uint16_t kEtherIpv6 = 0x86DD;
constexpr std::uint16_t kEtherVlan = 0x8100;

std::uint16_t be16(std::string_view b, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) << 8 | static_cast<unsigned char>(b[at + 1]));
}

std::uint32_t be32(std::string_view b, std::size_t at)
{
    return static_cast<std::uint32_t>(be16(b, at)) << 16 | be16(b, at + 2);
}

bool supported(int linkType)
{
    return linkType == DLT_RAW || linkType == DLT_IPV4 || linkType == DLT_EN10MB || linkType == DLT_LINUX_SLL ||
           linkType == DLT_LINUX_SLL2;
}

} // namespace

std::unique_ptr<CaptureReader> CaptureReader::open(const std::string& path, std::string& why)
{
    char errors[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_MICRO, errors);
    if (!p) {
        // libpcap names the file in some messages and not in others.
        const std::string message = errors;
        why = message.rfind(path, 0) == 0 ? message : path + ": " + message;
        return nullptr;
    }
    const int linkType = pcap_datalink(p);
    if (!supported(linkType)) {
        const char* name = pcap_datalink_val_to_name(linkType);
        why = path + ": link type " + (name ? name : "unknown") + " (" + std::to_string(linkType) +
              ") is not supported; captures of raw IPv4, Ethernet or Linux cooked (SLL, SLL2) are";
        pcap_close(p);
        return nullptr;
    }
    return std::unique_ptr<CaptureReader>(new CaptureReader(p, linkType));
}

CaptureReader::~CaptureReader()
{
    if (pcap_)
        pcap_close(pcap_);
}

std::int64_t CaptureReader::position() const { return std::ftell(pcap_file(pcap_)); }

bool CaptureReader::seek(std::int64_t offset)
{
    // libpcap reads records straight from the stream, so a record boundary
    // it passed before is a place to go on from.
    if (std::fseek(pcap_file(pcap_), offset, SEEK_SET) != 0)
        return false;
    ended_ = false;
    error_.clear();
    return true;
}

CaptureReader::Next CaptureReader::next(CapturedPacket& out)
{
    while (!ended_) {
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int r = pcap_next_ex(pcap_, &header, &data);
        if (r == PCAP_ERROR_BREAK) {
            ended_ = true;
            return Next::End;
        }
        if (r != 1) {
            ended_ = true;
            error_ = pcap_geterr(pcap_);
            return Next::Error;
        }
        ++records_;
        const std::int64_t micros = static_cast<std::int64_t>(header->ts.tv_sec) * 1000000 + header->ts.tv_usec;
        if (decode(std::string_view(reinterpret_cast<const char*>(data), header->caplen), micros, out))
            return Next::Packet;
    }
    return Next::End;
}

bool CaptureReader::decode(std::string_view frame, std::int64_t micros, CapturedPacket& out)
{
    std::uint16_t etherType = 0;
    std::size_t at = 0;
    switch (linkType_) {
    case DLT_RAW:
    case DLT_IPV4:
        if (frame.empty()) {
            ++skipped_.cutShort;
            return false;
        }
        etherType = (static_cast<unsigned char>(frame[0]) >> 4) == 6 ? kEtherIpv6 : kEtherIpv4;
        break;
    case DLT_EN10MB:
        if (frame.size() < 14) {
            ++skipped_.cutShort;
            return false;
        }
        etherType = be16(frame, 12);
        at = 14;
        if (etherType == kEtherVlan && frame.size() >= 18) {
            etherType = be16(frame, 16);
            at = 18;
        }
        break;
    case DLT_LINUX_SLL:
        if (frame.size() < 16) {
            ++skipped_.cutShort;
            return false;
        }
        etherType = be16(frame, 14);
        at = 16;
        break;
    case DLT_LINUX_SLL2:
        if (frame.size() < 20) {
            ++skipped_.cutShort;
            return false;
        }
        etherType = be16(frame, 0);
        at = 20;
        break;
    default:
        return false;
    }
    if (etherType == kEtherIpv6) {
        ++skipped_.ipv6;
        return false;
    }
    if (etherType != kEtherIpv4) {
        ++skipped_.otherProtocols;
        return false;
    }
    return decodeIpv4(frame.substr(at), micros, out);
}

bool CaptureReader::decodeIpv4(std::string_view ip, std::int64_t micros, CapturedPacket& out)
{
    if (ip.size() < 20) {
        ++skipped_.cutShort;
        return false;
    }
    const auto first = static_cast<unsigned char>(ip[0]);
    if ((first >> 4) == 6) {
        ++skipped_.ipv6;
        return false;
    }
    const std::size_t headerSize = (first & 0x0F) * 4u;
    const std::size_t total = be16(ip, 2);
    if ((first >> 4) != 4 || headerSize < 20 || total < headerSize) {
        ++skipped_.otherProtocols;
        return false;
    }
    if (ip.size() < total) {
        ++skipped_.cutShort;
        return false;
    }
    // More fragments, or not the first: the datagram is not whole here.
    const std::uint16_t fragment = be16(ip, 6);
    if ((fragment & 0x2000) || (fragment & 0x1FFF)) {
        ++skipped_.fragments;
        return false;
    }
    const auto protocol = static_cast<unsigned char>(ip[9]);
    const std::string_view body = ip.substr(headerSize, total - headerSize);
    out.micros = micros;
    out.from.address = be32(ip, 12);
    out.to.address = be32(ip, 16);
    if (protocol == 17) {
        if (body.size() < 8 || be16(body, 4) < 8 || be16(body, 4) > body.size()) {
            ++skipped_.cutShort;
            return false;
        }
        out.protocol = CapturedPacket::Protocol::Udp;
        out.from.port = be16(body, 0);
        out.to.port = be16(body, 2);
        out.seq = out.ack = 0;
        out.tcpFlags = 0;
        out.payload = body.substr(8, be16(body, 4) - 8u);
        return true;
    }
    if (protocol == 6) {
        if (body.size() < 20) {
            ++skipped_.cutShort;
            return false;
        }
        const std::size_t offset = (static_cast<unsigned char>(body[12]) >> 4) * 4u;
        if (offset < 20 || offset > body.size()) {
            ++skipped_.cutShort;
            return false;
        }
        out.protocol = CapturedPacket::Protocol::Tcp;
        out.from.port = be16(body, 0);
        out.to.port = be16(body, 2);
        out.seq = be32(body, 4);
        out.ack = be32(body, 8);
        out.tcpFlags = static_cast<std::uint8_t>(body[13]);
        out.payload = body.substr(offset);
        return true;
    }
    ++skipped_.otherProtocols;
    return false;
}

} // namespace fieldmon::capture
