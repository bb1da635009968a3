#pragma once
// Client: the application's record of one field device and of the link with
// it. It carries the identity announced by discovery, the command channel
// (UDP datagrams to the device's address, port 10024, through the finder's
// shared socket and send lock), the service-mode flag, the event log and the
// per-device notification names. Later parts of the device link hang off the
// same record (variable store and requests, expressions, file transfer, update
// scheduler) so that the rest of the program talks to one facade per device.
//
// Records are shared (std::shared_ptr): the registry, its graveyard, screens
// and scheduled bindings hold the same record, which lives while any holds it.
// Whether a screen shows the record is said by its leases (shown()), never
// by how many hold it.
//
// Thread rule: main thread, except that the listen thread may call sendChar()
// (presence probe) and read serialNumber() and lastHeardTime(); those three
// are safe from any thread. Sends are serialised by the shared send lock.

#include "device/FileTransfers.h"
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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon {

namespace expr {
class Node;
class Scope;
class Schedulable;
} // namespace expr

// The record is the expression language's device: expressions compiled for
// it reach its variables, requests and global environment through
// expr::DeviceLink.
class Client final : public expr::DeviceLink, public std::enable_shared_from_this<Client> {
public:
    static constexpr std::uint16_t kDevicePort = 10024;
    static constexpr std::size_t kMaxEventLines = 100;
    static constexpr std::size_t kMaxCommandBytes = 5999;

    // A record with no channel (socket -1) and serial number 0. The
    // notification names start as those of serial number 0: a device whose
    // announcement carried no serial-number field is, for the registry, the
    // device with serial number 0, so its events and files are announced
    // under that device's names.
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
    // Also derives fileString ("fileFrom%d") and eventString ("eventFrom%d").
    void setSerialNumber(std::int32_t serial);
    // Sets the flag and the `service` variable of the device's expressions.
    void setService(bool on);

    // When the last datagram from the device arrived, on the main loop's
    // clock; nullopt for a record that has heard nothing yet.
    std::optional<double> lastHeardTime() const;
    void setLastHeardTime(double t);
    // The presence probe: the finder notes when it sends one. A probe
    // counts as unanswered while nothing has been heard since it went; the
    // time of the first such probe is kept (later probes do not push it
    // back). Any thread.
    void noteProbe(double t);
    std::optional<double> unansweredProbeSince() const;

    // The address of another host that announced this device's serial
    // number while the device still answered at its own (empty: none). The
    // registry sets it and clears it when the device moves. Main thread.
    const std::string& rivalAddress() const { return rivalAddress_; }
    void setRivalAddress(std::string address) { rivalAddress_ = std::move(address); }
    double timeOfStart() const { return timeOfStart_; }

    // Command destination: `address` on `port` (the device port unless a test
    // points the record elsewhere). Also sets dictionaryIPString().
    void setAddress(in_addr address, std::uint16_t port = kDevicePort);
    in_addr address() const;
    sockaddr_in socketAddress() const;
    const std::string& dictionaryIPString() const { return dictipstring_; }

    const std::string& fileNotificationIDString() const { return fileString_; }
    const std::string& eventNotificationIDString() const { return eventString_; }

    // Copies platform, type, name, version, service, address, send lock,
    // socket and lastHeardTime from `other`, in that order. Not the serial
    // number, the event log or the thumbwheel definitions.
    void copyValues(const Client& other);

    // --- Shown on a screen --------------------------------------------------------
    // Whether any screen holds a lease on this record (see ShownLease). Any thread.
    using ShownLease = fieldmon::ShownLease;
    bool shown() const { return shownLeases_.load() > 0; }

    // --- Command channel -------------------------------------------------------
    // Attaches the finder's sending socket and its send lock (neither owned).
    void setSocket(int socket, std::mutex* sendMutex);
    int socket() const { return socket_.load(); }
    std::mutex* sendMutex() const { return send_mutex_.load(); }

    // One byte to the device. 0 on success; -1 silently without a channel;
    // -1 with "Error sending packet: %s\n" when the send fails.
    int sendChar(char c);
    // The text's bytes, cut to the first 5999, as one datagram; results as sendChar.
    int sendString(std::string_view text);
    // "cservice 1\r\n" or "cservice 0\r\n". The service flag is left alone: it
    // follows the device's own reports.
    int setServiceMode(bool on);

    // Request identifiers 'b'..'|','a'..'|',..., this record's own.
    char getUniqueIdentifier();

    // --- Events ----------------------------------------------------------------
    // Prints "%d: %s\n", switches service mode on the stamped service events,
    // logs the line (at most 100 kept), counts it and posts eventString with
    // the event text (the line without its stamp).
    void broadcastEvent(std::string_view line);
    const std::deque<std::string>& eventLog() const { return eventLog_; }
    std::int32_t eventNumber() const { return eventNumber_; }
    void setEventNumber(std::int32_t n) { eventNumber_ = n; }

    // --- Thumbwheel definitions (this device's own) ---------------------------------
    // The reader calls startThumbwheelDefinitions() when it starts reading the
    // device's document: the definitions of an earlier reading are dropped
    // and numbering starts at 0 again. At each "thumb_def" it calls
    // initthumbArray(), setNumthumb(numthumb() + 1) and addthumbWheel({});
    // "wheel" and "entry" go to setwheelName(..., numthumb() - 1).
    void startThumbwheelDefinitions() { thumbwheels_.restart(); }
    // A fresh list of wheel descriptions while numthumb() is 0.
    void initthumbArray() { thumbwheels_.initDescriptions(); }
    void addthumbWheel(ThumbwheelDescription description) { thumbwheels_.addDescription(description); }
    int numthumb() const { return thumbwheels_.count(); }
    void setNumthumb(int n) { thumbwheels_.setCount(n); }
    // A column named `name`, a row shown as `disp`, the row's `command`
    // for definition `wheel`: an empty text is skipped, an absent one (nullopt)
    // applies with no text; see Thumbwheels.
    void setwheelName(std::optional<std::string_view> name, std::optional<std::string_view> disp,
                      std::optional<std::string_view> command, int wheel)
    {
        thumbwheels_.define(name, disp, command, wheel);
    }
    int getthumbwheelCols(int wheel) const { return thumbwheels_.columns(wheel); }
    int getthumbwheelRows(int col, int wheel) const { return thumbwheels_.rows(col, wheel); }
    std::string getthumbwheeldisprow(int row, int col, int wheel) const { return thumbwheels_.display(row, col, wheel); }
    std::string getthumbwheelcommandrow(int row, int col, int wheel) const
    {
        return thumbwheels_.command(row, col, wheel);
    }

    // --- Services ----------------------------------------------------------------
    platform::MainLoop& loop() const { return services_.loop; }
    platform::NotificationCenter& notifications() const { return services_.notifications; }
    platform::Alerts& alerts() const { return services_.alerts; }

    // --- Remote variables: declarations, values and requests ----------------------
    // The device's variable store; the operations below forward to it.
    VariableStore& variables() { return variables_; }
    const VariableStore& variables() const { return variables_; }
    VariableStore::Table& varDict() { return variables_.varDict(); }
    VariableStore::Table& globalDataTypes() { return variables_.globalDataTypes(); }

    // Declarations from the device's UI description: variables go to varDict
    // (marked base), type definitions to globalDataTypes. Pieces may come in
    // several calls as long as no statement is split.
    void parseVariableDeclaration(std::string_view text);
    std::vector<std::shared_ptr<RemoteData>> parseVariableDeclarationArray(std::string_view text);
    static std::vector<std::string> splitVariables(std::string_view text);
    std::shared_ptr<RemoteData> createVar(std::string name, std::string type, std::int32_t index);
    void initDataType(const std::string& name, std::string_view body);
    void initEnumType(const std::string& name, std::string_view body);
    void printRemoteData() const;

    // Request queues: expressions file address requests on addressQueue, value
    // requests on valueQueue (queueRequest picks by isBase) and add themselves
    // to waitingRequesters; submitRequests sends one datagram.
    using RequestList = RequestQueues::RequestList;
    RequestList& addressQueue() { return variables_.requests().addressQueue(); }
    RequestList& valueQueue() { return variables_.requests().valueQueue(); }
    std::vector<std::shared_ptr<Requester>>& waitingRequesters()
    {
        return variables_.requests().waitingRequesters();
    }
    void queueRequest(RemoteDataRequest request) override;
    bool submitRequests() override;

    // "V" and "A" replies, the whole datagram (kind byte first, closing byte
    // last), from the discovery hand-off on the main thread. Each keeps a copy
    // and handles it in a later pass of the main loop (handleAddressReply,
    // handleValueReply), after the hand-off has returned.
    void onAddressReply(std::string_view datagram);
    void onValueReply(std::string_view datagram);
    void handleAddressReply(std::string_view datagram);
    void handleValueReply(std::string_view datagram);
    void storeVars(const RequestList& list, const std::uint8_t* payload, std::size_t length);
    const RequestList* findSentAddressRequests(char id) const;
    const RequestList* findSentValueRequests(char id) const;
    void forgetSentRequests(char id);
    static std::string requestKey(char id) { return RequestQueues::requestKey(id); }
    RequestQueues::SentRequestTable& sentAddressRequests() { return variables_.requests().sentAddressRequests(); }
    RequestQueues::SentRequestTable& sentValueRequests() { return variables_.requests().sentValueRequests(); }
    // Drops queued and sent requests (and the expressions they hold).
    void clearRequests();

    // --- Expressions: global environment and predefined variables ----------------
    // Compiles an expression text for this device: always a node, the error
    // node for malformed text (after its message). Main thread only.
    std::shared_ptr<expr::Node> compileString(std::string_view text);
    // A function call's argument text cut at its top-level commas.
    static std::vector<std::string> splitArguments(std::string_view text);
    // The scope of the predefined variables, parent of every other scope.
    const std::shared_ptr<expr::Scope>& environment() const override;
    // `touchx`, `touchy` (0.5 at first) and `time` (seconds since timeOfStart,
    // set by the update scheduler). `service` follows setService().
    void setTouchX(double x);
    void setTouchY(double y);
    void setVarTime(double seconds);
    double touchX() const;
    double touchY() const;
    double varTime() const;

    // --- File transfer -------------------------------------------------------------
    // GETs "http://%s/%@" (address, name unchanged). The result goes to
    // `done`: the body, or null when the transfer fails, times out (10 s for
    // the whole transfer), grows past 16 MiB or cannot be started (then at
    // once, inside this call). Then fileNotificationIDString() + name is
    // posted with the same result, for observers only: that name can be
    // another device's (see FileTransfers). Dropping the handle cancels the
    // transfer. At most FileTransfers::kMaxRunning run at once per device.
    [[nodiscard]] FileTransfers::Handle requestFile(const std::string& name, FileTransfers::Completion done);
    // The same with observers alone hearing of the result.
    void requestFile(const std::string& name);
    std::size_t runningFileTransfers() const { return files_.runningCount(); }
    std::size_t waitingFileTransfers() const { return files_.waitingCount(); }

    // --- Update scheduler ----------------------------------------------------------
    // Binds a compiled expression to a widget: `notifier` runs when the
    // expression's values are in, `redraw` answers whether the widget wants a
    // refresh now, `updateRate` is "once", "load" or seconds (no text: "load").
    // A constant expression's notifier runs at once, inside this call, and
    // the binding is not kept. Otherwise the expression queues its requests;
    // they go out with the next batch. Does not start the refresh chain.
    void scheduleDataUpdate(std::shared_ptr<expr::Schedulable> compiledString, ClientUpdate::Notifier notifier,
                            ClientUpdate::RedrawRequest redraw, std::string_view updateRate);
    // The same with target-and-method pairs; the binding keeps both targets alive.
    template <class N, class R>
    void scheduleDataUpdate(std::shared_ptr<expr::Schedulable> compiledString, std::shared_ptr<N> notifierTarget,
                            void (N::*notifier)(), std::shared_ptr<R> redrawTarget, bool (R::*redraw)(),
                            std::string_view updateRate)
    {
        scheduleDataUpdate(std::move(compiledString), ClientUpdate::notifierFor(std::move(notifierTarget), notifier),
                           ClientUpdate::redrawFor(std::move(redrawTarget), redraw), updateRate);
    }
    // Sends the queued requests and (re)starts the refresh chain at once. The
    // UI reader calls it after reading a device's UI description.
    void startDataUpdate();
    // Drops every binding and ends the chain: the device's start page calls
    // it when the user leaves the device's pages, which breaks the cycle
    // record -> binding -> widget/expression -> record.
    void unscheduleAll();
    // One firing of the refresh chain (normally run by its timer).
    void serviceDataUpdateTimer();
    UpdateScheduler& scheduler() { return scheduler_; }

private:
    Client(bool debug, const platform::Services& services);

    // The rest of expr::DeviceLink (ClientVariables.cpp).
    std::shared_ptr<RemoteData> variableNamed(const std::string& name) const override;
    void addRequester(std::shared_ptr<Requester> requester) override;

    int sendBytes(const void* data, std::size_t size);

    friend class fieldmon::ShownLease;
    std::atomic<int> shownLeases_{0};

    platform::Services services_;

    std::string name_;
    std::string platform_;
    std::string type_;
    std::atomic<std::int32_t> serialNumber_{0};
    std::int32_t version_ = 0;
    // NaN while nothing has been heard; read by the listen thread.
    std::atomic<double> lastHeardTime_;
    // NaN while no probe waits for its answer.
    std::atomic<double> probeTime_;
    std::string rivalAddress_;
    bool service_ = false;
    std::atomic<std::mutex*> send_mutex_{nullptr};
    std::atomic<int> socket_{-1};

    // The destination is read by the listen thread (probe) while the main
    // thread may move the device to a new address.
    mutable std::mutex sa_mutex_;
    sockaddr_in sa_{};
    std::string dictipstring_;

    std::string fileString_;
    std::string eventString_;
    double timeOfStart_ = 0;

    RequestIdCounter requestIds_;

    std::deque<std::string> eventLog_;
    std::int32_t eventNumber_ = 0;

    Thumbwheels thumbwheels_;

    // Remote variables (ClientVariables.cpp).
    VariableStore::Link variableLink();
    VariableStore variables_{variableLink()};

    // File transfer state; running transfers are cancelled with the record.
    FileTransfers files_{services_.notifications, services_.files};

    // Global environment and predefined variables of the expression language.
    std::unique_ptr<expr::Expressions> expressions_ = std::make_unique<expr::Expressions>();

    // Update scheduler (ClientScheduler.cpp). Last, so that its bindings go
    // first, while the expressions' environment and the variables still exist.
    UpdateScheduler::Link schedulerLink();
    UpdateScheduler scheduler_{services_.loop, schedulerLink()};
};

} // namespace fieldmon
