#pragma once
// The calls through which the device side of the gateway reports what it
// sees. The MQTT publisher and the metrics model each implement it;
// DeviceSinks hands every call to both. The device side (document bindings
// and discovery) calls nothing else of them.
//
// Thread rule: every call on the main thread (the QCoreApplication loop).

#include "gateway/ExportedDevice.h"

#include <span>
#include <string>

namespace fieldmon::gateway {

class DeviceSink {
public:
    virtual ~DeviceSink() = default;

    // The device is present and its document was read (or failed to read:
    // then `device.documentError` says why). Called again with a new
    // description when the device returns or its document changes.
    virtual void deviceUp(const ExportedDevice& device) = 0;
    // The device was lost (removed from the registry).
    virtual void deviceDown(const std::string& serial) = 0;
    // Elements of a device that is up changed their value. Indexes outside
    // the description are ignored.
    virtual void valuesChanged(const std::string& serial, std::span<const ElementValue> values) = 0;
    // The device sent an event line.
    virtual void event(const std::string& serial, const std::string& text) = 0;
    // The device record's link health was measured again.
    virtual void linkFigures(const std::string& serial, const LinkFigures& figures) = 0;
};

} // namespace fieldmon::gateway
