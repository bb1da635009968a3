#pragma once
// FileTransfers: the device record's HTTP file fetches. request() GETs
// "http://<address>/<name>" through the platform's FileTransport. When the
// transfer ends, the result goes to the requester's own callback (the body,
// or nothing when the transfer failed or could not be started); then
// "<prefix><name>" (e.g. fileFrom1207ui.xml) is posted with the same result
// for observers. The name is only a notice: prefix, serial number and file
// name run together without a separator, so one device's file can carry
// another device's name (serial 120 asking for "7ui.xml" posts
// fileFrom1207ui.xml). Whatever decides something from a result must take
// it from its callback.
//
// Bodies are bounded: a body announced or grown past kMaxBodyBytes is cut
// off and the transfer fails, so a hostile or broken device cannot make us
// hold an unbounded buffer. The HTTP status is not looked at: a 404 page is
// delivered like any other body.
//
// At most kMaxRunning transfers of one device run at once; the others wait
// in order of request and start as running ones end (their 10 s start then).
// A page with thousands of pictures holds a few connections, not thousands.
//
// A transfer requested with a callback lives as long as its Handle: dropping
// the handle cancels it (running or waiting) and reports nothing, which is
// how a page's picture transfers end with the page. Transfers requested
// without a callback run to their end. Running transfers are cancelled when
// the record goes away; nothing is reported for them then. The transport's
// callbacks capture `this` and never outlive it for that reason.
//
// Thread rule: main thread only.

#include "platform/FileTransport.h"
#include "platform/NotificationCenter.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace fieldmon {

class FileTransfers {
public:
    static constexpr double kTimeoutSeconds = 10.0;
    static constexpr std::size_t kMaxBodyBytes = 16u * 1024u * 1024u;
    static constexpr std::size_t kMaxRunning = 4;

    // The body on success, null on failure. The pointer is valid for the
    // call only.
    using Completion = std::function<void(const platform::Bytes* body)>;

    // A requester's hold on its transfer: dropping it (or reset()) cancels
    // the transfer if it has not ended. Safe to drop after the record is gone.
    class Handle {
    public:
        Handle() = default;
        ~Handle() { reset(); }
        Handle(Handle&& other) noexcept : owner_(std::move(other.owner_)), key_(other.key_) { other.key_ = 0; }
        Handle& operator=(Handle&& other) noexcept;
        Handle(const Handle&) = delete;
        Handle& operator=(const Handle&) = delete;
        void reset();
        // True while the transfer runs or waits for its turn.
        bool pending() const;

    private:
        friend class FileTransfers;
        Handle(std::weak_ptr<FileTransfers*> owner, std::uint64_t key) : owner_(std::move(owner)), key_(key) {}
        std::weak_ptr<FileTransfers*> owner_;
        std::uint64_t key_ = 0;
    };

    // Where the device is, asked at each request: the dotted-decimal device
    // address and the record's file notification prefix.
    struct Device {
        std::function<const std::string&()> address;
        std::function<const std::string&()> notificationPrefix;
    };

    FileTransfers(platform::NotificationCenter& notifications, platform::FileTransport* transport, Device device)
        : notifications_(notifications), transport_(transport), device_(std::move(device))
    {
    }
    ~FileTransfers();

    FileTransfers(const FileTransfers&) = delete;
    FileTransfers& operator=(const FileTransfers&) = delete;

    // GETs "http://<address>/<name>" (the name unchanged). A transfer that
    // cannot be started prints "Download failed for file '%s'\n" and reports
    // the failure at once, inside this call (to `done` first, then to
    // observers).
    [[nodiscard]] Handle request(const std::string& name, Completion done);
    // The same without a requester: only observers of the name hear of it.
    void request(const std::string& name);

    std::size_t runningCount() const { return runningCount_; }
    std::size_t waitingCount() const { return waiting_.size(); }

private:
    using Key = std::uint64_t;
    struct Transfer {
        platform::FileTransport::TransferId id = 0; // 0 while waiting for its turn
        std::string name;
        std::string notification; // prefix + file name
        std::string url;
        platform::Bytes body;
        Completion done;
    };
    // What is left to report once a transfer has left the tables.
    struct Report {
        std::string notification;
        Completion done;
        std::optional<platform::Bytes> body;
    };

    Key add(const std::string& name, Completion done);
    // Starts `key` on the transport; false (and the transfer gone, its
    // failure left in `failedNow`) when it cannot be started.
    bool start(Key key, std::vector<Report>& failedNow);
    // Starts waiting transfers while there is room.
    void startWaiting(std::vector<Report>& failedNow);
    void cancel(Key key);
    void onResponse(Key key, std::int64_t announcedLength);
    void onData(Key key, const std::uint8_t* bytes, std::size_t size);
    void onFinished(Key key);
    void onFailed(Key key, const std::string& error);
    // Ends a running transfer as failed: drops its buffer, reports the
    // failure and prints the console line.
    void fail(Key key, const std::string& error);
    // Calls out: requesters first, then observers. Touches nothing of
    // `this` (a callback may drop the record).
    static void deliver(platform::NotificationCenter& notifications, std::vector<Report> reports);

    platform::NotificationCenter& notifications_;
    platform::FileTransport* transport_;
    Device device_;
    std::unordered_map<Key, Transfer> transfers_; // running and waiting
    std::deque<Key> waiting_;
    std::size_t runningCount_ = 0;
    Key nextKey_ = 1;
    // Handles reach us through this token; it dies with us.
    std::shared_ptr<FileTransfers*> self_ = std::make_shared<FileTransfers*>(this);
};

} // namespace fieldmon
