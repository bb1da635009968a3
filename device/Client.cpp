#include "device/Client.h"

#include "device/EventLine.h"
#include "device/RequestId.h"
#include "platform/Diagnostics.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/PacketTapPoint.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace fieldmon {

namespace {

// The link health's key of a request: its kind and identifier.
std::uint32_t requestKey(char kind, char id)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(kind)) << 8 | static_cast<unsigned char>(id);
}

} // namespace

std::shared_ptr<Client> Client::create(bool debug, const platform::Services& services)
{
    return std::shared_ptr<Client>(new Client(debug, services));
}

Client::Client(bool debug, const platform::Services& services)
    : DeviceLink(debug),
      services_(services),
      // The parts live inside this record, so their callables never outlive it.
      variables_(VariableStore::Link{
          [this] { return this->debug(); },
          [this](std::string_view text) { return sendString(text); },
          [this] { return requestIds_.next(); },
          [this] { return services_.loop.now(); },
          // A reply ('V', 'A') answers the request of the same letter in
          // lower case ('v', 'a'); both kinds share one identifier counter.
          [this](char kind, char id) { linkHealth_.requestSent(requestKey(kind, id), services_.loop.now()); },
          [this](char kind, char id) {
              linkHealth_.replyReceived(requestKey(static_cast<char>(kind | 0x20), id), services_.loop.now());
          },
      }),
      files_(services_.notifications, services_.files,
             FileTransfers::Device{
                 [this]() -> const std::string& { return dictionaryIPString_; },
                 [this]() -> const std::string& { return fileNotificationName_; },
             }),
      scheduler_(services_.loop, UpdateScheduler::Link{
                                     [this, start = services.loop.now()](double now) {
                                         expressions_->setTime(now - start);
                                     },
                                     [this] { variables_.requests().submitRequests(); },
                                     [this]() -> std::shared_ptr<void> { return weak_from_this().lock(); },
                                 })
{
    destination_.sin_family = AF_INET;
    destination_.sin_port = htons(kDevicePort);
    destination_.sin_addr.s_addr = 0;
    setSerialNumber(0);
}

Client::~Client() = default;

const std::shared_ptr<expr::Scope>& Client::environment() const
{
    return expressions_->environment();
}

std::shared_ptr<RemoteData> Client::variableNamed(const std::string& name) const
{
    return variables_.variableNamed(name);
}

void Client::queueRequest(RemoteDataRequest request)
{
    variables_.requests().queue(std::move(request));
}

void Client::addRequester(std::shared_ptr<Requester> requester)
{
    variables_.requests().waitingRequesters().push_back(std::move(requester));
}

bool Client::submitRequests()
{
    return variables_.requests().submitRequests();
}

void Client::setSerialNumber(std::int32_t serial)
{
    serialNumber_ = serial;
    fileNotificationName_ = "fileFrom" + std::to_string(serial);
    eventNotificationName_ = "eventFrom" + std::to_string(serial);
}

void Client::setService(bool on)
{
    service_ = on;
    expressions_->setService(on);
}

void Client::heard(double t)
{
    presence_.setLastHeardTime(t);
}

void Client::setAddress(in_addr address, std::uint16_t port)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    {
        std::lock_guard lock(destinationMutex_);
        destination_.sin_addr = address;
        destination_.sin_port = htons(port);
    }
    dictionaryIPString_ = text;
}

in_addr Client::address() const
{
    std::lock_guard lock(destinationMutex_);
    return destination_.sin_addr;
}

sockaddr_in Client::socketAddress() const
{
    std::lock_guard lock(destinationMutex_);
    return destination_;
}

void Client::copyValues(const Client& other)
{
    setPlatform(other.platform_);
    setType(other.type_);
    setName(other.name_);
    setVersion(other.version_);
    setService(other.service_);
    sockaddr_in dest = other.socketAddress();
    setAddress(dest.sin_addr, ntohs(dest.sin_port));
    sendMutex_ = other.sendMutex_.load();
    socket_ = other.socket_.load();
    presence_.takeLastHeardTime(other.presence_);
}

void Client::setSocket(int socket, std::mutex* sendMutex)
{
    sendMutex_ = sendMutex;
    socket_ = socket;
}

int Client::sendBytes(const void* data, std::size_t size)
{
    int fd = socket_.load();
    if (fd == -1)
        return -1;
    sockaddr_in dest = socketAddress();
    std::mutex* lock = sendMutex_.load();
    // Never waiting for room: datagrams to hosts that do not answer ARP (a
    // flood of forged announcements, each answered with 's') hold the
    // socket's send buffer for seconds, and a blocking send then froze the
    // main thread with the send lock held. A full buffer fails this one
    // datagram instead, as a lost datagram would.
    int error = 0;
    auto transmit = [&] {
        std::unique_lock<std::mutex> guard;
        if (lock)
            guard = std::unique_lock(*lock);
        const bool left =
            ::sendto(fd, data, size, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&dest), sizeof dest) >= 0;
        error = left ? 0 : errno;
        return left;
    };
    const bool left = services_.taps ? services_.taps->send(fd, dest, {static_cast<const char*>(data), size}, transmit)
                                     : transmit();
    if (!left) {
        diag("Error sending packet: %s\n", std::strerror(error));
        return -1;
    }
    return 0;
}

int Client::sendChar(char c)
{
    return sendBytes(&c, 1);
}

int Client::sendString(std::string_view text)
{
    return sendBytes(text.data(), std::min(text.size(), kMaxCommandBytes));
}

int Client::setServiceMode(bool on)
{
    return sendString(on ? "cservice 1\r\n" : "cservice 0\r\n");
}

void Client::broadcastEvent(std::string_view line)
{
    // The line may hold a NUL byte from the wire; print what a C string would.
    std::string whole(line);
    diag("%d: %s\n", serialNumber(), whole.c_str());

    std::string_view text = eventText(line);
    if (hasTimeStamp(line)) {
        if (text == "EVENTSYS_SVC_MODE_ON")
            setService(true);
        else if (text == "EVENTSYS_SVC_MODE_OFF")
            setService(false);
    }
    std::string payload(text);

    eventLog_.push_back(std::move(whole));
    if (eventLog_.size() > kMaxEventLines)
        eventLog_.pop_front();
    ++eventNumber_;

    services_.notifications.post(eventNotificationName_, std::move(payload));
}

} // namespace fieldmon
