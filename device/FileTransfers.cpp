#include "device/FileTransfers.h"

#include <cstdio>

namespace fieldmon {

FileTransfers::~FileTransfers()
{
    // The transport must not call back into a dead record. Cancelling reports
    // nothing, so no notification goes out for these.
    auto running = std::move(running_);
    for (auto& entry : running)
        transport_->cancel(entry.second.id);
}

void FileTransfers::request(const std::string& address, const std::string& prefix, const std::string& name)
{
    // The name goes into the URL unchanged; the transport decides whether the
    // result is a URL it can fetch.
    std::string url = "http://" + address + "/" + name;
    std::string notification = prefix + name;

    Key key = nextKey_++;
    platform::FileTransport::TransferId id = 0;
    if (transport_) {
        platform::FileTransport::Callbacks callbacks;
        callbacks.response = [this, key] { onResponse(key); };
        callbacks.data = [this, key](const std::uint8_t* bytes, std::size_t size) { onData(key, bytes, size); };
        callbacks.finished = [this, key] { onFinished(key); };
        callbacks.failed = [this, key](const std::string& error) { onFailed(key, error); };
        id = transport_->get(url, kTimeoutSeconds, std::move(callbacks));
    }
    if (id == 0) {
        std::printf("Download failed for file '%s'\n", name.c_str());
        notifications_.post(notification);
        return;
    }
    std::printf("Requesting 'http://%s/%s'\n", address.c_str(), name.c_str());
    running_.emplace(key, Transfer{id, std::move(notification), std::move(url), {}});
}

void FileTransfers::onResponse(Key key)
{
    // A redirect or a second response starts the body again.
    if (auto it = running_.find(key); it != running_.end())
        it->second.body.clear();
}

void FileTransfers::onData(Key key, const std::uint8_t* bytes, std::size_t size)
{
    auto it = running_.find(key);
    if (it == running_.end())
        return;
    platform::Bytes& body = it->second.body;
    if (size > kMaxBodyBytes - body.size()) {
        transport_->cancel(it->second.id);
        fail(key, "The file is larger than 16 MiB.");
        return;
    }
    body.insert(body.end(), bytes, bytes + size);
}

void FileTransfers::onFinished(Key key)
{
    auto node = running_.extract(key);
    if (node.empty())
        return;
    Transfer& t = node.mapped();
    std::printf("Succeeded! Received %d bytes of data\n", static_cast<int>(t.body.size()));
    // Observers may drop the record (and this object) while the notification
    // is delivered: nothing of `this` is touched after posting.
    notifications_.post(t.notification, std::move(t.body));
}

void FileTransfers::onFailed(Key key, const std::string& error)
{
    fail(key, error);
}

void FileTransfers::fail(Key key, const std::string& error)
{
    auto node = running_.extract(key);
    if (node.empty())
        return;
    Transfer& t = node.mapped();
    // Copies: observers may drop the record while the notification runs.
    std::string url = std::move(t.url);
    std::string text = error;
    notifications_.post(t.notification);
    std::printf("Connection failed! Error - %s %s\n", text.c_str(), url.c_str());
}

} // namespace fieldmon
