// Fuzzes what reads captures from the field: the input is a capture file
// (pcap, pcapng or anything else) read through CaptureReader, every TCP
// packet of it going through HttpExchanges; or, when the first byte is 0,
// the rest is cut into TCP segments of one connection (flags, direction,
// sequence step, length, payload) for HttpExchanges alone, so that the
// reassembly and the HTTP parsing see hostile streams directly. Nothing may
// read out of bounds, abort, or hold more than its bounds.

#include "capture/CaptureReader.h"
#include "capture/HttpExchanges.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace fieldmon::capture;

namespace {

void segments(const std::uint8_t* data, std::size_t size)
{
    HttpExchanges http;
    std::vector<HttpExchange> done;
    const Endpoint client{0x0A4D0001, 50000}, server{0x0A4D000A, 80};
    std::uint32_t seq[2] = {1000, 9000};
    std::size_t at = 0;
    while (at + 5 <= size) {
        CapturedPacket p;
        p.protocol = CapturedPacket::Protocol::Tcp;
        p.tcpFlags = data[at];
        const int side = data[at + 1] & 1;
        p.from = side ? server : client;
        p.to = side ? client : server;
        seq[side] += static_cast<std::uint32_t>(static_cast<std::int8_t>(data[at + 2])) * 97u;
        p.seq = seq[side];
        const std::size_t length = std::min<std::size_t>(data[at + 3] | (data[at + 4] << 8), size - at - 5);
        p.payload = std::string_view(reinterpret_cast<const char*>(data) + at + 5, length);
        seq[side] += static_cast<std::uint32_t>(length);
        at += 5 + length;
        http.add(p, done);
        if (http.openConnections() > HttpExchanges::kMaxConnections)
            std::abort();
    }
    http.finish(done);
}

void file(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = "/tmp/fieldmon-fuzz-capture-" + std::to_string(::getpid());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::string why;
    auto reader = CaptureReader::open(path, why);
    if (!reader)
        return;
    HttpExchanges http;
    std::vector<HttpExchange> done;
    CapturedPacket p;
    for (int n = 0; n < 10000 && reader->next(p) == CaptureReader::Next::Packet; ++n)
        http.add(p, done);
    http.finish(done);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0 && data[0] == 0)
        segments(data + 1, size - 1);
    else
        file(data, size);
    return 0;
}
