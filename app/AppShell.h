#pragma once
// The app's shell: builds the app's object graph at start-up (launch()) and
// owns it for the whole run — the platform services (Qt main loop,
// notifications, alerts, HTTP file transport, the packet tap point and the
// storage thread), the window, the device list, the one detail screen, the
// navigation stack, the discovery service and the recording.
//
// Recording: recording().start(path) before launch() records from the first
// search on (`--record`); the device list's "Record" switch starts one into
// the export folder (--data-dir, else the documents folder) and stops it.
//
// The storage thread, which writes the history's database and recordings,
// starts only when one of them needs it: without either, the app runs on
// its main and listen threads alone.
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
#include "history/HistoryStore.h"
#include "platform/NotificationCenter.h"
#include "platform/PacketTapPoint.h"
#include "platform/StorageThread.h"
#include "platform/Services.h"
#include "widgets/QtAlerts.h"
#include "platform/qt/QtFileTransport.h"
#include "platform/qt/QtMainLoop.h"

#include <QString>

#include <memory>

namespace fieldmon {

class AppWindow;
class DeviceDetailScreen;
class NavigationStack;
class DeviceListScreen;

class DeviceSession;
class SessionWatch;

class AppShell {
public:
    // What the command line sets.
    struct Settings {
        // The history's database folder; empty: history in memory only.
        QString dataFolder;
        // Where CSV exports and the "Record" switch's files go; empty: the
        // working folder for exports, the documents folder for recordings.
        QString exportFolder;
        // Dim values that stopped being refreshed (--no-stale-marks: not).
        bool staleMarks = true;
    };

    // `seams` let tests run the finder on loopback, and `files` replaces the
    // HTTP transport (not owned); the app passes neither.
    explicit AppShell(ClientFinder::Seams seams = {}, platform::FileTransport* files = nullptr);
    ~AppShell();

    AppShell(const AppShell&) = delete;
    AppShell& operator=(const AppShell&) = delete;

    // Before launch().
    void configure(Settings settings) { settings_ = std::move(settings); }
    void launch();

    AppWindow* window() const { return window_.get(); }
    NavigationStack* stack() const { return stack_; }
    DeviceListScreen* deviceList() const { return deviceList_; }
    DeviceDetailScreen* detailScreen() const { return detailScreen_; }
    ClientFinder* finder() const { return finder_.get(); }
    Recording& recording() { return recording_; }
    platform::PacketTapPoint& taps() { return taps_; }
    const platform::Services& services() const { return services_; }
    history::HistoryStore* history() const { return history_.get(); }
    // The open device session's watch (history, trends, link health), or null.
    SessionWatch* sessionWatch() const { return watch_.get(); }
    const Settings& settings() const { return settings_; }

private:
    void startHistory();
    // The storage thread, started on first use.
    platform::StorageThread& storage();
    void watchSession(DeviceSession& session);

    platform::QtMainLoop loop_;
    platform::NotificationCenter notifications_;
    QtAlerts alerts_;
    platform::PacketTapPoint taps_;
    platform::QtFileTransport httpFiles_;
    // Writes the history's database and the recording's file, off the main
    // thread. Declared before both, so that it drains what they queued when
    // the shell goes.
    std::unique_ptr<platform::StorageThread> storage_;
    platform::Services services_;
    ClientFinder::Seams seams_;
    Settings settings_;
    // The history: made at launch, gone after every screen (the store hands
    // its last seconds to the storage thread as it goes).
    std::unique_ptr<history::HistoryStore> history_;
    std::unique_ptr<SessionWatch> watch_;

    std::unique_ptr<AppWindow> window_;
    DisplayBar displayBar_;
    NavigationStack* stack_ = nullptr;          // owned by the window
    DeviceListScreen* deviceList_ = nullptr;    // owned by the stack
    DeviceDetailScreen* detailScreen_ = nullptr; // owned by the stack
    std::unique_ptr<ClientFinder> finder_;
    Recording recording_{{taps_, [this]() -> platform::StorageThread& { return storage(); }, loop_, alerts_}};
};

} // namespace fieldmon
