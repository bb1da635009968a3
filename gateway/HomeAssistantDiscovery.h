#pragma once
// Home Assistant's device discovery message for one device: the retained
// message on <discovery>/device/<device id>/config that describes the
// device (`dev`), the gateway (`o`) and every entity (`cmps`) at once.
//
// Each element becomes one component:
//   label, gauge        sensor (numeric ones with state_class measurement
//                       and the unit when the document names one)
//   switch              switch with --allow-commands, otherwise
//                       binary_sensor (Home Assistant's switch needs a
//                       command topic, and without commands there is none)
//   picker              select with --allow-commands, otherwise a sensor
//                       showing the selection
//   text field          text with --allow-commands, otherwise nothing (a
//                       text field shows no value of its own)
// and every device also gets an `event` entity for its events, and
// diagnostic sensors for its document state (with the attributes as
// attributes) and its link round trip. All are tied to both the gateway's
// and the device's availability topics with availability_mode "all", so
// an entity is available only while the gateway runs and the device is
// present.
//
// Thread rule: pure functions; any thread.

#include "gateway/ExportedDevice.h"
#include "gateway/TopicLayout.h"

#include <string>

namespace fieldmon::gateway {

struct DiscoveryContext {
    const TopicLayout& topics;
    bool allowCommands = false;
    std::string gatewayVersion;
};

// The component key of an element inside `cmps` (unique within the device).
std::string componentKey(const ExportedElement& element);
std::string discoveryPayload(const ExportedDevice& device, const DiscoveryContext& context);
// The retained JSON on <prefix>/<serial>/attributes.
std::string attributesPayload(const ExportedDevice& device);

} // namespace fieldmon::gateway
