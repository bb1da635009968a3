#pragma once
// Client: the application's record of one field device: the identity
// announced by discovery, the command channel (UDP datagrams to the device's
// address, port 10024, through the finder's shared socket and send lock), the
// service flag, the event log and the per-device notification names. Its
// other parts are reached through typed accessors: variables and requests,
// the update scheduler, thumbwheel definitions, file transfers, expressions.
// Records are shared: the registry, its graveyard, screens and scheduled
// bindings hold the same record, which lives while any holds it. Whether a
// screen shows the record is said by its leases (shown()), never by how many
// hold it.
//
// Thread rule: main thread, except that the listen thread may call sendChar()
// (presence probe) and use serialNumber() and presence(); those three are
// safe from any thread. Sends are serialised by the shared send lock.

#include "device/FileTransfers.h"
#include "device/LinkHealth.h"
#include "device/PresenceClock.h"
#include "device/RequestId.h"
#include "device/ShownLease.h"
#include "device/Thumbwheels.h"
#include "device/UpdateScheduler.h"
#include "expr/DeviceLink.h"
#include "expr/Expressions.h"
#include "platform/Services.h"
#include "variables/VariableStore.h"

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace fieldmon {

// The expression language's device: expressions compiled for it reach its
// variables, requests and global environment through expr::DeviceLink.
class Client final : public expr::DeviceLink, public std::enable_shared_from_this<Client> {
public:
    static constexpr std::uint16_t kDevicePort = 10024;
    static constexpr std::size_t kMaxEventLines = 100;
    static constexpr std::size_t kMaxCommandBytes = 5999;

    // A record with no channel (socket -1) and serial number 0 (what a device
    // whose announcement carried no serial number is, for the registry).
    static std::shared_ptr<Client> create(bool debug, const platform::Services& services);
    ~Client();

    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // --- Identity ------------------------------------------------------------
    const std::string& name() const { return name_; }
    const std::string& platform() const { return platform_; }
    const std::string& type() const { return type_; }
    std::int32_t serialNumber() const { return serialNumber_.load(); }
    std::int32_t version() const { return version_; }
    bool service() const { return service_; }
    using DeviceLink::debug;
    void setName(std::string v) { name_ = std::move(v); }
    void setPlatform(std::string v) { platform_ = std::move(v); }
    void setType(std::string v) { type_ = std::move(v); }
    void setVersion(std::int32_t v) { version_ = v; }
    using DeviceLink::setDebug;
    // Also derives the notification names "fileFrom%d" and "eventFrom%d".
    void setSerialNumber(std::int32_t serial);
    // Sets the flag and the `service` variable of the device's expressions.
    void setService(bool on);
    // When the device was last heard and since when a probe waits. Any thread.
    PresenceClock& presence() { return presence_; }
    const PresenceClock& presence() const { return presence_; }
    // A datagram of the device arrived at t: the presence clock notes it (link health reads it there). Main thread.
    void heard(double t);
    // Another host that announced this device's serial number while the
    // device still answered at its own address (empty: none). Main thread.
    const std::string& rivalAddress() const { return rivalAddress_; }
    void setRivalAddress(std::string address) { rivalAddress_ = std::move(address); }
    // Command destination: `address` on `port` (the device port unless a test
    // points the record elsewhere). Also sets dictionaryIPString().
    void setAddress(in_addr address, std::uint16_t port = kDevicePort);
    in_addr address() const;
    sockaddr_in socketAddress() const;
    const std::string& dictionaryIPString() const { return dictionaryIPString_; }
    const std::string& fileNotificationIDString() const { return fileNotificationName_; }
    const std::string& eventNotificationIDString() const { return eventNotificationName_; }
    // Copies platform, type, name, version, service, address, send lock,
    // socket and last-heard time from `other`, in that order. Not the serial
    // number, the event log or the thumbwheel definitions.
    void copyValues(const Client& other);

    // --- Shown on a screen --------------------------------------------------------
    // Whether any screen holds a lease on this record (see ShownLease). Any thread.
    using ShownLease = fieldmon::ShownLease;
    bool shown() const { return shownLeases_.load() > 0; }

    // --- Command channel -------------------------------------------------------
    // Attaches the finder's sending socket and its send lock (neither owned).
    void setSocket(int socket, std::mutex* sendMutex);
    // One byte to the device. 0 on success; -1 silently without a channel;
    // -1 with "Error sending packet: %s\n" when the send fails.
    int sendChar(char c);
    // The text's bytes, cut to the first 5999, as one datagram; results as sendChar.
    int sendString(std::string_view text);
    // "cservice 1\r\n" or "cservice 0\r\n". The service flag is left alone: it
    // follows the device's own reports.
    int setServiceMode(bool on);

    // --- Events ----------------------------------------------------------------
    // Prints "%d: %s\n", switches service mode on the stamped service events,
    // logs the line (at most 100 kept), counts it and posts eventString with
    // the event text (the line without its stamp).
    void broadcastEvent(std::string_view line);
    const std::deque<std::string>& eventLog() const { return eventLog_; }
    std::int32_t eventNumber() const { return eventNumber_; }

    // --- Services and parts ----------------------------------------------------
    platform::MainLoop& loop() const { return services_.loop; }
    platform::NotificationCenter& notifications() const { return services_.notifications; }
    platform::Alerts& alerts() const { return services_.alerts; }
    VariableStore& variables() { return variables_; }
    const VariableStore& variables() const { return variables_; }
    // Dropping every binding (unscheduleAll) breaks the cycle record ->
    // binding -> widget/expression -> record; see ClientUpdate.
    UpdateScheduler& scheduler() { return scheduler_; }
    Thumbwheels& thumbwheels() { return thumbwheels_; }
    const Thumbwheels& thumbwheels() const { return thumbwheels_; }
    FileTransfers& files() { return files_; }
    const FileTransfers& files() const { return files_; }
    expr::Expressions& expressions() { return *expressions_; }
    const expr::Expressions& expressions() const { return *expressions_; }
    // Round trips and losses of value and address requests, and the silence
    // since the last datagram (fed by the reply path and the finder). Main thread.
    const LinkHealth& linkHealth() const { return linkHealth_; }

private:
    Client(bool debug, const platform::Services& services);

    // expr::DeviceLink, for the expressions compiled for this record.
    const std::shared_ptr<expr::Scope>& environment() const override;
    std::shared_ptr<RemoteData> variableNamed(const std::string& name) const override;
    void queueRequest(RemoteDataRequest request) override;
    void addRequester(std::shared_ptr<Requester> requester) override;
    bool submitRequests() override;
    int sendBytes(const void* data, std::size_t size);

    friend class fieldmon::ShownLease;
    std::atomic<int> shownLeases_{0};

    platform::Services services_;
    std::string name_;
    std::string platform_;
    std::string type_;
    std::atomic<std::int32_t> serialNumber_{0};
    std::int32_t version_ = 0;
    PresenceClock presence_;
    std::string rivalAddress_;
    bool service_ = false;
    std::atomic<std::mutex*> sendMutex_{nullptr};
    std::atomic<int> socket_{-1};
    // The destination is read by the listen thread (probe) while the main
    // thread may move the device to a new address.
    mutable std::mutex destinationMutex_;
    sockaddr_in destination_{};
    std::string dictionaryIPString_;
    std::string fileNotificationName_;
    std::string eventNotificationName_;
    // Request identifiers 'b'..'|','a'..'|',..., this record's own.
    RequestIdCounter requestIds_;
    std::deque<std::string> eventLog_;
    std::int32_t eventNumber_ = 0;
    Thumbwheels thumbwheels_;
    LinkHealth linkHealth_{presence_};
    VariableStore variables_;
    // Running transfers are cancelled with the record.
    FileTransfers files_;
    std::unique_ptr<expr::Expressions> expressions_ = std::make_unique<expr::Expressions>();
    // Last: its bindings go first, while expressions and variables exist.
    UpdateScheduler scheduler_;
};

} // namespace fieldmon
