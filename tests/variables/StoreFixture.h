#pragma once
// A variable store wired to a recording link: sent request texts are kept,
// identifiers come from a scripted counter, the debug flag is a plain bool.
// No sockets.

#include "variables/RemoteData.h"
#include "variables/VariableStore.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fieldmon::test {

struct RecordingStore {
    std::vector<std::string> sent;
    char nextId = 'b';
    bool debugFlag = false;
    VariableStore store{VariableStore::Link{
        [this] { return debugFlag; },
        [this](std::string_view text) {
            sent.emplace_back(text);
            return 0;
        },
        [this] { return nextId; },
        {},
        {},
        {},
    }};

    // A variable with a type, an index and (unless -1) an address.
    std::shared_ptr<RemoteData> var(const std::string& type, std::int32_t index = 0, std::int32_t address = -1)
    {
        auto v = store.createVar("v" + std::to_string(index), type, index);
        v->setRealAddress(address);
        return v;
    }
};

// The bytes of a text as a vector, to store or compare.
inline std::vector<std::uint8_t> bytes(std::initializer_list<int> list)
{
    std::vector<std::uint8_t> out;
    for (int b : list)
        out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

// A reply datagram: kind, identifier, payload, closing byte.
inline std::string reply(char kind, char id, const std::vector<std::uint8_t>& payload)
{
    std::string d;
    d += kind;
    d += id;
    d.append(payload.begin(), payload.end());
    d += '\0';
    return d;
}

} // namespace fieldmon::test
