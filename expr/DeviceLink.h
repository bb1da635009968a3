#pragma once
// DeviceLink: what an expression needs from the device it was compiled for.
// Nodes hold their device through this interface (the device record, Client,
// implements it), so the expression language depends on the variables below
// it and never on the device layer above it.
//
// Six calls: the debug flag that switches the diagnostic texts on (a plain
// flag, because every evaluation reads it), the global environment with the
// predefined variables, finding a declared variable by name, and the three
// steps of asking the device for values (queue a request, record the
// expression that waits for it, send the batch).
//
// Thread rule: main thread only.

#include "variables/RemoteDataRequest.h"

#include <memory>
#include <string>

namespace fieldmon {
class RemoteData;
class Requester;
} // namespace fieldmon

namespace fieldmon::expr {

class Scope;

class DeviceLink {
public:
    // Every evaluation asks, so it is a plain flag rather than a call.
    bool debug() const { return debug_; }
    void setDebug(bool v) { debug_ = v; }

    // The scope of the predefined variables, parent of every other scope.
    virtual const std::shared_ptr<Scope>& environment() const = 0;
    // The declared variable of that name, or null.
    virtual std::shared_ptr<RemoteData> variableNamed(const std::string& name) const = 0;
    // Files a request for the next batch (address or value queue by its kind).
    virtual void queueRequest(RemoteDataRequest request) = 0;
    // Records an expression that waits for the queued requests; it is told
    // (requeued) when their replies are in.
    virtual void addRequester(std::shared_ptr<Requester> requester) = 0;
    // Sends the queued requests as one batch; false when nothing went out.
    virtual bool submitRequests() = 0;

protected:
    explicit DeviceLink(bool debug) : debug_(debug) {}
    ~DeviceLink() = default;

private:
    bool debug_;
};

} // namespace fieldmon::expr
