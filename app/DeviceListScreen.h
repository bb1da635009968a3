#pragma once
// The device list ("Devices"): the finder's registry shown directly, one
// section per type key in order of first appearance, each listing the
// records of that type in the order they were found, as "name (serial)".
// With no device the list shows one empty section headed "No clients found".
//
// Each reload reads the registry once, through the finder's snapshot (taken
// under the registry locks in their order), and every question of the table
// is answered from that value, so the sections, headers, rows and cells of
// one reload always agree. The list reloads on "ListeningFoundNewClient".
//
// Under the list, a bar holds the "Record" switch: turning it on or off by
// hand tells `recordSwitched`; showRecording() sets it from code (a
// recording that began with the app or stopped by itself). The automation
// interface reads it as the screen's "record" field (on, frame).
//
// Selecting a row hands the record to the detail screen, which takes a
// shown lease on it; the list itself shows no record (its snapshot holds
// weak references).
//
// Thread rule: main thread only ("ListeningFoundNewClient" is posted there).

#include "app/ReloadPacer.h"
#include "discovery/ClientRegistry.h"
#include "platform/NotificationCenter.h"
#include "widgets/GroupedTableView.h"
#include "widgets/Screen.h"

#include <functional>
#include <memory>

class QLabel;

namespace fieldmon {

class Client;
class DeviceDetailScreen;
class ToggleSwitch;
class ClientFinder;

namespace platform {
class MainLoop;
}

class DeviceListScreen : public Screen, public TableSource {
    Q_OBJECT
public:
    DeviceListScreen(platform::MainLoop& loop, platform::NotificationCenter& notifications,
                     QWidget* parent = nullptr);
    ~DeviceListScreen() override;

    void setFinder(ClientFinder* finder) { finder_ = finder; }
    void setDetailScreen(DeviceDetailScreen* detail) { detailScreen_ = detail; }

    // Takes a fresh snapshot and reloads the table; runs on the main thread.
    void reloadData();
    // Ends the observation of "ListeningFoundNewClient". Call before the
    // finder goes.
    void stopObserving();

    // The user turned the "Record" switch.
    std::function<void(bool on)> recordSwitched;
    void showRecording(bool on);
    ToggleSwitch* recordSwitch() const { return recordSwitch_; }
    static constexpr int kRecordBarHeight = 44;

    void viewWillAppear(bool animated) override;
    void inspect(QJsonObject& screen) const override;
    GroupedTableView* tableView() const { return tableView_; }
    QString automationKind() const override { return QStringLiteral("devices"); }
    GroupedTableView* automationTable() const override { return tableView_; }


    // TableSource
    int numberOfSections(GroupedTableView&) override;
    QString titleForHeader(GroupedTableView&, int section) override;
    int numberOfRows(GroupedTableView&, int section) override;
    TableCell* cellForRow(GroupedTableView& table, IndexPath path) override;
    void didSelectRow(GroupedTableView& table, IndexPath path) override;

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    // The text of a row: "%@ (%d)" with name and serial number.
    static QString rowText(const Client& client);

    platform::MainLoop& loop_;
    GroupedTableView* tableView_;
    QWidget* recordBar_;
    QLabel* recordLabel_;
    ToggleSwitch* recordSwitch_;
    ClientFinder* finder_ = nullptr;
    RegistrySnapshot registry_; // as of the last reload
    DeviceDetailScreen* detailScreen_ = nullptr;
    ReloadPacer reloads_{loop_, [this] { reloadData(); }};
    platform::Subscription found_;
};

} // namespace fieldmon
