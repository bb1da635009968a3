#pragma once
// Passes on only the devices the operator included (--include-type,
// --include-serial). A device is judged when it comes up (that is when its
// type is known); later calls for a serial that was not let in go nowhere.
//
// Thread rule: main thread only, like the sinks.

#include "gateway/DeviceSink.h"

#include <functional>
#include <set>

namespace fieldmon::gateway {

class IncludedDevices final : public DeviceSink {
public:
    using Predicate = std::function<bool(const std::string& type, const std::string& serial)>;

    // `next` is borrowed: it must outlive this object.
    IncludedDevices(Predicate included, DeviceSink& next) : included_(std::move(included)), next_(next) {}

    void deviceUp(const ExportedDevice& device) override
    {
        if (!included_(device.type, device.serial)) {
            // A device that now reports a type left out is lost to the outputs.
            if (admitted_.erase(device.serial))
                next_.deviceDown(device.serial);
            return;
        }
        admitted_.insert(device.serial);
        next_.deviceUp(device);
    }
    void deviceDown(const std::string& serial) override
    {
        if (admitted_.count(serial))
            next_.deviceDown(serial);
    }
    void valuesChanged(const std::string& serial, std::span<const ElementValue> values) override
    {
        if (admitted_.count(serial))
            next_.valuesChanged(serial, values);
    }
    void event(const std::string& serial, const std::string& text) override
    {
        if (admitted_.count(serial))
            next_.event(serial, text);
    }
    void linkFigures(const std::string& serial, const LinkFigures& figures) override
    {
        if (admitted_.count(serial))
            next_.linkFigures(serial, figures);
    }

private:
    Predicate included_;
    DeviceSink& next_;
    std::set<std::string> admitted_;
};

} // namespace fieldmon::gateway
