#include "sim/DeviceHttp.h"

#include <arpa/inet.h>
#include <httplib.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace fieldmon::sim {

namespace {

bool safeName(const std::string& name)
{
    // Files of the folder only: no way up or out of it.
    return !name.empty() && name.find("..") == std::string::npos && name[0] != '/' && name.find('\0') == std::string::npos;
}

std::optional<std::string> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

DeviceHttp::DeviceHttp(std::string who, std::string folder, HttpSpec spec, SimLog& log)
    : who_(std::move(who)), folder_(std::move(folder)), spec_(std::move(spec)), log_(log)
{
}

DeviceHttp::DeviceHttp(std::string who, DocumentSource source, HttpSpec spec, SimLog& log)
    : who_(std::move(who)), source_(std::move(source)), spec_(std::move(spec)), log_(log)
{
}

DeviceHttp::~DeviceHttp() { stop(); }

std::string DeviceHttp::contentType(const std::string& file)
{
    auto ends = [&](const char* ext) {
        std::string e = ext;
        return file.size() >= e.size() && file.compare(file.size() - e.size(), e.size(), e) == 0;
    };
    if (ends(".xml"))
        return "text/xml";
    if (ends(".png"))
        return "image/png";
    if (ends(".jpg") || ends(".jpeg"))
        return "image/jpeg";
    if (ends(".txt"))
        return "text/plain";
    return "application/octet-stream";
}

bool DeviceHttp::applies(const std::string& file) const
{
    if (spec_.only.empty())
        return true;
    for (const std::string& f : spec_.only)
        if (f == file)
            return true;
    return false;
}

void DeviceHttp::waitDelay()
{
    std::unique_lock lock(stopMutex_);
    stopCv_.wait_for(lock, std::chrono::duration<double>(spec_.delay), [&] { return stopping_; });
}

bool DeviceHttp::start(in_addr address, std::string& why)
{
    stop();
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = false;
    }
    server_ = std::make_unique<httplib::Server>();
    server_->set_keep_alive_max_count(20);
    server_->Get(R"(/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
        std::string file = req.matches.size() > 1 ? std::string(req.matches[1]) : std::string();
        const bool special = applies(file);
        log_.line(who_, "http GET " + SimLog::printable(req.path) + " from " + req.remote_addr);
        if (special && spec_.delay > 0) {
            log_.line(who_, "   http: answering after " + std::to_string(spec_.delay) + " s");
            waitDelay();
        }
        if (special && !spec_.redirect.empty()) {
            res.status = 302;
            res.set_header("Location", spec_.redirect);
            log_.line(who_, "   http: 302 to " + SimLog::printable(spec_.redirect) + " (as configured)");
            return;
        }
        if (special && spec_.notFound) {
            res.status = 404;
            res.set_content("<html><body>404 Not Found</body></html>", "text/html");
            log_.line(who_, "   http: 404 (as configured)");
            return;
        }
        if (source_) {
            auto recorded = source_(file);
            if (!recorded) {
                res.status = 404;
                res.set_content("<html><body>404 Not Found</body></html>", "text/html");
                log_.line(who_, "   http: 404, not in the capture");
                return;
            }
            log_.line(who_, "   http: " + std::to_string(recorded->status) + ", " +
                                std::to_string(recorded->body.size()) + " bytes as recorded");
            res.status = recorded->status;
            res.set_content(std::move(recorded->body),
                            recorded->contentType.empty() ? contentType(file) : recorded->contentType);
            return;
        }
        std::optional<std::string> body;
        if (safeName(file))
            body = readFile(folder_ + "/" + file);
        if (!body) {
            res.status = 404;
            res.set_content("<html><body>404 Not Found</body></html>", "text/html");
            log_.line(who_, "   http: 404, no such file");
            return;
        }
        if (special && spec_.drop) {
            // Promise the whole body, deliver half of it, then give up: the
            // client sees the connection end early.
            auto data = std::make_shared<std::string>(std::move(*body));
            const std::size_t total = data->size();
            res.set_content_provider(total, contentType(file),
                                     [data](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                         if (offset >= data->size() / 2)
                                             return false;
                                         sink.write(data->data() + offset, data->size() / 2 - offset);
                                         return true;
                                     });
            log_.line(who_, "   http: dropping the connection after " + std::to_string(total / 2) + " of " +
                                std::to_string(total) + " bytes (as configured)");
            return;
        }
        log_.line(who_, "   http: 200, " + std::to_string(body->size()) + " bytes");
        res.set_content(std::move(*body), contentType(file));
    });

    char host[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, host, sizeof host);
    if (spec_.port == 0) {
        port_ = server_->bind_to_any_port(host);
        if (port_ <= 0) {
            why = std::string("cannot bind an HTTP port on ") + host;
            server_.reset();
            return false;
        }
    } else {
        if (!server_->bind_to_port(host, spec_.port)) {
            why = std::string("cannot bind HTTP port ") + std::to_string(spec_.port) + " on " + host;
            server_.reset();
            return false;
        }
        port_ = spec_.port;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() only reaches a server that has started listening: wait for it,
    // so that a stop right after the start cannot leave the thread running.
    for (int i = 0; i < 2000 && !server_->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    log_.line(who_, std::string("http serving ") + (source_ ? std::string("the recorded documents") : folder_) + " on " +
                        host + ":" + std::to_string(port_));
    return true;
}

void DeviceHttp::stop()
{
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopCv_.notify_all();
    if (server_)
        server_->stop();
    if (thread_.joinable())
        thread_.join();
    server_.reset();
}

} // namespace fieldmon::sim
