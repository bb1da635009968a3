#pragma once
// The app's shell: builds the app's object graph at start-up (launch()) and
// owns it for the whole run — the platform services (Qt main loop,
// notifications, alerts, HTTP file transport, the packet tap point and the
// storage thread), the window, the device list, the one detail screen, the
// navigation stack, the discovery service and the recording.
//
// Recording: recording().start(path) before launch() records from the first
// search on (`--record`); the device list's "Record" switch starts one into
// the documents folder and stops it.
//
// Start-up order: the window; the device list and the detail screen, the
// list given the detail screen; the finder, handed to the list, and the
// search started; the stack with the list as root and DisplayBar as its
// delegate, bar visible; the list titled "Devices"; the window shown.
//
// Shutdown: the screens stop observing the finder first, a device's pages
// still on the stack are ended, then the finder stops its listen thread,
// then the screens and services go.
//
// Thread rule: main thread only.

#include "app/DisplayBar.h"
#include "app/Recording.h"
#include "discovery/ClientFinder.h"
#include "platform/NotificationCenter.h"
#include "platform/PacketTapPoint.h"
#include "platform/StorageThread.h"
#include "platform/Services.h"
#include "widgets/QtAlerts.h"
#include "platform/qt/QtFileTransport.h"
#include "platform/qt/QtMainLoop.h"

#include <memory>

namespace fieldmon {

class AppWindow;
class DeviceDetailScreen;
class NavigationStack;
class DeviceListScreen;

class AppShell {
public:
    // `seams` let tests run the finder on loopback, and `files` replaces the
    // HTTP transport (not owned); the app passes neither.
    explicit AppShell(ClientFinder::Seams seams = {}, platform::FileTransport* files = nullptr);
    ~AppShell();

    AppShell(const AppShell&) = delete;
    AppShell& operator=(const AppShell&) = delete;

    void launch();

    AppWindow* window() const { return window_.get(); }
    NavigationStack* stack() const { return stack_; }
    DeviceListScreen* deviceList() const { return deviceList_; }
    DeviceDetailScreen* detailScreen() const { return detailScreen_; }
    ClientFinder* finder() const { return finder_.get(); }
    Recording& recording() { return recording_; }
    // Where the "Record" switch puts its files; the documents folder unless set.
    void setRecordingFolder(QString folder) { recordingFolder_ = std::move(folder); }
    platform::PacketTapPoint& taps() { return taps_; }
    const platform::Services& services() const { return services_; }

private:
    platform::QtMainLoop loop_;
    platform::NotificationCenter notifications_;
    QtAlerts alerts_;
    platform::PacketTapPoint taps_;
    platform::QtFileTransport httpFiles_;
    // Writes the recording's file, off the main thread. Declared before the
    // recording, so it drains what the recording queued when the shell goes.
    platform::StorageThread storage_;
    platform::Services services_;
    ClientFinder::Seams seams_;
    QString recordingFolder_;

    std::unique_ptr<AppWindow> window_;
    DisplayBar displayBar_;
    NavigationStack* stack_ = nullptr;          // owned by the window
    DeviceListScreen* deviceList_ = nullptr;    // owned by the stack
    DeviceDetailScreen* detailScreen_ = nullptr; // owned by the stack
    std::unique_ptr<ClientFinder> finder_;
    Recording recording_{{taps_, storage_, loop_, alerts_}};
};

} // namespace fieldmon
