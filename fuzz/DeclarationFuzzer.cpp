// Fuzzes the declaration parser with any text, then exercises every variable
// and type it produced: sizes, readings, requests and element variables.
// Declarations come from a device's document and are untrusted.

#include "variables/RemoteData.h"
#include "variables/RemoteDataRequest.h"
#include "variables/VariableStore.h"

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

using namespace fieldmon;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Unknown-type warnings and syntax errors go to stdout; keep it quiet.
    if (!std::freopen("/dev/null", "w", stdout))
        return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    VariableStore store(VariableStore::Link{[] { return false; }, [](std::string_view) { return 0; }, [] { return 'b'; }, {}, {}, {}});
    std::string_view text(reinterpret_cast<const char*>(data), size);
    store.parseVariableDeclaration(text);
    // A second piece on top of the first, as the reader may deliver.
    store.parseVariableDeclaration(text.substr(size / 2));

    static const std::uint8_t pattern[RemoteData::kMaxStorageSize] = {0x7F, 0xFF, 0x80, 0x01, 0xC0};
    volatile double sink = 0;
    std::int32_t address = 0x100;
    for (auto& [name, v] : store.varDict()) {
        if (v->size() < 0 || v->size() > RemoteData::kMaxStorageSize)
            __builtin_trap();
        sink = sink + static_cast<double>(v->varRequest().request().size());
        v->setRealAddress(address);
        address += 64;
        v->storeData(pattern, v->size());
        sink = sink + v->intValue() + v->doubleValue();
        sink = sink + static_cast<double>(v->defaultClientDataRepresentation().stringValue().size());
        sink = sink + static_cast<double>(v->varRequest().request().size());
        if (auto t = v->structureType())
            for (auto& [member, m] : t->elements())
                if (auto e = v->structureElement(member))
                    sink = sink + e->intValue();
        if (auto e = v->arrayElement(3))
            sink = sink + e->realAddress();
    }
    for (auto& [name, t] : store.globalDataTypes())
        sink = sink + static_cast<double>(t->description().size());
    (void)sink;
    return 0;
}
