#pragma once
// QtFileTransport: the file transport on QNetworkAccessManager. Replies are
// read as they arrive and handed on chunk by chunk, so nothing piles up in
// Qt's own buffers. Each transfer has a single-shot deadline for the whole
// transfer; when it passes, the reply is aborted and the transfer fails with
// "The request timed out.". Responses are cached by MemoryNetworkCache
// (memory only, never https).
//
// Redirects are followed only to the first URL's scheme, host and port
// (at most kMaxRedirects of them), and Qt reads at most kReadBufferBytes
// ahead of us, so a fast endless body is held back in the network.
//
// An HTTP error status is not a failure here: when the server sent a status
// line, the transfer finishes with whatever body came with it. Failures are
// the transport's own: refused or dropped connections, unknown hosts, broken
// protocol, too many redirects, the deadline.
//
// While a packet tap is attached (setTaps), each transfer that ends with a
// response is shown to it: the request as it went and the final response
// with its body as the receiver got it (one Content-Length, no transfer
// coding), from the app (port not known) to the server's address.
//
// Thread rule: main thread only (the thread the Qt event loop runs on); every
// callback comes from that loop.

#include "platform/FileTransport.h"

#include <QNetworkAccessManager>
#include <QObject>

#include <chrono>
#include <string>

#include <unordered_map>

class QNetworkReply;
class QUrl;

namespace fieldmon::platform {

class MemoryNetworkCache;
class PacketTapPoint;

class QtFileTransport final : public FileTransport {
public:
    static constexpr int kMaxRedirects = 5;
    static constexpr qint64 kReadBufferBytes = 256 * 1024;

    QtFileTransport();
    ~QtFileTransport() override;

    QtFileTransport(const QtFileTransport&) = delete;
    QtFileTransport& operator=(const QtFileTransport&) = delete;

    TransferId get(const std::string& url, double timeoutSeconds, Callbacks callbacks) override;
    void cancel(TransferId id) override;

    // Where ended transfers are shown while recording (not owned; may be null).
    void setTaps(PacketTapPoint* taps) { taps_ = taps; }

    MemoryNetworkCache& cache() const { return *cache_; }
    std::size_t runningCount() const { return running_.size(); }

private:
    struct Running {
        QNetworkReply* reply = nullptr;
        Callbacks callbacks;
        bool responded = false; // response() already told for the current response
        // Kept only while a tap listens when the transfer starts.
        bool tapped = false;
        std::chrono::system_clock::time_point started;
        std::string body; // of the current response
    };

    // Shows the finished transfer to the tap.
    void tapTransfer(const Running& running);

    // Tells response() once per response. False when the callback cancelled
    // the transfer.
    bool announceResponse(TransferId id);
    // Hands on the reply's unread bytes (after response() for a new
    // response). False when a callback cancelled the transfer meanwhile.
    bool deliverAvailable(TransferId id);
    void onFinished(TransferId id);
    void onTimeout(TransferId id);
    void onRedirected(TransferId id, const QUrl& target);

    QNetworkAccessManager manager_;
    MemoryNetworkCache* cache_; // owned by manager_
    // Context of our signal connections; destroyed before manager_, so no
    // reply can call into a half-destroyed transport.
    QObject context_;
    std::unordered_map<TransferId, Running> running_;
    TransferId nextId_ = 1;
    PacketTapPoint* taps_ = nullptr;
};

} // namespace fieldmon::platform
