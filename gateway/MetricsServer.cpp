#include "gateway/MetricsServer.h"

#include <httplib.h>

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <vector>

namespace fieldmon::gateway {

namespace {

// cpp-httplib's own pool queues without limit; this one holds at most
// `capacity` connections and serves the next one on the accept thread
// when full (the accept thread owns the connection's socket then, and
// cpp-httplib gives no way to close it unserved).
class BoundedPool final : public httplib::TaskQueue {
public:
    BoundedPool(int workers, int capacity) : capacity_(static_cast<std::size_t>(capacity))
    {
        for (int i = 0; i < workers; ++i)
            threads_.emplace_back([this] { work(); });
    }

    void enqueue(std::function<void()> task) override
    {
        {
            std::lock_guard lock(mutex_);
            if (jobs_.size() < capacity_) {
                jobs_.push_back(std::move(task));
                wake_.notify_one();
                return;
            }
        }
        task();
    }

    void shutdown() override
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty())
                    return; // stopping, nothing left
                task = std::move(jobs_.front());
                jobs_.pop_front();
            }
            task();
        }
    }

    std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace

MetricsServer::MetricsServer() : server_(std::make_unique<httplib::Server>()), snapshot_(std::make_shared<std::string>())
{
}

std::unique_ptr<MetricsServer> MetricsServer::create(const std::string& host, int port, Limits limits,
                                                     std::string& error)
{
    std::unique_ptr<MetricsServer> metrics(new MetricsServer());
    httplib::Server& server = *metrics->server_;
    server.new_task_queue = [limits] { return new BoundedPool(limits.workers, limits.queued); };
    server.set_read_timeout(limits.timeoutSeconds, 0);
    server.set_write_timeout(limits.timeoutSeconds, 0);
    server.set_keep_alive_timeout(limits.timeoutSeconds);
    server.set_keep_alive_max_count(10);
    server.set_payload_max_length(4096);
    // cpp-httplib's default also sets SO_REUSEPORT, with which a second
    // gateway given the same address binds too and the kernel shares the
    // scrapes between them. Only SO_REUSEADDR, for a quick restart.
    server.set_socket_options([](int socket) {
        int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    MetricsServer* self = metrics.get();
    server.Get("/metrics", [self](const httplib::Request&, httplib::Response& response) {
        std::shared_ptr<const std::string> text = self->snapshot();
        response.set_content(*text, "text/plain; version=0.0.4; charset=utf-8");
        self->scrapes_.fetch_add(1);
    });
    if (!server.bind_to_port(host, port)) {
        error = "cannot listen on " + host + ":" + std::to_string(port) + " for /metrics";
        return nullptr;
    }
    metrics->acceptThread_ = std::thread([self] { self->server_->listen_after_bind(); });
    // stop() does nothing before the server runs; wait for it, so that a
    // server destroyed at once still ends its thread.
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return metrics;
}

MetricsServer::~MetricsServer()
{
    // stop() closes the listening socket; listen_after_bind then shuts the
    // pool down (joining the workers) and returns.
    server_->stop();
    if (acceptThread_.joinable())
        acceptThread_.join();
}

void MetricsServer::publish(std::string text)
{
    auto next = std::make_shared<const std::string>(std::move(text));
    std::lock_guard lock(snapshotMutex_);
    snapshot_.swap(next);
    // The old text is released here or by the last request still sending it.
}

std::shared_ptr<const std::string> MetricsServer::snapshot() const
{
    std::lock_guard lock(snapshotMutex_);
    return snapshot_;
}

} // namespace fieldmon::gateway
