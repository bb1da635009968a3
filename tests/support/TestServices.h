#pragma once
// The platform services a unit test hands to core objects: a manual loop on a
// virtual clock, a notification centre and recording alerts.

#include "support/ManualLoop.h"
#include "platform/NotificationCenter.h"
#include "support/RecordingAlerts.h"
#include "platform/Services.h"

namespace fieldmon::test {

struct TestServices {
    platform::ManualLoop loop;
    platform::NotificationCenter notifications;
    platform::RecordingAlerts alerts;
    platform::Services services{loop, notifications, alerts};
};

} // namespace fieldmon::test
