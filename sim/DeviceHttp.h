#pragma once
// DeviceHttp: the HTTP server of one simulated device. It serves the files of
// the device's folder (ui.xml, pictures) on the device's own address (or,
// for a replayed device, what a document source hands it), and can
// misbehave on purpose for transfer tests: answer only after a delay, answer
// 404, promise a body and drop the connection half-way, or redirect
// elsewhere.
//
// Thread rule: start() and stop() from the owner's thread; the server runs
// its own threads and touches only its own settings and the log.

#include "sim/DeviceConfig.h"
#include "sim/SimLog.h"

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace fieldmon::sim {

// A document served as it was recorded: status, type and body.
struct ServedDocument {
    int status = 200;
    std::string contentType;
    std::string body;
};

class DeviceHttp {
public:
    // Called on the server's threads with the requested file name ("ui.xml");
    // nothing answers 404.
    using DocumentSource = std::function<std::optional<ServedDocument>(const std::string& file)>;

    DeviceHttp(std::string who, std::string folder, HttpSpec spec, SimLog& log);
    DeviceHttp(std::string who, DocumentSource source, HttpSpec spec, SimLog& log);
    ~DeviceHttp();
    DeviceHttp(const DeviceHttp&) = delete;
    DeviceHttp& operator=(const DeviceHttp&) = delete;

    // Listens on `address` at the configured port (0: any free port). False
    // with a reason when the port cannot be bound.
    bool start(in_addr address, std::string& why);
    void stop();
    int port() const { return port_; }

    // The content type served for a file name (by extension).
    static std::string contentType(const std::string& file);

private:
    bool applies(const std::string& file) const;
    void waitDelay();

    std::string who_;
    std::string folder_;
    DocumentSource source_;
    HttpSpec spec_;
    SimLog& log_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex stopMutex_;
    std::condition_variable stopCv_;
    bool stopping_ = false;
};

} // namespace fieldmon::sim
