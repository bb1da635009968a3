#include "capture/HttpExchanges.h"

#include "platform/Ascii.h"

#include <algorithm>

namespace fieldmon::capture {

namespace {

constexpr std::uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kAck = 0x10;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameTextIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// The value of header `name` in a header block (after the first line).
std::string header(std::string_view head, std::string_view name)
{
    std::size_t at = head.find("\r\n");
    while (at != std::string_view::npos && at + 2 < head.size()) {
        const std::size_t start = at + 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string_view line = head.substr(start, end == std::string_view::npos ? head.size() - start : end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && sameTextIgnoringCase(line.substr(0, colon), name)) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
                value.remove_prefix(1);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
                value.remove_suffix(1);
            return std::string(value);
        }
        at = end;
    }
    return {};
}

bool parseLength(const std::string& text, std::size_t& out)
{
    if (text.empty() || text.size() > 12)
        return false;
    out = 0;
    for (char c : text) {
        if (!ascii::isDigit(c))
            return false;
        out = out * 10 + static_cast<std::size_t>(c - '0');
    }
    return true;
}

bool looksLikeRequest(std::string_view data)
{
    // A method token of capitals, a blank, and HTTP/ on the first line.
    std::size_t i = 0;
    while (i < data.size() && i < 16 && data[i] >= 'A' && data[i] <= 'Z')
        ++i;
    if (i == 0 || i >= data.size())
        return i == data.size() && i > 0; // too little to tell yet: keep waiting
    if (data[i] != ' ')
        return false;
    const std::size_t lineEnd = data.find("\r\n");
    return lineEnd == std::string_view::npos || data.substr(0, lineEnd).find(" HTTP/") != std::string_view::npos;
}

// Decodes a chunked body starting at `at`. Returns the offset after the
// whole body (trailers included), or npos while it is incomplete; false in
// `ok` when it is malformed.
std::size_t chunkedEnd(std::string_view data, std::size_t at, std::string& body, bool& ok)
{
    ok = true;
    body.clear();
    for (;;) {
        const std::size_t lineEnd = data.find("\r\n", at);
        if (lineEnd == std::string_view::npos)
            return std::string_view::npos;
        std::size_t size = 0;
        std::size_t digits = 0;
        for (std::size_t i = at; i < lineEnd && ascii::hexValue(data[i]) >= 0 && digits < 8; ++i, ++digits)
            size = size * 16 + static_cast<std::size_t>(ascii::hexValue(data[i]));
        if (digits == 0) {
            ok = false;
            return std::string_view::npos;
        }
        at = lineEnd + 2;
        if (size == 0) {
            // Trailers, then an empty line.
            for (;;) {
                const std::size_t end = data.find("\r\n", at);
                if (end == std::string_view::npos)
                    return std::string_view::npos;
                if (end == at)
                    return end + 2;
                at = end + 2;
            }
        }
        if (data.size() < at + size + 2)
            return std::string_view::npos;
        body.append(data.substr(at, size));
        at += size + 2;
    }
}

} // namespace

void HttpExchanges::Stream::take(std::uint32_t seq, std::string_view payload, bool syn, bool fin)
{
    if (broken)
        return;
    if (syn) {
        started = true;
        next = seq + 1;
        return;
    }
    if (!started) {
        // Joined mid-connection: take the first byte seen as the start.
        if (payload.empty())
            return;
        started = true;
        next = seq;
    }
    auto place = [&](std::uint32_t s, std::string_view bytes) {
        // Sequence arithmetic is modulo 2^32: the distance decides.
        const auto ahead = static_cast<std::int32_t>(s - next);
        if (ahead > 0) {
            if (early.size() >= kMaxEarlySegments) {
                broken = true;
                return;
            }
            auto& slot = early[s];
            if (slot.size() < bytes.size())
                slot = std::string(bytes);
            return;
        }
        const auto old = static_cast<std::size_t>(-static_cast<std::int64_t>(ahead));
        if (old >= bytes.size())
            return; // a retransmission of what we have
        bytes.remove_prefix(old);
        if (data.size() + bytes.size() > kMaxStream) {
            broken = true;
            return;
        }
        data.append(bytes);
        next += static_cast<std::uint32_t>(bytes.size());
    };
    if (!payload.empty())
        place(seq, payload);
    // Segments that came early and now fit.
    for (auto it = early.begin(); it != early.end() && !broken;) {
        const auto ahead = static_cast<std::int32_t>(it->first - next);
        if (ahead > 0) {
            ++it;
            continue;
        }
        const std::string bytes = std::move(it->second);
        const std::uint32_t s = it->first;
        it = early.erase(it);
        place(s, bytes);
        it = early.begin();
    }
    if (fin && static_cast<std::int32_t>(seq + static_cast<std::uint32_t>(payload.size()) - next) <= 0)
        closed = true;
}

void HttpExchanges::parseRequests(Connection& c, std::int64_t micros)
{
    std::string& d = c.toServer.data;
    while (!d.empty()) {
        if (!looksLikeRequest(d)) {
            c.notHttp = true;
            d.clear();
            return;
        }
        const std::size_t headEnd = d.find("\r\n\r\n");
        if (headEnd == std::string::npos)
            return;
        const std::string_view head(d.data(), headEnd + 2);
        std::size_t length = 0;
        parseLength(header(head, "Content-Length"), length);
        const std::size_t total = headEnd + 4 + length;
        if (d.size() < total)
            return;
        HttpExchange x;
        x.client = c.client;
        x.server = c.server;
        x.requestMicros = micros;
        const std::string_view line = head.substr(0, head.find("\r\n"));
        const std::size_t sp1 = line.find(' ');
        const std::size_t sp2 = line.find(' ', sp1 + 1);
        x.method = std::string(line.substr(0, sp1));
        x.target = std::string(line.substr(sp1 + 1, sp2 == std::string_view::npos ? std::string_view::npos : sp2 - sp1 - 1));
        x.request = d.substr(0, total);
        c.requests.push_back(std::move(x));
        d.erase(0, total);
    }
}

void HttpExchanges::parseResponses(Connection& c, std::int64_t micros, bool atClose, std::vector<HttpExchange>& done)
{
    std::string& d = c.toClient.data;
    while (!d.empty() && !c.requests.empty()) {
        const std::string_view version = "HTTP/";
        const std::size_t n = std::min(d.size(), version.size());
        if (std::string_view(d).substr(0, n) != version.substr(0, n)) {
            c.notHttp = true;
            d.clear();
            return;
        }
        const std::size_t headEnd = d.find("\r\n\r\n");
        if (headEnd == std::string::npos)
            return;
        const std::string_view head(d.data(), headEnd + 2);
        const std::size_t sp = head.find(' ');
        int status = 0;
        for (std::size_t i = sp + 1; sp != std::string_view::npos && i < head.size() && ascii::isDigit(head[i]) && i < sp + 4; ++i)
            status = status * 10 + (head[i] - '0');
        HttpExchange& x = c.requests.front();
        const std::size_t bodyStart = headEnd + 4;
        std::size_t total = std::string::npos;
        std::string body;
        std::size_t length = 0;
        if (x.method == "HEAD" || (status >= 100 && status < 200) || status == 204 || status == 304) {
            total = bodyStart;
        } else if (sameTextIgnoringCase(header(head, "Transfer-Encoding"), "chunked")) {
            bool ok = true;
            total = chunkedEnd(d, bodyStart, body, ok);
            if (!ok) {
                c.notHttp = true;
                d.clear();
                return;
            }
        } else if (parseLength(header(head, "Content-Length"), length)) {
            if (d.size() >= bodyStart + length) {
                total = bodyStart + length;
                body = d.substr(bodyStart, length);
            }
        } else if (atClose) {
            total = d.size();
            body = d.substr(bodyStart);
        }
        if (total == std::string::npos)
            return;
        if (status >= 100 && status < 200) { // an interim answer: the real one follows
            d.erase(0, total);
            continue;
        }
        x.status = status;
        x.contentType = header(head, "Content-Type");
        x.response = d.substr(0, total);
        x.body = std::move(body);
        x.responseMicros = micros;
        done.push_back(std::move(x));
        c.requests.erase(c.requests.begin());
        d.erase(0, total);
    }
}

void HttpExchanges::add(const CapturedPacket& p, std::vector<HttpExchange>& done)
{
    if (p.protocol != CapturedPacket::Protocol::Tcp)
        return;
    const std::uint64_t a = pack(p.from), b = pack(p.to);
    const Key key = a < b ? Key{a, b} : Key{b, a};
    auto it = connections_.find(key);
    if (it == connections_.end()) {
        // Only a SYN or data opens a connection: a stray ACK or FIN does not.
        const bool syn = (p.tcpFlags & kSyn) && !(p.tcpFlags & kAck);
        if (!syn && p.payload.empty())
            return;
        if (connections_.size() >= kMaxConnections) {
            auto oldest = std::min_element(connections_.begin(), connections_.end(), [](const auto& x, const auto& y) {
                return x.second.lastUsed < y.second.lastUsed;
            });
            connections_.erase(oldest);
        }
        it = connections_.emplace(key, Connection{}).first;
        Connection& c = it->second;
        if (syn) {
            c.client = p.from;
            c.server = p.to;
            c.sidesKnown = true;
        }
    }
    Connection& c = it->second;
    c.lastUsed = ++clock_;
    if (p.tcpFlags & kRst) {
        connections_.erase(it);
        return;
    }
    if (!c.sidesKnown) {
        // Joined without the handshake: the side that speaks HTTP first is the client.
        if (p.payload.empty())
            return;
        const bool request = looksLikeRequest(p.payload);
        c.client = request ? p.from : p.to;
        c.server = request ? p.to : p.from;
        c.sidesKnown = true;
    }
    const bool toServer = p.from == c.client;
    Stream& s = toServer ? c.toServer : c.toClient;
    const bool syn = (p.tcpFlags & kSyn) != 0;
    s.take(p.seq, p.payload, syn, (p.tcpFlags & kFin) != 0);
    if (c.notHttp || c.toServer.broken || c.toClient.broken) {
        connections_.erase(it);
        return;
    }
    parseRequests(c, p.micros);
    parseResponses(c, p.micros, c.toClient.closed, done);
    if (c.notHttp || (c.toServer.closed && c.toClient.closed))
        connections_.erase(it);
}

void HttpExchanges::finish(std::vector<HttpExchange>& done)
{
    for (auto& [key, c] : connections_)
        if (!c.notHttp)
            parseResponses(c, c.requests.empty() ? 0 : c.requests.front().requestMicros, true, done);
    connections_.clear();
}

} // namespace fieldmon::capture
