#pragma once
// HttpExchanges: the HTTP requests and responses carried by the TCP packets of
// a capture, reassembled per connection (retransmissions and segments out of
// order are put right; a gap that never fills ends that connection). Each
// request is paired with the response that follows it on its connection, so
// keep-alive connections with several transfers come out as several
// exchanges. Bodies are delimited by Content-Length, chunked encoding or the
// server's close.
//
// Memory is bounded: at most kMaxConnections open connections (the oldest
// give way) and kMaxStream bytes waiting per direction.
//
// Thread rule: one owner.

#include "capture/CaptureReader.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fieldmon::capture {

struct HttpExchange {
    Endpoint client, server;
    std::int64_t requestMicros = 0;
    std::int64_t responseMicros = 0; // when the response's last byte came
    std::string method;              // "GET"
    std::string target;              // "/ui.xml"
    int status = 0;                  // 200
    std::string contentType;         // the response's Content-Type, if any
    std::string request;             // the whole request as sent
    std::string response;            // the whole response as sent
    std::string body;                // the response's body, chunks joined
};

class HttpExchanges {
public:
    static constexpr std::size_t kMaxConnections = 256;
    static constexpr std::size_t kMaxStream = std::size_t{32} << 20;
    static constexpr std::size_t kMaxEarlySegments = 256;

    // Takes one TCP packet (others are ignored); appends the exchanges it
    // completes to `done`.
    void add(const CapturedPacket& packet, std::vector<HttpExchange>& done);
    // The capture ended: responses that run to the close end here.
    void finish(std::vector<HttpExchange>& done);

    std::size_t openConnections() const { return connections_.size(); }

private:
    struct Stream {
        bool started = false;
        bool broken = false;
        bool closed = false;
        std::uint32_t next = 0;                    // sequence number of the next byte
        std::string data;                          // in order, not yet parsed
        std::map<std::uint32_t, std::string> early; // segments ahead of `next`
        void take(std::uint32_t seq, std::string_view payload, bool syn, bool fin);
    };
    struct Connection {
        Endpoint client, server;
        bool sidesKnown = false;
        bool notHttp = false;
        Stream toServer, toClient;
        std::vector<HttpExchange> requests; // sent, not yet answered
        std::uint64_t lastUsed = 0;
    };
    using Key = std::pair<std::uint64_t, std::uint64_t>;

    static std::uint64_t pack(Endpoint e) { return std::uint64_t{e.address} << 16 | e.port; }
    void parseRequests(Connection& c, std::int64_t micros);
    void parseResponses(Connection& c, std::int64_t micros, bool atClose, std::vector<HttpExchange>& done);

    std::map<Key, Connection> connections_;
    std::uint64_t clock_ = 0;
};

} // namespace fieldmon::capture
