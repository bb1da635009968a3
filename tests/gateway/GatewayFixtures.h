#pragma once
// Devices for the gateway's tests: one element of each kind.

#include "gateway/ExportedDevice.h"

namespace fieldmon::gateway::testing {

inline ExportedDevice pumpDevice(const std::string& serial = "1207")
{
    ExportedDevice device;
    device.serial = serial;
    device.name = "North well";
    device.type = "PUMP";
    device.platform = "PLAT";
    device.version = "3";
    device.address = "10.77.0.10";
    device.elements = {
        {"main", "label0", "Speed", ExportKind::Label, true, "rpm", {}},
        {"main", "gauge1", "Pressure", ExportKind::Gauge, true, "", {}},
        {"main", "bool2", "pump", ExportKind::Switch, false, "", {}},
        {"main", "thumbwheel3", "Gear", ExportKind::Picker, false, "", {"1 Fwd", "2 Fwd", "1 Rev"}},
        {"main", "textfield4", "Command", ExportKind::TextField, false, "", {}},
        {"main", "label5", "Mode", ExportKind::Label, false, "", {}},
    };
    return device;
}

} // namespace fieldmon::gateway::testing
