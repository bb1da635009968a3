#include "support/FakeFileTransport.h"

#include <algorithm>

namespace fieldmon::platform {

FakeFileTransport::~FakeFileTransport()
{
    if (loop_)
        for (auto& [id, r] : running_)
            loop_->cancel(r.timer);
}

FileTransport::TransferId FakeFileTransport::get(const std::string& url, double timeoutSeconds, Callbacks callbacks)
{
    if (!refuse_.empty() && url.find(refuse_) != std::string::npos)
        return 0;
    TransferId id = nextId_++;
    requests_.push_back(Request{id, url, timeoutSeconds});
    Running r{std::move(callbacks)};
    if (loop_)
        r.timer = loop_->after(timeoutSeconds, [this, id] {
            if (auto it = running_.find(id); it != running_.end())
                it->second.timer = 0; // fired; nothing to cancel any more
            fail(id, "The request timed out.");
        });
    running_.emplace(id, std::move(r));
    return id;
}

FakeFileTransport::Request* FakeFileTransport::findRequest(TransferId id)
{
    auto it = std::find_if(requests_.begin(), requests_.end(), [id](const Request& r) { return r.id == id; });
    return it == requests_.end() ? nullptr : &*it;
}

const FakeFileTransport::Request* FakeFileTransport::find(TransferId id) const
{
    return const_cast<FakeFileTransport*>(this)->findRequest(id);
}

bool FakeFileTransport::end(TransferId id, Callbacks& out)
{
    auto it = running_.find(id);
    if (it == running_.end())
        return false;
    if (loop_ && it->second.timer)
        loop_->cancel(it->second.timer);
    out = std::move(it->second.callbacks);
    running_.erase(it);
    if (Request* r = findRequest(id))
        r->running = false;
    return true;
}

void FakeFileTransport::cancel(TransferId id)
{
    Callbacks dropped;
    if (!end(id, dropped))
        return;
    if (Request* r = findRequest(id))
        r->cancelled = true;
}

bool FakeFileTransport::respond(TransferId id, std::int64_t announcedLength)
{
    auto it = running_.find(id);
    if (it == running_.end())
        return false;
    auto cb = it->second.callbacks.response; // the callback may cancel this transfer
    if (cb)
        cb(announcedLength);
    return true;
}

bool FakeFileTransport::deliver(TransferId id, const std::string& bytes)
{
    auto it = running_.find(id);
    if (it == running_.end())
        return false;
    auto cb = it->second.callbacks.data;
    if (cb)
        cb(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return true;
}

bool FakeFileTransport::finish(TransferId id)
{
    Callbacks cb;
    if (!end(id, cb))
        return false;
    if (cb.finished)
        cb.finished();
    return true;
}

bool FakeFileTransport::fail(TransferId id, const std::string& error)
{
    Callbacks cb;
    if (!end(id, cb))
        return false;
    if (cb.failed)
        cb.failed(error);
    return true;
}

bool FakeFileTransport::serve(TransferId id, const std::string& body)
{
    return respond(id, static_cast<std::int64_t>(body.size())) && deliver(id, body) && finish(id);
}

} // namespace fieldmon::platform
