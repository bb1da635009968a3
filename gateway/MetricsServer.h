#pragma once
// Serves GET /metrics over HTTP (cpp-httplib) from the last text the main
// thread handed over. Every other path gets an empty 404, and a request
// body past 4 KiB is refused.
//
// A flood cannot starve the gateway: the server has one accept thread and
// `workers` threads with a queue of `queued` connections; when the queue
// is full the accept thread serves the connection itself, so it stops
// accepting and the kernel's backlog holds (and then refuses) the rest.
// Reads and writes time out after `timeoutSeconds`, and a kept-alive
// connection serves at most 10 requests. The main thread only ever takes
// the snapshot mutex to swap a pointer.
//
// Thread rule: create, publish() and destroy on the main thread. The HTTP
// threads read the snapshot under `snapshotMutex_` (a shared pointer to
// text that is never changed after it is handed over).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace fieldmon::gateway {

class MetricsServer {
public:
    struct Limits {
        int workers = 2;
        int queued = 16;
        int timeoutSeconds = 2;
    };

    // Nothing (and `error` set) when the address cannot be bound.
    static std::unique_ptr<MetricsServer> create(const std::string& host, int port, Limits limits, std::string& error);
    ~MetricsServer(); // stops accepting, joins every HTTP thread

    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    void publish(std::string text);
    std::uint64_t scrapes() const { return scrapes_.load(); } // GET /metrics answered

private:
    MetricsServer();
    std::shared_ptr<const std::string> snapshot() const;

    std::unique_ptr<httplib::Server> server_;
    std::thread acceptThread_;
    mutable std::mutex snapshotMutex_;
    std::shared_ptr<const std::string> snapshot_;
    std::atomic<std::uint64_t> scrapes_{0};
};

} // namespace fieldmon::gateway
