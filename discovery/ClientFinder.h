#pragma once
// ClientFinder: the application's one discovery service. It owns the two UDP
// sockets through which the application talks to field devices, runs the
// listen thread that receives every datagram devices send, classifies each by
// its first byte and hands it to the right device record or to the registry,
// and sends the search broadcast that makes devices announce themselves.
//
// The registry part keeps every present record under its serial number, its
// address and its type key, merges repeated announcements, probes silent
// devices with 'F' and removes lost ones, keeps lost records that a screen
// still shows in a graveyard so the same record returns with the device, and
// shows the presence and network alerts (at most one at a time).
//
// Datagrams from senders no device can have (DeviceSources) are ignored, a
// serial number that another host claims while its device still answers
// moves nothing (addClient), and the registry holds at most kMaxRecords.
//
// The listen thread receives, hands each datagram to the main thread through
// MainLoop::postAndWait and waits for it, and on its 0.25 s tick alternates
// the presence check and the search broadcast. The datagram is decoded where
// it lands, replies included. Destroying the finder stops it: pending
// hand-offs are cancelled through a stop token and a running one stops being
// waited for (a handler may be what destroys the finder), the thread is
// joined and both sockets are closed.
//
// The implementation is split by job: ClientFinder.cpp (sockets, listen
// thread, broadcasts), ClientFinderPackets.cpp (parsePacket),
// ClientFinderRegistry.cpp (adding, removing, presence), ClientFinderAlerts.cpp
// (alerts and presence event lines).
//
// Records are always released on the main thread (their destructors cancel
// transfers and timers): the listen thread hands its last references to a
// removed record to the main loop.
//
// Thread rule: construct, destroy and call on the main thread, except
// removeClient() and checkPresence(), which belong to the listen thread, and
// charSendMsg(), which either thread may call. Screens read the registry
// through registrySnapshot() on the main thread while the listen thread
// changes it.

#include "discovery/ClientRegistry.h"
#include "discovery/DeviceSources.h"
#include "discovery/LocalNetwork.h"
#include "platform/Alerts.h"
#include "platform/Services.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace fieldmon {

class Client;

// Test seams of the finder. The application passes nothing and gets the real
// network: broadcasts to 255.255.255.255:10024, listening on 10023.
struct ClientFinderSeams {
    in_addr broadcast{htonl(INADDR_BROADCAST)};
    std::uint16_t listenPort = 10023; // 0 picks a free port (see ClientFinder::listenPort())
    std::uint16_t devicePort = 10024;
    // Called after an unrecoverable start-up failure (the listening port
    // cannot be bound, the sending socket cannot be made) once its message is
    // printed. The default ends the process with exit status 1.
    std::function<void()> fatal;
    std::function<LocalNetwork()> localNetwork; // default: checkLocalNetwork
    // Which senders may be devices (DeviceSources). Tests whose devices sit
    // on 127.0.0.x set sources.loopbackDevices.
    DeviceSourceRules sources;
};

class ClientFinder {
public:
    static constexpr std::uint16_t kListenPort = 10023;
    static constexpr std::uint16_t kDevicePort = 10024;
    static constexpr std::size_t kMaxDatagram = 1023;
    static constexpr double kTickSeconds = 0.25;
    static constexpr double kProbeAfterSeconds = 1.5;
    static constexpr double kLostAfterSeconds = 6.0;
    // A record moves to another address only once a probe of its old one
    // has gone this long without an answer.
    static constexpr double kProbeAnswerSeconds = 0.5;
    // Registered records at most; beyond, the longest silent one makes room.
    static constexpr std::size_t kMaxRecords = 4096;

    using Seams = ClientFinderSeams;

    static constexpr const char* kFoundNewClient = "ListeningFoundNewClient";
    // The listen thread's name as the system shows it (at most 15 bytes).
    static constexpr const char* kListenThreadName = "fm-listen";

    ClientFinder(const platform::Services& services, bool debug, Seams seams = {});
    ~ClientFinder();
    ClientFinder(const ClientFinder&) = delete;
    ClientFinder& operator=(const ClientFinder&) = delete;

    // --- Discovery --------------------------------------------------------------
    // Broadcasts 'H' once and from then on 'h' on every search tick.
    void initiateSearch();
    // One byte to the broadcast destination. 0 on success; -1 at once without
    // a sending socket; -1 after the network alerts when the send fails.
    int charSendMsg(char c);
    // Classifies one received datagram (its bytes exactly) from `from` and
    // dispatches it; replies go to the record's request queues at once. Main
    // thread. A handler it calls may destroy the finder.
    void parsePacket(const sockaddr_in& from, std::string_view datagram);
    // The record registered under this address, or null.
    std::shared_ptr<Client> getClientFromIP(in_addr address);

    bool searching() const { return searching_.load(); }
    bool debug() const { return debug_.load(); }
    void setDebug(bool on) { debug_ = on; }
    int sock() const { return sock_.load(); }
    std::mutex& sendMutex() { return send_mutex; }
    // The bound listening port (the seam's port, or the one the system picked).
    std::uint16_t listenPort() const { return boundListenPort_; }

    // --- Registry ---------------------------------------------------------------
    // Registers a freshly announced record; returns the record that now stands
    // for the device (the new one, or an earlier one of the same serial number
    // updated from it). Main thread.
    //
    // A known serial number announced from another address moves the record
    // there only when the device has really moved: a presence probe of its
    // old address went unanswered for kProbeAnswerSeconds. While the old
    // address still answers, the announcement is another host claiming the
    // serial: it changes nothing and null is returned. The first such claim
    // is printed, written into the record's event log and kept as the
    // record's rivalAddress(), which the detail screen shows.
    //
    // With kMaxRecords registered, a new device first removes the record
    // heard from longest ago (said once per finder).
    std::shared_ptr<Client> addClient(std::shared_ptr<Client> client);
    // Unregisters a record: its LOST event, the graveyard if a screen shows
    // it (Client::shown(), asked after the LOST event, so a screen that
    // closes on that event no longer counts), and all containers. Listen
    // thread (waits for the main thread before taking any lock); on the main
    // thread the event runs inline.
    void removeClient(const std::shared_ptr<Client>& client);
    // One presence tick: 'F' to devices silent for more than 1.5 s, removal of
    // devices silent for more than 6.0 s. Listen thread. Removed records are
    // released on the main thread.
    void checkPresence();

    // The device list's view of the registry, taken under the four registry
    // locks in their order (id, ip, dict, type) and returned as a value, so
    // no screen holds a registry lock. Any thread.
    RegistrySnapshot registrySnapshot();

    // The records, the number of addresses and the graveyard, taken under
    // the registry locks as registrySnapshot() is. Any thread.
    RegistryContents registryContents();

    // --- Presence events and alerts (main thread) -------------------------------
    void lostClientEvent(Client& client);
    void lostClientNotification(const Client& client);
    void foundClientNotification(const Client& client);
    void noNetwork();
    void lostNetwork(const std::string& message);
    // The alert's button was pressed: forgets the alert.
    void alertView(platform::Alerts::AlertId alert, int buttonIndex);

private:
    struct ShownAlert {
        platform::Alerts::AlertId id = 0;
        std::string title;
    };

    bool openListeningSocket();
    void listenForClients(std::stop_token stop);
    void discardSocketErrors();
    // Shows a received datagram to the packet tap, with the destination
    // address the packet carried. Listen thread.
    void tapReceived(const msghdr& msg, std::string_view datagram);
    void tick(bool presence);
    void reportSendFailure(int error);
    // Runs fn on the main thread and waits, unless the finder is stopping.
    bool onMainThreadAndWait(std::function<void()> fn);
    // Runs fn on the main thread later, unless the finder is gone by then.
    void onMainThread(std::function<void()> fn);

    using PresenceEvents = std::vector<std::pair<std::shared_ptr<Client>, const char*>>;
    // addClient's registration with all four locks held: updates `known`,
    // the registered record of the serial number (moving it to the new
    // address), or adds the new one, making room in a full registry
    // (`madeRoom`). Presence events to write go to `events`.
    std::shared_ptr<Client> registerLocked(std::shared_ptr<Client> client, std::shared_ptr<Client> known,
                                           PresenceEvents& events, bool& madeRoom);
    // Removal work with clientid_mutex, clientip_mutex, clientdict_mutex and
    // clienttype_mutex all held. A record that a screen shows goes to the
    // graveyard. The LOST event line is left to the caller.
    void unregisterLocked(const std::shared_ptr<Client>& client);
    void writePresenceEvent(Client& client, const char* event);
    void showAlert(std::string title, std::string message, bool animatedDismiss);

    platform::Services services_;
    Seams seams_;
    std::atomic<bool> debug_;
    std::atomic<bool> searching_{false};

    std::atomic<int> sock_{-1};
    sockaddr_in sa_{};
    std::mutex send_mutex;

    int listenSock_ = -1;
    int wakeFd_ = -1; // eventfd that wakes the listen thread's wait to stop
    std::uint16_t boundListenPort_ = 0;

    ClientRegistry registry_;
    std::optional<ShownAlert> lastAlert_; // main thread only
    DeviceSources sources_;               // main thread only
    bool refusedSourceSaid_ = false;      // main thread only
    bool registryFullSaid_ = false;       // main thread only

    // Tasks posted to the main loop hold a weak reference to this token and
    // do nothing once the finder is gone (checked on the main thread, where
    // the finder is destroyed).
    std::shared_ptr<ClientFinder*> self_;

    std::stop_source stop_;
    std::thread listenThread_;
};

} // namespace fieldmon
