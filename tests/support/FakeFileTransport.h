#pragma once
// A FileTransport for unit tests: it records every request and lets the test
// play the server's part (respond, deliver bytes, finish, fail). With a main
// loop it also enforces the time-out in that loop's (virtual) time, failing
// the transfer with "The request timed out." as a real transport would.
//
// Thread rule: main thread only; the test thread plays the server.

#include "platform/FileTransport.h"
#include "platform/MainLoop.h"

#include <map>
#include <string>
#include <vector>

namespace fieldmon::platform {

class FakeFileTransport final : public FileTransport {
public:
    struct Request {
        TransferId id = 0;
        std::string url;
        double timeoutSeconds = 0;
        bool running = true;
        bool cancelled = false;
    };

    // Without a loop the fake never times out on its own.
    explicit FakeFileTransport(MainLoop* loop = nullptr) : loop_(loop) {}
    ~FakeFileTransport() override;

    TransferId get(const std::string& url, double timeoutSeconds, Callbacks callbacks) override;
    void cancel(TransferId id) override;

    // Makes get() refuse URLs that contain `fragment` (0 is returned).
    void refuseUrlsContaining(std::string fragment) { refuse_ = std::move(fragment); }

    // The server's side. Each returns false (and does nothing) when the
    // transfer is not running any more.
    // `announcedLength` plays the Content-Length header (-1: none).
    bool respond(TransferId id, std::int64_t announcedLength = -1);
    bool deliver(TransferId id, const std::string& bytes);
    bool finish(TransferId id);
    bool fail(TransferId id, const std::string& error);
    // respond (announcing the body's length) + deliver + finish in one go.
    bool serve(TransferId id, const std::string& body);

    const std::vector<Request>& requests() const { return requests_; }
    const Request* find(TransferId id) const;
    std::size_t runningCount() const { return running_.size(); }

private:
    struct Running {
        Callbacks callbacks;
        MainLoop::TimerId timer = 0;
    };
    Request* findRequest(TransferId id);
    // Takes a transfer out of the running set before its last callback runs,
    // so that the callback may cancel or start transfers freely.
    bool end(TransferId id, Callbacks& out);

    MainLoop* loop_;
    std::string refuse_;
    std::vector<Request> requests_;
    std::map<TransferId, Running> running_;
    TransferId nextId_ = 1;
};

} // namespace fieldmon::platform
