#include "sim/RecordedDevice.h"

#include "variables/RequestAnswer.h"
#include "variables/RequestItems.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>

namespace fieldmon::sim {

namespace {

std::string dotted(std::uint32_t address)
{
    in_addr a{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

std::uint32_t le32(std::string_view b, std::size_t at)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
    return v;
}

void appendLE32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(v >> (8 * i)));
}

// The third field of an announcement: the device's name.
std::string announcedName(std::string_view d)
{
    std::size_t field = 0, start = 1;
    for (std::size_t i = 1; i <= d.size(); ++i)
        if (i == d.size() || d[i] == ';' || d[i] == '\0') {
            if (field == 2)
                return std::string(d.substr(start, i - start));
            if (i == d.size() || d[i] == '\0')
                break;
            ++field;
            start = i + 1;
        }
    return {};
}

} // namespace

RecordedDevice::RecordedDevice(std::uint32_t address, SimLog& log, std::uint16_t appPort)
    : address_(address), log_(log), appPort_(appPort), name_(dotted(address))
{
}

void RecordedDevice::resetRecording()
{
    announcement_.clear();
    lastEvent_.clear();
    memory_.clear();
    pending_.clear();
    lastSent_ = -1e300;
    ahead_.clear();
    std::lock_guard lock(documentsMutex_);
    documents_.clear();
}

bool RecordedDevice::present(double t) const
{
    return lastSent_ >= t - kPresenceWindow || (!ahead_.empty() && ahead_.front() <= t + kPresenceWindow);
}

void RecordedDevice::recordedRequest(capture::Endpoint app, std::string_view datagram)
{
    if (datagram.size() < 2 || (datagram[0] != 'v' && datagram[0] != 'a'))
        return; // commands and the rest need no pairing
    if (pending_.size() >= kMaxPendingRequests)
        pending_.clear(); // only an app that never got answers gets here
    // A later request with the same id replaces the earlier one, as in the app.
    pending_[{app.address, datagram[0], datagram[1]}] = std::string(datagram);
}

void RecordedDevice::pairReply(capture::Endpoint app, std::string_view reply)
{
    if (reply.size() < 3)
        return;
    const char kind = reply[0] == 'V' ? 'v' : 'a';
    auto it = pending_.find({app.address, kind, reply[1]});
    if (it == pending_.end()) {
        ++unpaired_;
        log("recorded reply " + SimLog::printable(reply.substr(0, 2)) + " answers no recorded request: ignored");
        return;
    }
    const std::string request = std::move(it->second);
    pending_.erase(it);
    const std::string_view payload = reply.substr(2, reply.size() - 3);
    std::string note;
    std::size_t at = 0;
    if (kind == 'v') {
        for (const AddressItem& item : addressItems(request, note)) {
            for (std::uint64_t k = 0; k < item.count / 4; ++k, at += 4) {
                if (at + 4 > payload.size())
                    return;
                memory_.setAddress((item.firstIndex + static_cast<int>(k)) & 0xFF, le32(payload, at));
            }
            at += item.count % 4;
        }
        return;
    }
    for (const ValueItem& item : valueItems(request, note)) {
        if (at + item.count > payload.size())
            return; // a short reply: what it lacks stays unknown
        memory_.write(item.address, payload.substr(at, item.count));
        at += item.count;
    }
}

void RecordedDevice::recordedDatagram(capture::Endpoint app, std::string_view datagram, double t, double now,
                                      bool live, std::vector<Datagram>& out)
{
    lastSent_ = t;
    if (!ahead_.empty())
        ahead_.pop_front();
    switch (datagram[0]) {
    case 'm':
        if (announcement_ != datagram) {
            announcement_ = std::string(datagram);
            const std::string name = announcedName(datagram);
            if (!name.empty() && name != name_) {
                log("is " + name + " (" + SimLog::printable(datagram) + ")");
                name_ = name;
            }
        }
        return;
    case 'V':
    case 'A':
        pairReply(app, datagram);
        return;
    case 'e': {
        // One event that went to several hosts in the recording (a tcpdump
        // of two apps) is one event: it goes to the live hosts once.
        const bool repeat = datagram == lastEvent_ && t - lastEventTime_ < kSameEventSeconds;
        lastEvent_ = std::string(datagram);
        lastEventTime_ = t;
        if (!live || repeat)
            return;
        int sent = 0;
        for (const Host& h : hosts_)
            if (now - h.heard <= kHostMemorySeconds) {
                out.push_back(Datagram{h.address, appPort_, std::string(datagram)});
                ++sent;
            }
        log("recorded event '" + SimLog::printable(datagram.substr(1)) + "'" + (sent ? "" : " (no host to send it to)"));
        return;
    }
    default:
        return;
    }
}

void RecordedDevice::recordedDocument(const capture::HttpExchange& x)
{
    std::string file = x.target;
    if (!file.empty() && file[0] == '/')
        file.erase(0, 1);
    std::lock_guard lock(documentsMutex_);
    documents_[file] = ServedDocument{x.status, x.contentType, x.body};
}

std::optional<ServedDocument> RecordedDevice::document(const std::string& file) const
{
    std::lock_guard lock(documentsMutex_);
    auto it = documents_.find(file);
    if (it == documents_.end())
        return std::nullopt;
    return it->second;
}

void RecordedDevice::rememberHost(in_addr host, double now)
{
    for (Host& h : hosts_)
        if (h.address.s_addr == host.s_addr) {
            h.heard = now;
            return;
        }
    if (hosts_.size() >= kMaxHosts)
        hosts_.erase(std::min_element(hosts_.begin(), hosts_.end(),
                                      [](const Host& a, const Host& b) { return a.heard < b.heard; }));
    hosts_.push_back(Host{host, now});
}

bool RecordedDevice::answerAddresses(std::string_view request, std::string& reply, std::string& why) const
{
    reply = "V";
    reply.push_back(request[1]);
    std::string note;
    for (const AddressItem& item : addressItems(request, note)) {
        if (reply.size() - 2 + item.count > kMaxReplyPayload)
            break;
        for (std::uint64_t k = 0; k < item.count / 4; ++k) {
            const int index = (item.firstIndex + static_cast<int>(k)) & 0xFF;
            const auto a = memory_.addressOf(index);
            if (!a) {
                why = "the address of index " + std::to_string(index) + " was never recorded";
                return false;
            }
            appendLE32(reply, *a);
        }
        reply.append(item.count % 4, '\0');
    }
    reply.push_back('\0');
    return true;
}

bool RecordedDevice::answerValues(std::string_view request, std::string& reply, std::string& why) const
{
    reply = "A";
    reply.push_back(request[1]);
    std::string note;
    for (const ValueItem& item : valueItems(request, note)) {
        if (reply.size() - 2 + item.count > kMaxReplyPayload)
            break;
        if (!memory_.read(item.address, item.count, reply)) {
            char text[64];
            std::snprintf(text, sizeof text, "%u bytes at 0x%08x were never recorded", item.count, item.address);
            why = text;
            return false;
        }
    }
    reply.push_back('\0');
    return true;
}

void RecordedDevice::receive(std::string_view bytes, const sockaddr_in& from, double t, double now,
                             std::vector<Datagram>& out)
{
    const char kind = bytes.empty() ? '\0' : bytes[0];
    log("<- " + dotted(ntohl(from.sin_addr.s_addr)) + ":" + std::to_string(ntohs(from.sin_port)) + " '" +
        SimLog::printable(bytes) + "'");
    rememberHost(from.sin_addr, now);
    if (!present(t)) {
        log("   (silent in the recording: no answer)");
        return;
    }
    auto to = [&](std::string reply) { out.push_back(Datagram{from.sin_addr, appPort_, std::move(reply)}); };
    const bool single = bytes.size() == 1;
    switch (kind) {
    case 'H':
    case 'h':
        if (!single)
            break;
        if (announced())
            to(announcement_);
        else
            log("   no announcement recorded yet");
        return;
    case 'F':
        if (single) {
            to("i");
            return;
        }
        break;
    case 's':
    case 'E':
        if (single)
            return;
        break;
    case 'c':
        log("   command not acted on (replay)");
        return;
    case 'v':
    case 'a': {
        if (bytes.size() < 2)
            break;
        std::string reply, why;
        if (kind == 'v' ? answerAddresses(bytes, reply, why) : answerValues(bytes, reply, why))
            to(std::move(reply));
        else
            log("   not answered: " + why);
        return;
    }
    default:
        break;
    }
    log("   unknown datagram ignored");
}

} // namespace fieldmon::sim
