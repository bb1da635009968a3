// Fuzzes the expression language: arbitrary text (expression attributes come
// from device documents) is compiled for a device with a few declared
// variables, some with addresses and values, and then driven through what
// widgets and the scheduler do with it: evaluation in all its readings,
// constant checks, invalidation, request queueing and submission, and
// evaluation inside a wrapping environment with a local variable. The first
// input byte picks a frame for the text, so that the fuzzer also reaches the
// printf formatter and argument lists directly.

#include "device/Client.h"
#include "expr/Compiler.h"
#include "expr/Node.h"
#include "expr/Scope.h"
#include "support/ManualLoop.h"
#include "platform/NotificationCenter.h"
#include "support/RecordingAlerts.h"
#include "variables/RemoteData.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

using namespace fieldmon;

namespace {

struct Device {
    platform::ManualLoop loop;
    platform::NotificationCenter notifications;
    platform::RecordingAlerts alerts;
    platform::Services services{loop, notifications, alerts};
    std::shared_ptr<Client> client = Client::create(false, services);

    Device()
    {
        client->variables().parseVariableDeclaration(
            "(struct) pt { (WORD) x = 0; (DWORD) y = 2; (float) f = 6; };"
            "(enum) mode { OFF; ON; FAULT = 7; };"
            "(BYTE) b = 0; (WORD) w = 1; (int) i = 2; (float) f = 3; (DEC10) temp = 4; (IP_ADDR) ip = 5;"
            "(pt) p = 6; (mode) m = 7; (WORD) t = 8; (unknown) u = 9; (WORD) noaddr = 10; (BYTE) state = 11;");
        static const std::uint8_t bytes[16] = {0x07, 0x80, 0xFF, 0x7F, 0x01, 0x00, 0xC0, 0x3F, 1, 2, 3, 4, 5, 6, 7, 8};
        std::int32_t address = 0x100;
        for (auto& [name, v] : client->variables().varDict()) {
            if (name == "noaddr")
                continue;
            v->setRealAddress(address);
            address += 32;
            if (v->size() <= static_cast<std::int32_t>(sizeof bytes))
                v->storeData(bytes, v->size());
        }
    }
};

Device& device()
{
    static Device d;
    return d;
}

std::string framed(std::uint8_t frame, std::string_view text)
{
    switch (frame % 4) {
    case 1: return "printf(\"" + std::string(text) + "\", w, f, temp, ip, m, -3, 2.5, \"txt\", k)";
    case 2: return "max(" + std::string(text) + ") + t[" + std::string(text) + "]";
    case 3: return std::string(text) + " ? p.x : p.f";
    }
    return std::string(text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Compiler and evaluation messages would drown the fuzzer's own output.
    if (!std::freopen("/dev/null", "w", stdout))
        return 0;
    device();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    Device& d = device();
    Client& client = *d.client;
    const std::uint8_t control = data[0];
    client.setDebug((control & 0x80) != 0); // the traced path as well
    std::string text = framed(control, std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

    auto node = expr::Compiler::compile(d.client, text);
    volatile double sink = 0;
    sink = sink + static_cast<double>(node->string().size() + node->description().size());
    sink = sink + node->isConst() + node->isStatic();
    for (int round = 0; round < 2; ++round) {
        sink = sink + static_cast<double>(node->eval().stringValue().size());
        sink = sink + node->intValue() + node->doubleValue();
        sink = sink + node->invalidateRemoteVariableValues();
        sink = sink + node->queueVariableRequests();
        sink = sink + static_cast<double>(node->staticPart().size());
    }

    // The same text as a command of a widget with a parameter.
    auto wrapper = expr::Scope::create(d.client, node);
    wrapper->setVariable("k", expr::Node::integer(nullptr, control));
    wrapper->setVariable("state", expr::Node::real(nullptr, 0.5));
    sink = sink + static_cast<double>(wrapper->stringValue().size());
    sink = sink + wrapper->queueVariableRequests();
    wrapper->setVariable("k", expr::Node::string(nullptr, "x"));
    sink = sink + wrapper->doubleValue();
    (void)sink;

    // Whatever was queued goes out (to no socket) and the record forgets it,
    // so that the device does not accumulate state from input to input.
    while (client.variables().requests().submitRequests()) {
    }
    client.variables().requests().clear();
    client.setDebug(false);
    return 0;
}
