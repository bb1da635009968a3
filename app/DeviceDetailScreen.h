#pragma once
// The device detail screen ("Device"): one device's identity, its service
// mode switch, Host Request, Event Log and Connect, in one section headed by
// the device's name. One screen serves every device: the list sets the
// device before pushing it and forgets it (with the stored description) each
// time the list reappears. While it has a device the screen holds a shown
// lease on its record (see ShownLease): a device that falls silent meanwhile
// waits in the graveyard and comes back as the same record.
//
// Rows: Platform; Type ("PUMP v3"); Serial Number; IP Address (values in
// blue, right-aligned); Service Mode with a switch that sends
// "cservice 1\r\n"/"cservice 0\r\n"; Connect with a spinner; Host Request
// ("chostreq\n"); Event Log. Each appearance sends "E" to the device.
//
// Connect starts the device's session (DeviceSession, owned here), which
// fetches the device's "ui.xml"; the screen keeps the text and has the
// session read it and open its start page (parseXML()). The session ends
// when the user goes back from the start page. A second Connect while the
// device is shown reads the kept text again in a new session ("Reusing
// XML") without a transfer; one pressed while a fetch is still running waits
// for that fetch rather than starting another, and one whose pages are
// still open opens nothing more. The text comes from the fetch's own callback, never from a file
// notification: a notification's name (fileFrom<serial><file>) can be made
// by another device asking for a file of a fitting name. A fetch still
// running when the screen changes device is cancelled.
//
// A serial number that two hosts claim (see ClientFinder) is said on the
// Serial Number row ("1207 (two hosts)") and in a second section under the
// rows, "Two hosts claim serial 1207", with the other host's address.
//
// Thread rule: main thread only ("ListeningFoundNewClient" is posted there).

#include "app/ReloadPacer.h"
#include "device/ShownLease.h"
#include "platform/NotificationCenter.h"
#include "widgets/ActivitySpinner.h"
#include "widgets/GroupedTableView.h"
#include "widgets/Screen.h"

#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace fieldmon {

class Client;
class DeviceSession;

namespace platform {
class MainLoop;
}

class DeviceDetailScreen : public Screen, public TableSource {
    Q_OBJECT
public:
    enum Row { PlatformRow, TypeRow, SerialRow, AddressRow, ServiceRow, ConnectRow, HostRequestRow, EventLogRow, kRows };
    // The last section, "Link": how far the device's link can be trusted
    // (LinkHealth), refreshed every second while shown.
    enum LinkRow { RoundTripRow, LossRow, LastHeardRow, kLinkRows };
    int linkSection() const;
    // The value of a link row for the device's figures now.
    QString linkText(LinkRow row) const;
    // Tags of the cells' children.
    enum Tag { TitleTag = 1, ValueTag = 2, SwitchTag = 3, SpinnerTag = 4 };

    DeviceDetailScreen(platform::MainLoop& loop, platform::NotificationCenter& notifications,
                       QWidget* parent = nullptr);
    ~DeviceDetailScreen() override;

    // Shows `record` (a lease on it); a fetch in flight for another device
    // is cancelled.
    void setDevice(std::shared_ptr<Client> record);
    // No device and no stored description: the next selection starts fresh.
    void forgetDevice();

    // The platform's network activity indicator.
    std::function<void(bool)> networkActivity;
    // Told of each new session before it fetches or reads (the app hooks
    // its history and link health to it).
    std::function<void(DeviceSession&)> sessionStarted;

    void reloadData();
    // Ends the observation of "ListeningFoundNewClient" and the device's
    // session (its fetch and its pages).
    void stopObserving();

    GroupedTableView* tableView() const { return tableView_; }

    void viewWillAppear(bool animated) override;
    void backButtonPressed() override { hitBack(); }
    QString automationKind() const override { return QStringLiteral("detail"); }
    GroupedTableView* automationTable() const override { return tableView_; }

    // TableSource
    int numberOfSections(GroupedTableView&) override;
    QString titleForHeader(GroupedTableView&, int) override;
    int numberOfRows(GroupedTableView&, int section) override;
    TableCell* cellForRow(GroupedTableView& table, IndexPath path) override;
    void didSelectRow(GroupedTableView& table, IndexPath path) override;

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    // The switch: sends the service mode command; the switch's state is not
    // the device's, which reports its mode itself.
    void setServiceMode(bool on);
    // Row 5: start the spinner, read the kept description or fetch it.
    void connectToDevice();
    // A new session for the device, in place of any earlier one.
    DeviceSession* startSession();
    // The end of the fetch of "ui.xml": its bytes, or null on failure.
    void gotDescription(const platform::Bytes* bytes);
    // Has the session read a UI description, show its errors and open its
    // start page; without a text (a failed transfer) nothing opens and
    // xmlTransferFailed() tells the user. Stops the spinner in every case.
    void parseXML(const std::optional<std::string>& text);
    // The "XML parse error" alert (one "OK" button) for a ui.xml that could
    // not be fetched: "Could not fetch ui.xml from <address>".
    void xmlTransferFailed();
    void hitBack();

    void setActivity(bool on);
    void refreshLink();

    platform::MainLoop& loop_;
    platform::NotificationCenter& notifications_;
    GroupedTableView* tableView_;
    ShownLease device_;
    // The text of the device's ui.xml once fetched, read again by the next
    // Connect until the device is forgotten.
    std::optional<std::string> description_;
    QPointer<ActivitySpinner> activityView_;
    std::unique_ptr<DeviceSession> session_;
    ReloadPacer reloads_{loop_, [this] { reloadData(); }};
    platform::Subscription found_;
    QTimer linkTimer_;
};

} // namespace fieldmon
