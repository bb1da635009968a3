#pragma once
// A real HTTP server on a loopback address for transport tests (cpp-httplib;
// link the cpp-httplib library). Handlers are set on `server` before start().
// Blocking handlers must poll stopping() so that the server shuts down
// promptly; every handler here is bounded in time.
//
// Thread rule: start() and the destructor on the test thread; handlers run
// on the server's worker threads.

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace fieldmon::test {

class LocalHttpServer {
public:
    httplib::Server server;

    ~LocalHttpServer()
    {
        stopping_ = true;
        server.stop();
        if (thread_.joinable())
            thread_.join();
    }

    // Binds host:port, retrying for up to `patience` while another test may
    // still hold the port, then serves on a thread. False if it never bound.
    bool start(const std::string& host, int port, std::chrono::milliseconds patience = std::chrono::seconds(3))
    {
        auto until = std::chrono::steady_clock::now() + patience;
        while (!server.bind_to_port(host, port)) {
            if (std::chrono::steady_clock::now() >= until)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        thread_ = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return true;
    }

    bool stopping() const { return stopping_; }

    // Sleeps up to `d` in small steps, returning early when the server stops.
    void nap(std::chrono::milliseconds d) const
    {
        auto until = std::chrono::steady_clock::now() + d;
        while (!stopping_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

private:
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace fieldmon::test
