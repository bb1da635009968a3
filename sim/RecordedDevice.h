#pragma once
// RecordedDevice: one device of a capture, played back from its own address.
//
// What the recording shows is applied in recorded time: its announcement,
// its recorded requests paired with their replies by the asking host and
// request id (so that each reply's bytes land on the addresses and variable
// indexes that were asked for), and its documents. What the app asks live is
// answered from that state as of the replay's recorded time:
//
//   "H", "h"   the latest recorded announcement
//   "F"        "i"
//   "v…"       the recorded addresses of the indexes asked for
//   "a…"       the last recorded bytes at the addresses asked for
//   "c…", "s", "E" and anything else: logged, never acted on
//
// A request that touches an index or a byte no recorded reply covered gets no
// answer, as in the recording. While the recording shows the device silent
// (nothing sent within kPresenceWindow seconds either side), it answers
// nothing at all. Recorded events go out at their times to the hosts heard
// from lately.
//
// Thread rule: the replay loop's thread, except document(), which the HTTP
// server's threads call (documents are guarded by their own mutex).

#include "capture/HttpExchanges.h"
#include "sim/Datagram.h"
#include "sim/DeviceHttp.h"
#include "sim/RecordedMemory.h"
#include "sim/SimLog.h"

#include <deque>
#include <map>
#include <optional>
#include <tuple>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon::sim {

class RecordedDevice {
public:
    static constexpr double kPresenceWindow = 1.0;
    static constexpr double kHostMemorySeconds = 120;
    static constexpr std::size_t kMaxHosts = 8;
    static constexpr std::size_t kMaxPendingRequests = 1024;
    static constexpr double kSameEventSeconds = 0.05;

    RecordedDevice(std::uint32_t address, SimLog& log, std::uint16_t appPort);

    // --- the recording, in recorded time (seconds since 1970) ---
    // A datagram the device will send at `t`, read ahead of time.
    void sendsAt(double t) { ahead_.push_back(t); }
    // A request or command the recorded app sent the device.
    void recordedRequest(capture::Endpoint app, std::string_view datagram);
    // A datagram the device sent at `t`; when `live`, events go to `out`
    // for the hosts heard from lately (`now` is the loop's clock).
    void recordedDatagram(capture::Endpoint app, std::string_view datagram, double t, double now, bool live,
                          std::vector<Datagram>& out);
    void recordedDocument(const capture::HttpExchange& exchange);

    // --- the live app ---
    void receive(std::string_view bytes, const sockaddr_in& from, double t, double now, std::vector<Datagram>& out);
    std::optional<ServedDocument> document(const std::string& file) const;

    // Forgets the recording (a loop starts again); live hosts are kept.
    void resetRecording();

    bool present(double t) const;
    // Found: the device has sent something (only then is it played).
    bool found() const { return found_; }
    void setFound() { found_ = true; }
    bool announced() const { return !announcement_.empty(); }
    std::uint32_t address() const { return address_; }
    const std::string& name() const { return name_; }
    const RecordedMemory& memory() const { return memory_; }
    std::uint64_t unpairedReplies() const { return unpaired_; }

private:
    struct Pending {
        char kind = 0; // 'v' or 'a'
        std::string datagram;
    };
    void pairReply(capture::Endpoint app, std::string_view reply);
    void rememberHost(in_addr host, double now);
    bool answerAddresses(std::string_view request, std::string& reply, std::string& why) const;
    bool answerValues(std::string_view request, std::string& reply, std::string& why) const;
    void log(const std::string& text) const { log_.line(name_, text); }

    std::uint32_t address_;
    bool found_ = false;
    SimLog& log_;
    std::uint16_t appPort_;
    std::string name_;
    std::string announcement_;
    std::string lastEvent_;
    double lastEventTime_ = 0;
    RecordedMemory memory_;
    // Recorded requests waiting for their reply: (host, kind, id).
    std::map<std::tuple<std::uint32_t, char, char>, std::string> pending_;
    std::uint64_t unpaired_ = 0;
    double lastSent_ = -1e300;
    std::deque<double> ahead_;
    struct Host {
        in_addr address{};
        double heard = 0;
    };
    std::vector<Host> hosts_;
    mutable std::mutex documentsMutex_;
    std::map<std::string, ServedDocument> documents_;
};

} // namespace fieldmon::sim
