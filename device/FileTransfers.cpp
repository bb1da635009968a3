#include "device/FileTransfers.h"

#include "platform/Diagnostics.h"

#include <algorithm>
#include <cstdio>

namespace fieldmon {

FileTransfers::Handle& FileTransfers::Handle::operator=(Handle&& other) noexcept
{
    if (this != &other) {
        reset();
        owner_ = std::move(other.owner_);
        key_ = other.key_;
        other.key_ = 0;
    }
    return *this;
}

void FileTransfers::Handle::reset()
{
    if (key_ == 0)
        return;
    Key key = key_;
    key_ = 0;
    if (auto owner = owner_.lock())
        (*owner)->cancel(key);
    owner_.reset();
}

bool FileTransfers::Handle::pending() const
{
    if (key_ == 0)
        return false;
    auto owner = owner_.lock();
    return owner && (*owner)->transfers_.count(key_) != 0;
}

FileTransfers::~FileTransfers()
{
    // The transport must not call back into a dead record. Cancelling reports
    // nothing, so no notification goes out for these.
    self_.reset();
    auto transfers = std::move(transfers_);
    for (auto& entry : transfers)
        if (entry.second.id != 0)
            transport_->cancel(entry.second.id);
}

FileTransfers::Key FileTransfers::add(const std::string& name, Completion done)
{
    // The name goes into the URL unchanged; the transport decides whether the
    // result is a URL it can fetch.
    Key key = nextKey_++;
    transfers_.emplace(key, Transfer{0, name, device_.notificationPrefix() + name,
                                     "http://" + device_.address() + "/" + name, {}, std::move(done)});
    waiting_.push_back(key);
    return key;
}

FileTransfers::Handle FileTransfers::request(const std::string& name, Completion done)
{
    Key key = add(name, std::move(done));
    Handle handle(self_, key);
    std::vector<Report> failedNow;
    startWaiting(failedNow);
    deliver(notifications_, std::move(failedNow));
    return handle;
}

void FileTransfers::request(const std::string& name)
{
    add(name, nullptr);
    std::vector<Report> failedNow;
    startWaiting(failedNow);
    deliver(notifications_, std::move(failedNow));
}

void FileTransfers::startWaiting(std::vector<Report>& failedNow)
{
    while (runningCount_ < kMaxRunning && !waiting_.empty()) {
        Key key = waiting_.front();
        waiting_.pop_front();
        start(key, failedNow);
    }
}

bool FileTransfers::start(Key key, std::vector<Report>& failedNow)
{
    auto it = transfers_.find(key);
    if (it == transfers_.end())
        return false;
    Transfer& t = it->second;
    platform::FileTransport::TransferId id = 0;
    if (transport_) {
        platform::FileTransport::Callbacks callbacks;
        callbacks.response = [this, key](std::int64_t length) { onResponse(key, length); };
        callbacks.data = [this, key](const std::uint8_t* bytes, std::size_t size) { onData(key, bytes, size); };
        callbacks.finished = [this, key] { onFinished(key); };
        callbacks.failed = [this, key](const std::string& error) { onFailed(key, error); };
        id = transport_->get(t.url, kTimeoutSeconds, std::move(callbacks));
    }
    if (id == 0) {
        diag("Download failed for file '%s'\n", t.name.c_str());
        failedNow.push_back(Report{std::move(t.notification), std::move(t.done), std::nullopt});
        transfers_.erase(it);
        return false;
    }
    diag("Requesting '%s'\n", t.url.c_str());
    t.id = id;
    ++runningCount_;
    return true;
}

void FileTransfers::cancel(Key key)
{
    auto node = transfers_.extract(key);
    if (node.empty())
        return;
    if (node.mapped().id == 0) {
        waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), key), waiting_.end());
        return;
    }
    --runningCount_;
    transport_->cancel(node.mapped().id);
    // A cancelled transfer reports nothing, but it leaves room for one that waits.
    std::vector<Report> failedNow;
    startWaiting(failedNow);
    deliver(notifications_, std::move(failedNow));
}

void FileTransfers::onResponse(Key key, std::int64_t announcedLength)
{
    auto it = transfers_.find(key);
    if (it == transfers_.end())
        return;
    // A body announced past the limit is refused before a byte of it is read.
    if (announcedLength > static_cast<std::int64_t>(kMaxBodyBytes)) {
        transport_->cancel(it->second.id);
        fail(key, "The file is larger than 16 MiB.");
        return;
    }
    // A redirect or a second response starts the body again.
    it->second.body.clear();
}

void FileTransfers::onData(Key key, const std::uint8_t* bytes, std::size_t size)
{
    auto it = transfers_.find(key);
    if (it == transfers_.end())
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
    auto node = transfers_.extract(key);
    if (node.empty())
        return;
    --runningCount_;
    Transfer& t = node.mapped();
    diag("Succeeded! Received %d bytes of data\n", static_cast<int>(t.body.size()));
    std::vector<Report> reports;
    reports.push_back(Report{std::move(t.notification), std::move(t.done), std::move(t.body)});
    startWaiting(reports);
    deliver(notifications_, std::move(reports));
}

void FileTransfers::onFailed(Key key, const std::string& error)
{
    fail(key, error);
}

void FileTransfers::fail(Key key, const std::string& error)
{
    auto node = transfers_.extract(key);
    if (node.empty())
        return;
    --runningCount_;
    Transfer& t = node.mapped();
    std::vector<Report> reports;
    reports.push_back(Report{std::move(t.notification), std::move(t.done), std::nullopt});
    startWaiting(reports);
    // The console line follows the report, as it always has; copies, since
    // a requester may drop the record meanwhile.
    std::string line = "Connection failed! Error - " + error + " " + t.url + "\n";
    deliver(notifications_, std::move(reports));
    diagWrite(line);
}

void FileTransfers::deliver(platform::NotificationCenter& notifications, std::vector<Report> reports)
{
    for (Report& r : reports) {
        if (r.done)
            r.done(r.body ? &*r.body : nullptr);
        if (r.body)
            notifications.post(r.notification, std::move(*r.body));
        else
            notifications.post(r.notification);
    }
}

} // namespace fieldmon
