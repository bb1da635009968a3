#pragma once
// Asynchronous HTTP GET of one file, the way the device record fetches a
// device's UI description and pictures.
//
// A transfer reports, in this order: response() once for every response that
// starts a body (a redirect or a second response starts the body again, so
// the receiver throws away what it has), with the length the response
// announces (its Content-Length; -1 when it announces none), before any of
// that body is handed on; data() for each chunk of body bytes, and finally
// exactly one of finished() or failed(). The HTTP status is not a
// failure: a 404 page is a finished transfer with the page as its body.
// failed() carries a human-readable error text.
//
// Callbacks run on the main loop, never inside get() itself. A callback may
// cancel any transfer, its own included; a cancelled transfer reports nothing
// more. Responses may be cached in memory, never on disk, and responses
// fetched over https are never cached.
//
// `timeoutSeconds` bounds the whole transfer, not just the silence between
// bytes: a server that trickles its body forever still fails when the time
// is up. The transport reads no faster than the receiver takes the bytes, so
// a body that comes faster than it is handled waits in the network, not in
// memory.
//
// Redirects are followed only to the URL's own origin: the same scheme,
// host and port. A redirect anywhere else fails the transfer, so a server
// can never make us fetch from another host (or from this machine itself).
//
// Thread rule: main thread only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace fieldmon::platform {

class FileTransport {
public:
    using TransferId = std::uint64_t;

    struct Callbacks {
        std::function<void(std::int64_t announcedLength)> response;
        std::function<void(const std::uint8_t* bytes, std::size_t size)> data;
        std::function<void()> finished;
        std::function<void(const std::string& error)> failed;
    };

    virtual ~FileTransport() = default;

    // Starts a GET of `url`. Returns the transfer's id (never 0), or 0 when
    // the transfer could not be started (malformed URL, unsupported scheme);
    // in that case no callback is ever called.
    virtual TransferId get(const std::string& url, double timeoutSeconds, Callbacks callbacks) = 0;

    // Stops a running transfer without calling any more of its callbacks.
    // Unknown or ended ids are ignored.
    virtual void cancel(TransferId id) = 0;
};

} // namespace fieldmon::platform
