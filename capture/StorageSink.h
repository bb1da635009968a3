#pragma once
// StorageSink: what the recorder needs of the storage thread, the one thread
// that owns file I/O: run a job there, in submission order. The recorder
// bounds its own queue, so a sink never refuses a job.
//
// Thread rule: submit() from any thread; jobs run on the storage thread, one
// at a time.

#include <functional>

namespace fieldmon::capture {

class StorageSink {
public:
    using Job = std::function<void()>;
    virtual ~StorageSink() = default;
    virtual void submit(Job job) = 0;
};

} // namespace fieldmon::capture
