#pragma once
// The platform services a core object needs, passed in at construction so that
// tests can hand in a ManualLoop and RecordingAlerts. Nothing here is global.
//
// Thread rule: the struct is a bundle of references; each service states its own.

namespace fieldmon::platform {

class MainLoop;
class NotificationCenter;
class Alerts;
class FileTransport;
class PacketTapPoint;

struct Services {
    MainLoop& loop;
    NotificationCenter& notifications;
    Alerts& alerts;
    // HTTP file transfers; without one, every file request fails at once.
    FileTransport* files = nullptr;
    // Where sent and received datagrams are shown to a recorder; without
    // one, nothing is tapped.
    PacketTapPoint* taps = nullptr;
};

} // namespace fieldmon::platform
