#pragma once
// FileTransfers: the device record's HTTP file fetches. requestFile() GETs
// "http://<address>/<name>" through the platform's FileTransport and, when
// the transfer ends, posts "<prefix><name>" (e.g. fileFrom1207ui.xml) with
// the whole body as Bytes, or with no object when the transfer failed or
// could not be started. Several transfers may run at once; each is told apart
// by its transport id.
//
// Bodies are bounded: a body that grows past kMaxBodyBytes is cut off and the
// transfer fails, so a hostile or broken device cannot make us hold an
// unbounded buffer. The HTTP status is not looked at: a 404 page is delivered
// like any other body.
//
// Running transfers are cancelled when the record goes away; nothing is
// posted for them then. The transport's callbacks capture `this` and never
// outlive it for that reason.
//
// Thread rule: main thread only.

#include "platform/FileTransport.h"
#include "platform/NotificationCenter.h"

#include <cstddef>
#include <string>
#include <unordered_map>

namespace fieldmon {

class FileTransfers {
public:
    static constexpr double kTimeoutSeconds = 10.0;
    static constexpr std::size_t kMaxBodyBytes = 16u * 1024u * 1024u;

    FileTransfers(platform::NotificationCenter& notifications, platform::FileTransport* transport)
        : notifications_(notifications), transport_(transport) {}
    ~FileTransfers();

    FileTransfers(const FileTransfers&) = delete;
    FileTransfers& operator=(const FileTransfers&) = delete;

    // `address` is the dotted-decimal device address, `prefix` the record's
    // file notification prefix. A transfer that cannot be started prints
    // "Download failed for file '%s'\n" and posts the failure at once, inside
    // this call.
    void request(const std::string& address, const std::string& prefix, const std::string& name);

    std::size_t runningCount() const { return running_.size(); }

private:
    // Our own key for a transfer: the callbacks are made before the
    // transport hands out its id, so they capture this key instead.
    using Key = std::uint64_t;
    struct Transfer {
        platform::FileTransport::TransferId id = 0;
        std::string notification; // prefix + file name
        std::string url;
        platform::Bytes body;
    };

    void onResponse(Key key);
    void onData(Key key, const std::uint8_t* bytes, std::size_t size);
    void onFinished(Key key);
    void onFailed(Key key, const std::string& error);
    // Ends a transfer as failed: drops its buffer, posts the failure and
    // prints the console line.
    void fail(Key key, const std::string& error);

    platform::NotificationCenter& notifications_;
    platform::FileTransport* transport_;
    std::unordered_map<Key, Transfer> running_;
    Key nextKey_ = 1;
};

} // namespace fieldmon
