#pragma once
// Hands each DeviceSink call to every sink added, in the order added.
//
// Thread rule: main thread only, like the sinks.

#include "gateway/DeviceSink.h"

#include <vector>

namespace fieldmon::gateway {

class DeviceSinks final : public DeviceSink {
public:
    // The sink is borrowed: it must outlive this object.
    void add(DeviceSink& sink) { sinks_.push_back(&sink); }

    void deviceUp(const ExportedDevice& device) override
    {
        for (DeviceSink* sink : sinks_)
            sink->deviceUp(device);
    }
    void deviceDown(const std::string& serial) override
    {
        for (DeviceSink* sink : sinks_)
            sink->deviceDown(serial);
    }
    void valuesChanged(const std::string& serial, std::span<const ElementValue> values) override
    {
        for (DeviceSink* sink : sinks_)
            sink->valuesChanged(serial, values);
    }
    void event(const std::string& serial, const std::string& text) override
    {
        for (DeviceSink* sink : sinks_)
            sink->event(serial, text);
    }
    void linkFigures(const std::string& serial, const LinkFigures& figures) override
    {
        for (DeviceSink* sink : sinks_)
            sink->linkFigures(serial, figures);
    }

private:
    std::vector<DeviceSink*> sinks_;
};

} // namespace fieldmon::gateway
