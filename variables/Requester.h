#pragma once
// Requester: something that queued variable requests into a device record and
// wants to continue when the reply has been stored: compiled expressions,
// environments and table pages. The request machinery keeps the requesters of
// each datagram in a trailing entry; when the reply is in, it re-queues every
// requester whose requeue() is true and then submits the next batch through
// the last one.
//
// Thread rule: main thread only.

namespace fieldmon {

class Requester {
public:
    virtual ~Requester() = default;

    // Whether the request machinery should call queueVariableRequests() again
    // when a reply for this requester has been stored.
    virtual bool requeue() const = 0;

    // Queues what is still missing (returns how many requests), or, when
    // nothing is, delivers the value to the binding waiting for it.
    virtual int queueVariableRequests() = 0;

    // Sends the device record's queued requests (forwards to the record).
    virtual void submitRequests() = 0;
};

} // namespace fieldmon
