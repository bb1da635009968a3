#pragma once
// CaptureReader: the IPv4 UDP and TCP packets of a capture file, read through
// libpcap, so pcap and pcapng files from the recorder, tcpdump or Wireshark
// all read the same way. Link types: raw IPv4 (ours), raw IP, Ethernet (with
// one VLAN tag), Linux cooked (SLL and SLL2). IPv6, IP fragments, other
// protocols and packets cut short by the snap length are skipped and
// counted. An unknown link type fails open(); a truncated file or a file cut
// inside a block ends reading with an error after its last whole packet.
//
// The file is streamed: one packet in memory at a time. position() and
// seek() let a caller come back to a packet boundary it passed before.
//
// Thread rule: one owner.

#include "capture/Endpoint.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct pcap;

namespace fieldmon::capture {

struct CapturedPacket {
    enum class Protocol { Udp, Tcp };
    std::int64_t micros = 0; // since 1970
    Protocol protocol = Protocol::Udp;
    Endpoint from, to;
    std::uint32_t seq = 0, ack = 0; // TCP only
    std::uint8_t tcpFlags = 0;      // TCP only (FIN 1, SYN 2, RST 4, PSH 8, ACK 16)
    std::string_view payload;       // valid until the next call of next()
};

class CaptureReader {
public:
    enum class Next { Packet, End, Error };

    struct Skipped {
        std::uint64_t ipv6 = 0;
        std::uint64_t fragments = 0;
        std::uint64_t otherProtocols = 0; // not IP, or IP but neither UDP nor TCP
        std::uint64_t cutShort = 0;       // shorter than their headers say
    };

    // Nothing, with `why`, when the file cannot be read as a capture or its
    // link type is not one of ours.
    static std::unique_ptr<CaptureReader> open(const std::string& path, std::string& why);
    ~CaptureReader();
    CaptureReader(const CaptureReader&) = delete;
    CaptureReader& operator=(const CaptureReader&) = delete;

    // The next UDP or TCP packet. Error: the file ends inside a record or is
    // damaged; error() says how, and later calls answer End.
    Next next(CapturedPacket& out);
    const std::string& error() const { return error_; }
    const Skipped& skipped() const { return skipped_; }
    std::uint64_t recordsRead() const { return records_; }
    int linkType() const { return linkType_; }

    // The file offset of the next record, and a return to one.
    std::int64_t position() const;
    bool seek(std::int64_t offset);

private:
    CaptureReader(pcap* handle, int linkType) : pcap_(handle), linkType_(linkType) {}
    bool decode(std::string_view frame, std::int64_t micros, CapturedPacket& out);
    bool decodeIpv4(std::string_view ip, std::int64_t micros, CapturedPacket& out);

    pcap* pcap_ = nullptr;
    int linkType_ = 0;
    std::string error_;
    bool ended_ = false;
    Skipped skipped_;
    std::uint64_t records_ = 0;
};

} // namespace fieldmon::capture
