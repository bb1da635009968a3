// The device list against a real finder fed by fake devices on loopback.

#include "app/ReloadPacer.h"
#include "platform/Diagnostics.h"
#include "support/ManualLoop.h"
#include "ui/AppRig.h"

#include <gtest/gtest.h>

using namespace fieldmon;
using fieldmon::test::AppRig;
using fieldmon::test::waitFor;

namespace {

std::vector<std::string> rowTexts(GroupedTableView& table, int section)
{
    std::vector<std::string> texts;
    for (int r = 0; r < table.numberOfRows(section); ++r)
        texts.push_back(table.cellForRow({section, r})->text().toStdString());
    return texts;
}

} // namespace

TEST(DeviceList, StartsTitledDevicesWithOneEmptySectionNoClientsFound)
{
    platform::DiagnosticCapture out;
    AppRig rig;
    auto& table = *rig.list().tableView();
    EXPECT_EQ(rig.list().title(), "Devices");
    EXPECT_EQ(rig.stack().top(), &rig.list());
    EXPECT_FALSE(rig.stack().isNavigationBarHidden());
    EXPECT_EQ(rig.stack().bar()->title(), "Devices");
    EXPECT_EQ(table.numberOfSections(), 1);
    EXPECT_EQ(table.headerTitle(0), "No clients found");
    EXPECT_EQ(table.numberOfRows(0), 0);
    test::shot(rig.screen(), "01-devices-empty");
    std::string printed = out.take();
    EXPECT_NE(printed.find("Starting up the table view\n"), std::string::npos);
    EXPECT_NE(printed.find("View will appear\n"), std::string::npos);
}

TEST(DeviceList, GroupsDevicesByTypeInOrderOfFirstAppearance)
{
    AppRig rig;
    auto& table = *rig.list().tableView();
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;North well;3;1207;1"));
    ASSERT_TRUE(rig.announce(3, "ARM;VALVE;Inlet valve;2;31;0"));
    ASSERT_TRUE(rig.announce(4, "PLAT;PUMP;South well;3;1208;0"));
    ASSERT_TRUE(waitFor([&] { return table.numberOfSections() == 2 && table.numberOfRows(0) == 2; }));

    EXPECT_EQ(table.headerTitle(0), "PUMP (PLAT)");
    EXPECT_EQ(table.headerTitle(1), "VALVE (ARM)");
    EXPECT_EQ(rowTexts(table, 0), (std::vector<std::string>{"North well (1207)", "South well (1208)"}));
    EXPECT_EQ(rowTexts(table, 1), (std::vector<std::string>{"Inlet valve (31)"}));
    EXPECT_EQ(table.cellForRow({0, 0})->accessory(), TableCell::Accessory::DisclosureIndicator);
    EXPECT_EQ(table.cellForRow({0, 0})->reuseIdentifier(), "ClientListIdentifier");
    test::shot(rig.screen(), "02-devices-two-types");
}

TEST(DeviceList, ADeviceWithoutANameStillGetsALegibleRow)
{
    AppRig rig;
    auto& table = *rig.list().tableView();
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;;3;77;0"));
    ASSERT_TRUE(waitFor([&] { return table.numberOfRows(0) == 1; }));
    EXPECT_EQ(table.cellForRow({0, 0})->text(), "Unnamed (77)");
}

TEST(DeviceList, TouchingARowOpensTheDetailScreenForThatDeviceAndBackClearsIt)
{
    AppRig rig;
    auto& table = *rig.list().tableView();
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;North well;3;1207;1"));
    ASSERT_TRUE(rig.announce(3, "PLAT;PUMP;South well;3;1208;0"));
    ASSERT_TRUE(waitFor([&] { return table.numberOfRows(0) == 2; }));

    test::tapRow(table, {0, 1});
    ASSERT_TRUE(waitFor([&] { return rig.stack().top() == &rig.detail(); }));
    // The detail screen shows the touched device, and only it.
    EXPECT_EQ(rig.detail().tableView()->headerTitle(0), "South well");
    EXPECT_TRUE(rig.at("127.0.0.3")->shown());
    EXPECT_FALSE(rig.at("127.0.0.2")->shown());
    EXPECT_EQ(rig.stack().bar()->title(), "Device");
    EXPECT_EQ(rig.stack().bar()->backButton()->text(), "Devices");

    platform::DiagnosticCapture out;
    QTest::mouseClick(rig.stack().bar()->backButton(), Qt::LeftButton);
    EXPECT_EQ(rig.stack().top(), &rig.list());
    EXPECT_FALSE(rig.at("127.0.0.3")->shown()) << "the detail screen let go of its device";
    EXPECT_FALSE(table.selectedRow()) << "no row stays selected on return";
    std::string printed = out.take();
    EXPECT_NE(printed.find("Hit back button\n"), std::string::npos);
    EXPECT_NE(printed.find("View will appear\n"), std::string::npos);
}

TEST(DeviceList, ALostDeviceLeavesTheListWhenItsSilenceRunsOut)
{
    // The presence check runs on the listen thread and posts the reload from
    // there; the list must follow without a device having been opened.
    AppRig rig;
    auto& table = *rig.list().tableView();
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;North well;3;1207;1"));
    ASSERT_TRUE(rig.announce(3, "ARM;VALVE;Inlet valve;2;31;0"));
    ASSERT_TRUE(waitFor([&] { return table.numberOfSections() == 2; }));
    // Device 2 keeps answering the probes; device 3 stays silent.
    bool gone = waitFor([&] {
        while (auto d = rig.device(2).receive(0))
            if (d->bytes == "F")
                rig.send(2, "i");
        return table.numberOfSections() == 1 && table.headerTitle(0) == "PUMP (PLAT)";
    }, 9000);
    ASSERT_TRUE(gone);
    EXPECT_EQ(table.cellForRow({0, 0})->text(), "North well (1207)");
}

TEST(DeviceList, AFingerTapOpensADeviceAsAClickDoes)
{
    AppRig rig;
    auto& table = *rig.list().tableView();
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;North well;3;1207;1"));
    ASSERT_TRUE(waitFor([&] { return table.numberOfRows(0) == 1; }));
    static QPointingDevice* finger = QTest::createTouchDevice();
    QWidget* window = rig.app->window();
    QPoint at = table.cellForRow({0, 0})->mapTo(window, QPoint(60, 20));
    QTest::touchEvent(window, finger).press(0, at, window);
    QTest::touchEvent(window, finger).release(0, at, window);
    ASSERT_TRUE(waitFor([&] { return rig.stack().top() == &rig.detail(); }));
    EXPECT_TRUE(rig.at("127.0.0.2")->shown());
    EXPECT_EQ(rig.detail().tableView()->headerTitle(0), "North well");
}

TEST(DeviceList, DeviceTextsWithLineBreaksStayOnOneRow)
{
    // A name or type carrying control characters must not break a row or a
    // header into two lines (the texts come from the network).
    AppRig rig;
    auto& table = *rig.list().tableView();
    ASSERT_TRUE(rig.announce(2, "PL\tAT;PU\nMP;North\r\nwell;3;1207;1"));
    ASSERT_TRUE(waitFor([&] { return table.numberOfRows(0) == 1; }));
    EXPECT_EQ(table.headerTitle(0), "PU MP (PL AT)");
    EXPECT_EQ(table.cellForRow({0, 0})->text(), "North  well (1207)");
    EXPECT_FALSE(table.cellForRow({0, 0})->textLabel()->text().contains('\n'));
}

TEST(ReloadPacer, AFloodOfChangesReloadsAFewTimesASecondAndEndsOnTheLatest)
{
    // A thousand forged announcements a second each made the list reload
    // (a registry snapshot and a table rebuild), which kept the main thread
    // near 100 %.
    platform::ManualLoop loop;
    int reloads = 0;
    ReloadPacer pacer(loop, [&] { ++reloads; });
    pacer.request();
    EXPECT_EQ(reloads, 1) << "the first change shows at once";
    for (int i = 0; i < 1024; ++i) { // a second in steps a double holds exactly
        loop.advance(1.0 / 1024);
        pacer.request();
    }
    EXPECT_EQ(reloads, 4 + 1) << "one per 0.25 s over the second";
    loop.advance(ReloadPacer::kIntervalSeconds);
    EXPECT_EQ(reloads, 6) << "the last change is shown";
    loop.advance(10);
    EXPECT_EQ(reloads, 6);
    pacer.request();
    EXPECT_EQ(reloads, 7) << "after a quiet spell, at once again";
}
