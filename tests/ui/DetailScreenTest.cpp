// The device detail screen against a real finder and fake devices on
// loopback, with a fake file transport standing in for the device's HTTP.

#include "events/EventLog.h"
#include "platform/Diagnostics.h"
#include "ui/AppRig.h"
#include "widgets/ActivitySpinner.h"
#include "widgets/PhoneStyle.h"
#include "widgets/SectionIndex.h"
#include "widgets/ToggleSwitch.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <gtest/gtest.h>

#include <algorithm>

using namespace fieldmon;
using fieldmon::test::AppRig;
using fieldmon::test::waitFor;

namespace {

// Opens device 127.0.0.`host` from the list the way a finger does.
void openDevice(AppRig& rig, int host, const std::string& fields)
{
    ASSERT_TRUE(rig.announce(host, fields));
    auto& table = *rig.list().tableView();
    ASSERT_TRUE(waitFor([&] { return table.numberOfRows(0) > 0; }));
    auto client = rig.at(("127.0.0." + std::to_string(host)).c_str());
    for (int s = 0; s < table.numberOfSections(); ++s)
        for (int r = 0; r < table.numberOfRows(s); ++r)
            if (table.cellForRow({s, r})->text().endsWith(QStringLiteral("(%1)").arg(client->serialNumber()))) {
                test::tapRow(table, {s, r});
                // A finger taps the next row once the screen has slid in.
                ASSERT_TRUE(waitFor([&] { return rig.stack().top() == &rig.detail() && !rig.stack().isAnimating(); }));
                return;
            }
    FAIL() << "device not listed";
}

QString labelText(TableCell* cell, int tag)
{
    auto* label = qobject_cast<QLabel*>(cell->viewWithTag(tag));
    return label ? label->text() : QStringLiteral("<no label %1>").arg(tag);
}

int count(const std::vector<std::string>& all, const std::string& what)
{
    return static_cast<int>(std::count(all.begin(), all.end(), what));
}

// The spinner of the Connect row, as the user sees it turn.
ActivitySpinner* connectSpinner(AppRig& rig)
{
    TableCell* cell = rig.detail().tableView()->cellForRow({0, DeviceDetailScreen::ConnectRow});
    return cell ? qobject_cast<ActivitySpinner*>(cell->viewWithTag(DeviceDetailScreen::SpinnerTag)) : nullptr;
}

bool connecting(AppRig& rig)
{
    ActivitySpinner* spinner = connectSpinner(rig);
    return spinner && spinner->isAnimating();
}

} // namespace

TEST(DetailScreen, ShowsTheEightRowsOfTheDevice)
{
    AppRig rig;
    openDevice(rig, 2, "PLAT;PUMP;North well;3;1207;1");
    auto& table = *rig.detail().tableView();
    ASSERT_EQ(table.numberOfSections(), 2);
    ASSERT_EQ(table.numberOfRows(0), 8);
    // The link's figures: nothing asked yet, but the announcement was heard.
    ASSERT_EQ(table.numberOfRows(1), 3);
    EXPECT_EQ(table.headerTitle(1), "Link");
    EXPECT_EQ(labelText(table.cellForRow({1, DeviceDetailScreen::RoundTripRow}), 1), "Round trip");
    EXPECT_EQ(labelText(table.cellForRow({1, DeviceDetailScreen::RoundTripRow}), 2), "–");
    EXPECT_EQ(labelText(table.cellForRow({1, DeviceDetailScreen::LossRow}), 2), "–");
    EXPECT_TRUE(labelText(table.cellForRow({1, DeviceDetailScreen::LastHeardRow}), 2).endsWith(" s ago"));
    EXPECT_EQ(table.headerTitle(0), "North well");
    EXPECT_EQ(rig.detail().title(), "Device");
    EXPECT_TRUE(table.sectionIndex()->isHidden());

    struct Row {
        int row;
        QString identifier;
        QString title;
        QString value;
    };
    const Row info[] = {
        {0, "ClientDetailViewIdentifier", "Platform", "PLAT"},
        {1, "ClientDetailViewIdentifier", "Type", "PUMP v3"},
        {2, "ClientDetailViewIdentifier", "Serial Number", "1207"},
        {3, "ClientDetailViewIdentifier", "IP Address", "127.0.0.2"},
    };
    for (const Row& r : info) {
        TableCell* cell = table.cellForRow({0, r.row});
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->reuseIdentifier(), r.identifier);
        EXPECT_EQ(labelText(cell, 1), r.title);
        EXPECT_EQ(labelText(cell, 2), r.value);
        EXPECT_EQ(cell->selectionStyle(), TableCell::SelectionStyle::None);
        auto* value = cell->viewWithTag(2);
        EXPECT_EQ(value->palette().color(QPalette::WindowText), phone::valueBlue());
        EXPECT_TRUE(static_cast<QLabel*>(value)->alignment() & Qt::AlignRight);
        EXPECT_EQ(value->font().pixelSize(), 16);
        EXPECT_EQ(cell->viewWithTag(1)->font().pixelSize(), 16);
    }
    TableCell* toggle = table.cellForRow({0, 4});
    EXPECT_EQ(toggle->reuseIdentifier(), "ClientDetailViewIdentifierToggle");
    EXPECT_EQ(labelText(toggle, 1), "Service Mode");
    auto* sw = qobject_cast<ToggleSwitch*>(toggle->viewWithTag(3));
    ASSERT_NE(sw, nullptr);
    EXPECT_TRUE(sw->isChecked()) << "the device announced service mode on";

    const Row buttons[] = {
        {5, "ClientDetailViewIdentifierButtonSpin", "Connect", {}},
        {6, "ClientDetailViewIdentifierButton", "Host Request", {}},
        {7, "ClientDetailViewIdentifierButton", "Event Log", {}},
    };
    for (const Row& r : buttons) {
        TableCell* cell = table.cellForRow({0, r.row});
        EXPECT_EQ(cell->reuseIdentifier(), r.identifier);
        EXPECT_EQ(cell->text(), r.title);
        EXPECT_TRUE(cell->textLabel()->alignment() & Qt::AlignHCenter);
    }
    auto* spinner = qobject_cast<ActivitySpinner*>(table.cellForRow({0, 5})->viewWithTag(4));
    ASSERT_NE(spinner, nullptr);
    EXPECT_FALSE(spinner->isVisible()) << "a stopped spinner hides";
    // Nothing is clipped: every row lies inside the 416-point page.
    EXPECT_LE(table.rectForRow({0, 7}).bottom(), 416);
    test::shot(rig.screen(), "03-device-detail");
}

TEST(DetailScreen, DeviceTextsAreShownAsTheyAre)
{
    // A "%1" in a device's text was filled by the next .arg(): "Tank %1" with
    // serial 77 was listed as "Tank 77 (%2)", a type "FLOW%1" read "FLOW3 v%2".
    AppRig rig;
    openDevice(rig, 2, "PLAT;FLOW%1;Tank %1;3;77;0");
    EXPECT_EQ(rig.list().tableView()->cellForRow({0, 0})->text(), "Tank %1 (77)");
    EXPECT_EQ(rig.list().tableView()->headerTitle(0), "FLOW%1 (PLAT)");
    EXPECT_EQ(labelText(rig.detail().tableView()->cellForRow({0, 1}), 2), "FLOW%1 v3");
}

TEST(DetailScreen, EachAppearanceSendsEToTheDevice)
{
    AppRig rig;
    openDevice(rig, 2, "PLAT;PUMP;North well;3;1207;1");
    EXPECT_EQ(count(rig.received(2), "E"), 1);

    // Leaving for the event log and coming back is another appearance.
    test::tapRow(*rig.detail().tableView(), {0, DeviceDetailScreen::EventLogRow});
    ASSERT_NE(dynamic_cast<EventLog*>(rig.stack().top()), nullptr);
    rig.stack().pop(false);
    EXPECT_EQ(count(rig.received(2), "E"), 1);
}

TEST(DetailScreen, TheSwitchSendsServiceModeCommandsAndShowsTheReportedModeWhenRebuilt)
{
    AppRig rig;
    openDevice(rig, 2, "PLAT;PUMP;North well;3;1207;0");
    rig.received(2);
    auto& table = *rig.detail().tableView();
    auto* sw = qobject_cast<ToggleSwitch*>(table.cellForRow({0, 4})->viewWithTag(3));
    ASSERT_NE(sw, nullptr);
    EXPECT_FALSE(sw->isChecked());

    QTest::mouseClick(sw, Qt::LeftButton);
    EXPECT_EQ(count(rig.received(2), "cservice 1\r\n"), 1);
    QTest::mouseClick(sw, Qt::LeftButton);
    EXPECT_EQ(count(rig.received(2), "cservice 0\r\n"), 1);
    EXPECT_FALSE(rig.at("127.0.0.2")->service()) << "the command does not change the device's mode";

    // The device reports service mode on; the rebuilt switch shows it.
    rig.send(2, "e12:00:01 EVENTSYS_SVC_MODE_ON");
    ASSERT_TRUE(waitFor([&] { return rig.at("127.0.0.2")->service(); }));
    rig.detail().reloadData();
    sw = qobject_cast<ToggleSwitch*>(table.cellForRow({0, 4})->viewWithTag(3));
    EXPECT_TRUE(sw->isChecked());
    // A rebuilt switch must not send anything by being set.
    EXPECT_EQ(count(rig.received(2), "cservice 1\r\n"), 0);
    EXPECT_EQ(count(rig.received(2), "cservice 0\r\n"), 0);
}

TEST(DetailScreen, HostRequestSendsChostreq)
{
    AppRig rig;
    openDevice(rig, 2, "PLAT;PUMP;North well;3;1207;0");
    rig.received(2);
    test::tapRow(*rig.detail().tableView(), {0, DeviceDetailScreen::HostRequestRow});
    EXPECT_EQ(count(rig.received(2), "chostreq\n"), 1);
    EXPECT_EQ(rig.stack().top(), &rig.detail());
}

TEST(DetailScreen, ConnectFetchesUiXmlOnceEvenWhenPressedTwiceBeforeItArrives)
{
    AppRig rig;
    openDevice(rig, 2, "PLAT;PUMP;North well;3;1207;0");
    auto& table = *rig.detail().tableView();
    auto& nc = rig.app->services().notifications;
    platform::DiagnosticCapture out;

    test::tapRow(table, {0, DeviceDetailScreen::ConnectRow});
    EXPECT_TRUE(connecting(rig));
    EXPECT_TRUE(rig.app->window()->statusBar()->networkActivityIndicatorVisible());
    test::shot(rig.screen(), "04-device-connecting");
    test::tapRow(table, {0, DeviceDetailScreen::ConnectRow});
    ASSERT_EQ(rig.files.requests().size(), 1u);
    EXPECT_EQ(rig.files.requests()[0].url, "http://127.0.0.2/ui.xml");
    EXPECT_EQ(nc.observerCount("fileFrom1207ui.xml"), 0u) << "the result comes to the fetch, not by its name";

    std::string document = "<ui><page name=\"Main\"/></ui>";
    ASSERT_TRUE(rig.files.serve(rig.files.requests()[0].id, document + std::string(1, '\0') + "trailing"));
    ASSERT_TRUE(waitFor([&] { return !connecting(rig); }));
    EXPECT_FALSE(rig.app->window()->statusBar()->networkActivityIndicatorVisible());
    std::string printed = out.take();
    EXPECT_EQ(test::occurrences(printed, "Got a file\n"), 1);
    EXPECT_EQ(test::occurrences(printed, "Got file '" + document + "'\n"), 1) << "text ends at the first 0 byte";
}

TEST(DetailScreen, AnotherDevicesFileIsNeverTakenAsTheDescription)
{
    // The screen used to take whatever was posted as fileFrom1207ui.xml.
    // Device 120 asking for its "7ui.xml" posts exactly that name, and its
    // page-load command then went to device 1207.
    AppRig rig;
    openDevice(rig, 2, "PLAT;PUMP;North well;3;1207;0");
    ASSERT_TRUE(rig.announce(3, "PLAT;PUMP;Intruder;1;120;0"));
    ASSERT_TRUE(waitFor([&] { return rig.at("127.0.0.3") != nullptr; }));
    platform::DiagnosticCapture out;
    test::tapRow(*rig.detail().tableView(), {0, DeviceDetailScreen::ConnectRow});
    rig.at("127.0.0.3")->files().request("7ui.xml");
    ASSERT_EQ(rig.files.requests().size(), 2u);
    ASSERT_TRUE(rig.files.serve(rig.files.requests()[1].id,
                                "<ui><start initial='p'/><page name='p' onPageLoad='\"OPEN VALVE\"'/></ui>"));
    QTest::qWait(20);
    EXPECT_EQ(rig.stack().top(), &rig.detail());
    EXPECT_TRUE(connecting(rig)) << "still waiting for its own fetch";
    EXPECT_EQ(test::occurrences(out.text(), "Got file"), 0);
    ASSERT_TRUE(rig.files.serve(rig.files.requests()[0].id, "<ui/>"));
    ASSERT_TRUE(waitFor([&] { return !connecting(rig); }));
    EXPECT_EQ(test::occurrences(out.take(), "Got file '<ui/>'\n"), 1);
    EXPECT_EQ(count(rig.received(2), "cOPEN VALVE\n"), 0);
}

TEST(DetailScreen, SaysWhenTwoHostsClaimTheSerial)
{
    // Another host announcing this device's serial number while the device
    // answers takes nothing over; the screen says that two hosts claim it.
    AppRig rig;
    openDevice(rig, 2, "PLAT;PUMP;North well;3;1207;0");
    auto& table = *rig.detail().tableView();
    ASSERT_EQ(table.numberOfSections(), 2);
    rig.send(3, "mPLAT;PUMP;Impostor;3;1207;1");
    ASSERT_TRUE(waitFor([&] { return table.numberOfSections() == 3; }));
    EXPECT_EQ(table.headerTitle(2), "Link");
    EXPECT_EQ(table.headerTitle(1), "Two hosts claim serial 1207");
    ASSERT_EQ(table.numberOfRows(1), 1);
    TableCell* cell = table.cellForRow({1, 0});
    EXPECT_EQ(labelText(cell, 1), "Other host");
    EXPECT_EQ(labelText(cell, 2), "127.0.0.3");
    EXPECT_EQ(labelText(table.cellForRow({0, DeviceDetailScreen::AddressRow}), 2), "127.0.0.2");
    EXPECT_EQ(labelText(table.cellForRow({0, DeviceDetailScreen::SerialRow}), 2), "1207 (two hosts)");
    EXPECT_EQ(table.headerTitle(0), "North well");
    test::shot(rig.screen(), "04-detail-two-hosts");
}

TEST(DetailScreen, SecondConnectReusesTheDescriptionUntilTheListReappears)
{
    AppRig rig;
    openDevice(rig, 2, "PLAT;PUMP;North well;3;1207;0");
    auto& table = *rig.detail().tableView();
    test::tapRow(table, {0, DeviceDetailScreen::ConnectRow});
    ASSERT_EQ(rig.files.requests().size(), 1u);
    ASSERT_TRUE(rig.files.serve(rig.files.requests()[0].id, "<ui/>"));
    ASSERT_TRUE(waitFor([&] { return !connecting(rig); }));

    {
        platform::DiagnosticCapture out;
        test::tapRow(table, {0, DeviceDetailScreen::ConnectRow});
        ASSERT_TRUE(waitFor([&] { return !connecting(rig); }));
        std::string printed = out.take();
        EXPECT_EQ(test::occurrences(printed, "Reusing XML\n"), 1);
        EXPECT_EQ(test::occurrences(printed, "Got file '<ui/>'\n"), 1);
    }
    EXPECT_EQ(rig.files.requests().size(), 1u) << "no new HTTP request";

    // Back to the list and the same device again: the description is fetched anew.
    rig.stack().pop(false);
    openDevice(rig, 2, "PLAT;PUMP;North well;3;1207;0");
    test::tapRow(table, {0, DeviceDetailScreen::ConnectRow});
    EXPECT_EQ(rig.files.requests().size(), 2u);
}

TEST(DetailScreen, ConnectOpensTheDevicesPagesUntilTheUserGoesBackFromTheStartPage)
{
    // The screen owns the device's session: Connect opens the start page,
    // going back from it ends the pages and their requests and leaves the
    // record as only the screen holds it, and the next Connect reads the
    // kept text into a fresh set of pages. Two Connects reading the kept
    // text open one set: a second set over the first shared the device's
    // bindings, and leaving it stopped the first set's values too.
    AppRig rig;
    openDevice(rig, 2, "PLAT;PUMP;North well;3;1207;0");
    auto& table = *rig.detail().tableView();
    std::weak_ptr<Client> record = rig.at("127.0.0.2");
    ASSERT_FALSE(record.expired());
    auto references = [&] { return record.use_count(); };
    const long baseline = references();
    const std::string document = "<ui><start initial='m'/><page name='m' title='\"Pump\"' onPageLoad='\"OPEN\"'/></ui>";
    for (int connect = 0; connect < 2; ++connect) {
        test::tapRow(table, {0, DeviceDetailScreen::ConnectRow});
        if (connect == 1)
            test::tapRow(table, {0, DeviceDetailScreen::ConnectRow});
        if (connect == 0) {
            ASSERT_EQ(rig.files.requests().size(), 1u);
            ASSERT_TRUE(rig.files.serve(rig.files.requests()[0].id, document));
        }
        ASSERT_TRUE(waitFor([&] { return rig.stack().depth() == 3 && !rig.stack().isAnimating(); })) << connect;
        QTest::qWait(50);
        EXPECT_EQ(rig.stack().depth(), 3) << connect;
        EXPECT_EQ(rig.stack().top()->title(), "Pump");
        EXPECT_EQ(count(rig.received(2), "cOPEN\n"), 1) << connect;
        EXPECT_GT(references(), baseline);
        QTest::mouseClick(rig.stack().bar()->backButton(), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return rig.stack().top() == &rig.detail() && !rig.stack().isAnimating(); }));
        ASSERT_TRUE(waitFor([&] { return references() == baseline; })) << connect << ": " << references();
        EXPECT_TRUE(rig.at("127.0.0.2")->shown()) << "the detail screen still shows it";
    }
    EXPECT_EQ(rig.files.requests().size(), 1u) << "the second Connect read the kept text";
}

TEST(DetailScreen, AFailedTransferStopsTheSpinnerKeepsNothingAndTheNextConnectTriesAgain)
{
    AppRig rig;
    openDevice(rig, 2, "PLAT;PUMP;North well;3;1207;0");
    auto& table = *rig.detail().tableView();
    test::tapRow(table, {0, DeviceDetailScreen::ConnectRow});
    ASSERT_EQ(rig.files.requests().size(), 1u);
    ASSERT_TRUE(rig.files.fail(rig.files.requests()[0].id, "Could not connect to server"));
    ASSERT_TRUE(waitFor([&] { return !connecting(rig); }));
    EXPECT_FALSE(rig.app->window()->statusBar()->networkActivityIndicatorVisible());
    EXPECT_EQ(rig.stack().top(), &rig.detail()) << "no page opens";
    // The failure used to pass in silence: the user saw the spinner stop and
    // nothing else.
    auto boxes = rig.app->window()->findChildren<QMessageBox*>();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->windowTitle(), "XML parse error");
    EXPECT_EQ(boxes[0]->informativeText(), "Could not fetch ui.xml from 127.0.0.2");
    ASSERT_EQ(boxes[0]->buttons().size(), 1);
    EXPECT_EQ(boxes[0]->buttons()[0]->text(), "OK");
    test::shot(boxes[0], "04-detail-fetch-failed");
    QTest::mouseClick(boxes[0]->buttons()[0], Qt::LeftButton);

    test::tapRow(table, {0, DeviceDetailScreen::ConnectRow});
    EXPECT_EQ(rig.files.requests().size(), 2u);
}

TEST(DetailScreen, LeavingTheDeviceCancelsItsFetch)
{
    AppRig rig;
    openDevice(rig, 2, "PLAT;PUMP;North well;3;1207;0");
    test::tapRow(*rig.detail().tableView(), {0, DeviceDetailScreen::ConnectRow});
    ASSERT_EQ(rig.files.requests().size(), 1u);
    rig.stack().pop(false);
    EXPECT_TRUE(rig.files.find(rig.files.requests()[0].id)->cancelled);
    EXPECT_FALSE(rig.files.serve(rig.files.requests()[0].id, "<ui/>"));
    QTest::qWait(20);
    EXPECT_FALSE(rig.app->window()->statusBar()->networkActivityIndicatorVisible());
}
