// Fuzzes the variable request machinery end to end: the input chooses which
// variables to request (with device addresses of its choosing), then supplies
// reply datagrams of any length and content. Replies come from the network,
// so nothing here may read or write out of bounds or abort.

#include "variables/RemoteData.h"
#include "variables/RemoteDataRequest.h"
#include "variables/Requester.h"
#include "variables/VariableStore.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace fieldmon;

namespace {

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    std::uint8_t byte() { return at < size ? data[at++] : 0; }
    std::string take(std::size_t n)
    {
        n = std::min(n, size - at);
        std::string s(reinterpret_cast<const char*>(data + at), n);
        at += n;
        return s;
    }
};

constexpr const char* kDeclarations =
    "(struct) pt { (WORD) x = 0; (DWORD) y = 2; (float) f = 6; };"
    "(struct) blob { (size_t) size = 200; }; (struct) page { (size_t) size = 4000; };"
    "(enum) mode { OFF; ON; FAULT = 7; };"
    "(BYTE) b = 0; (char) c = 1; (WORD) w = 2; (SWORD) sw = 3; (int) i = 4; (DWORD) dw = 5;"
    "(float) f = 6; (DEC10) d1 = 7; (DEC100) d2 = 8; (DEC1000) d3 = 9; (IP_ADDR) ip = 10;"
    "(size_t) st = 11; (pt) p = 12; (blob) bl = 13; (mode) m = 14; (unknown) u = 15; x; (WORD) hi = 200;"
    "(page) pg = 16;";

// Request items that one input may ask for in whole arrays: room to overflow
// a datagram several times over and to pass the element cache's limit with
// small elements, while bounding the slowest input.
constexpr unsigned kArrayBudget = 1536;

// Re-queues its variable a bounded number of times, as an expression would.
struct Requeuer : Requester {
    VariableStore& store;
    std::shared_ptr<RemoteData> var;
    int left;
    Requeuer(VariableStore& s, std::shared_ptr<RemoteData> v, int n) : store(s), var(std::move(v)), left(n) {}
    bool requeue() const override { return left > 0; }
    int queueVariableRequests() override
    {
        --left;
        store.requests().queue(var->varRequest());
        return 1;
    }
    void submitRequests() override { store.requests().submitRequests(); }
};

// The declarations are parsed once: their types (the only part that replies
// never touch) stay for the whole run, while every input gets fresh
// variables and empty queues, so that an input behaves the same when it is
// run alone.
struct Device {
    std::string lastSent;
    char id = 'a';
    VariableStore store{VariableStore::Link{
        [] { return false; },
        [this](std::string_view text) {
            lastSent.assign(text);
            return 0;
        },
        [this] { return id = static_cast<char>(id >= 'e' ? 'b' : id + 1); },
        {},
        {},
        {},
    }};

    Device() { store.parseVariableDeclaration(kDeclarations); }

    std::vector<std::shared_ptr<RemoteData>> freshVariables()
    {
        lastSent.clear();
        id = 'a';
        store.requests().clear();
        std::vector<std::shared_ptr<RemoteData>> vars;
        for (auto& [name, v] : store.varDict()) {
            vars.push_back(store.createVar(name, v->type(), v->varIndex()));
            vars.back()->setBase(true);
        }
        return vars;
    }
};

Device* device;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // "Missing data." and friends would drown the fuzzer's own output.
    if (!std::freopen("/dev/null", "w", stdout))
        return 0;
    device = new Device; // lives for the whole run
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in{data, size};
    VariableStore& store = device->store;
    const std::string& lastSent = device->lastSent;
    std::vector<std::shared_ptr<RemoteData>> vars = device->freshVariables();

    std::vector<std::shared_ptr<Requester>> requesters;
    unsigned arrayBudget = kArrayBudget;
    unsigned count = in.byte() % 64;
    for (unsigned i = 0; i < count; ++i) {
        auto v = vars[in.byte() % vars.size()];
        std::uint8_t op = in.byte();
        if (op & 1) {
            std::uint32_t a = static_cast<std::uint32_t>(in.byte()) << 8 | in.byte();
            if (op & 0x80)
                a |= 0xFFFF0000u;
            v->setRealAddress(static_cast<std::int32_t>(a));
        }
        if ((op & 2) && v->isReady()) {
            auto e = (op & 4) ? v->structureElement(op & 8 ? "y" : "x")
                              : v->arrayElement(static_cast<std::int8_t>(in.byte()));
            if (e) {
                v = e;
                vars.push_back(e);
            }
        }
        if (op & 0x10)
            v->invalidate();
        // Now and then a whole array: up to 63 elements, which overflow a
        // datagram when they are pages (54 items each) or blobs (3 items
        // each, from several arrays), or, for one count, more elements than
        // the cache keeps. That count is a plain value rather than a run of
        // 0xFF, which mutations make all the time: a large array takes
        // milliseconds, and most inputs must not. Every `stride`-th element
        // is asked for; the others are held by nothing but the cache and may
        // be evicted.
        if ((op & 0x0E) == 0x0E && v->isReady()) {
            std::uint8_t how = in.byte();
            unsigned stride = 1 + (how & 3u);
            unsigned n = how >> 2;
            if (n == 42)
                n = static_cast<unsigned>(RemoteData::kMaxCachedElements) + 64;
            const unsigned items = 1 + static_cast<unsigned>(v->size()) / RemoteDataRequest::kMaxItemBytes;
            n = std::min(n, arrayBudget / items);
            arrayBudget -= n * items;
            for (unsigned k = 1; k <= n; ++k)
                if (auto e = v->arrayElement(static_cast<std::int32_t>(k)); e && k % stride == 0)
                    store.requests().queue(e->varRequest());
        }
        store.requests().queue(v->varRequest());
        if (op & 0x20) {
            auto r = std::make_shared<Requeuer>(store, v, op >> 6);
            requesters.push_back(r);
            store.requests().waitingRequesters().push_back(r);
        }
        if (op & 0x40)
            store.requests().submitRequests();
    }

    // Up to 8 replies; each picks its kind, whether to answer the last
    // request's identifier, and its length.
    for (int round = 0; round < 8 && in.at < in.size; ++round) {
        store.requests().submitRequests();
        std::uint8_t how = in.byte();
        std::size_t length = static_cast<std::size_t>(in.byte()) | static_cast<std::size_t>(how & 3) << 8;
        std::string datagram = in.take(length);
        if ((how & 4) && datagram.size() >= 2 && lastSent.size() >= 2)
            datagram[1] = lastSent[1];
        if (how & 8)
            store.requests().handleAddressReply(datagram);
        else
            store.requests().handleValueReply(datagram);
    }

    // Read every variable whatever it holds now.
    volatile double sink = 0;
    for (auto& v : vars) {
        sink = sink + v->intValue() + v->doubleValue();
        sink = sink + static_cast<double>(v->defaultClientDataRepresentation().stringValue().size());
    }
    (void)sink;
    store.requests().clear();
    return 0;
}
