#pragma once
// The platform services a core object needs, passed in at construction so that
// tests can hand in a ManualLoop and RecordingAlerts. Nothing here is global.
//
// Thread rule: the struct is a bundle of references; each service states its own.

namespace fieldmon::platform {

class MainLoop;
class NotificationCenter;
class Alerts;

struct Services {
    MainLoop& loop;
    NotificationCenter& notifications;
    Alerts& alerts;
};

} // namespace fieldmon::platform
