// Recording a visit from the app: the device list's "Record" switch writes
// what the app sends and receives to a capture in the chosen folder and
// names the file when switched off; a size cap or a file that cannot be
// written stops the recording with an alert, turns the switch off, and the
// app keeps working.

#include "capture/CaptureReader.h"
#include "ui/AppRig.h"
#include "widgets/QtAlerts.h"
#include "widgets/ToggleSwitch.h"

#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace fieldmon;
using fieldmon::test::AppRig;
using fieldmon::test::waitFor;

namespace {

QMessageBox* openAlert(AppRig& rig)
{
    QMessageBox* found = nullptr;
    waitFor([&] {
        for (QMessageBox* box : rig.app->window()->findChildren<QMessageBox*>())
            if (box->isVisible())
                found = box;
        return found != nullptr;
    });
    return found;
}

struct Udp {
    capture::Endpoint from, to;
    std::string bytes;
};

// The UDP datagrams of a capture; fails the test on a torn file.
std::vector<Udp> datagramsIn(const std::string& path)
{
    std::string why;
    auto reader = capture::CaptureReader::open(path, why);
    EXPECT_TRUE(reader) << why;
    std::vector<Udp> all;
    if (!reader)
        return all;
    capture::CapturedPacket p;
    capture::CaptureReader::Next next;
    while ((next = reader->next(p)) == capture::CaptureReader::Next::Packet)
        if (p.protocol == capture::CapturedPacket::Protocol::Udp)
            all.push_back({p.from, p.to, std::string(p.payload)});
    EXPECT_EQ(next, capture::CaptureReader::Next::End) << reader->error();
    return all;
}

} // namespace

TEST(Recording, TheSwitchRecordsTheVisitAndNamesItsFile)
{
    QTemporaryDir folder;
    AppShell::Settings settings;
    settings.exportFolder = folder.path();
    AppRig rig(settings);
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;North well;3;1207;0")); // known before the recording
    ToggleSwitch* toggle = rig.list().recordSwitch();
    ASSERT_FALSE(toggle->isChecked());
    QTest::mouseClick(toggle, Qt::LeftButton);
    ASSERT_TRUE(rig.app->recording().recording());
    EXPECT_TRUE(toggle->isChecked());
    test::shot(rig.screen(), "recording-01-switch-on");

    rig.send(2, "eEVENT_PUMP_START");
    ASSERT_TRUE(waitFor([&] { return rig.at("127.0.0.2")->eventLog().size() >= 2; }));
    ASSERT_EQ(rig.at("127.0.0.2")->sendString("cstart 1\r\n"), 0);
    ASSERT_FALSE(rig.received(2).empty());

    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(rig.app->recording().recording());
    EXPECT_FALSE(toggle->isChecked());
    const std::string path = rig.app->recording().path();
    EXPECT_EQ(QFileInfo(QString::fromStdString(path)).absolutePath(), QDir(folder.path()).absolutePath());
    QMessageBox* alert = openAlert(rig);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->windowTitle(), "Recording saved");
    const QFileInfo written(QString::fromStdString(path));
    const QString says = alert->informativeText().remove(QtAlerts::kBreakPoint);
    EXPECT_TRUE(says.contains(written.fileName())) << says.toStdString();
    EXPECT_TRUE(says.contains(written.absolutePath())) << says.toStdString();
    test::shot(alert, "recording-02-saved");

    // Written off the main thread: the file is complete once the storage
    // thread has drained what the recording queued.
    std::vector<Udp> udp;
    ASSERT_TRUE(waitFor([&] {
        udp = datagramsIn(path);
        return udp.size() >= 2;
    }));
    const capture::Endpoint device{0x7F000002, rig.device(2).port()};
    auto has = [&](const std::string& bytes, bool fromDevice) {
        return std::any_of(udp.begin(), udp.end(), [&](const Udp& u) {
            return u.bytes == bytes && (fromDevice ? u.from == device : u.to == device);
        });
    };
    EXPECT_TRUE(has("eEVENT_PUMP_START", true));
    EXPECT_TRUE(has("cstart 1\r\n", false));
    // The device was known before the switch went on: its first packet in
    // the file is named after it all the same.
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("device North well (1207), PLAT PUMP version 3, at 127.0.0.2"));
}

TEST(Recording, ACapOrAnUnwritableFileStopsItWithAnAlertAndTheAppGoesOn)
{
    QTemporaryDir folder;
    struct Case {
        std::string path;
        std::uint64_t cap;
        QString says;
    };
    const Case cases[] = {
        {folder.filePath("capped.pcapng").toStdString(), 2000, "limit of 2000 bytes"},
        {folder.filePath("missing/folder/visit.pcapng").toStdString(), 1 << 20, "could not be written"},
    };
    int host = 2;
    for (const Case& c : cases) {
        AppRig rig;
        rig.app->recording().start(c.path, c.cap);
        for (int i = 0; i < 40 && rig.app->recording().recording(); ++i) {
            rig.send(host, "eEVENT_PADDING_" + std::string(60, 'x'));
            QTest::qWait(5);
        }
        QMessageBox* alert = openAlert(rig);
        ASSERT_TRUE(alert) << c.path;
        EXPECT_EQ(alert->windowTitle(), "Recording stopped");
        test::shot(alert, QStringLiteral("recording-03-stopped-%1").arg(host));
        const QString says = alert->informativeText().remove(QtAlerts::kBreakPoint);
        EXPECT_TRUE(says.contains(c.says)) << says.toStdString();
        const QFileInfo file(QString::fromStdString(c.path));
        EXPECT_TRUE(says.contains(file.fileName())) << says.toStdString();
        EXPECT_FALSE(rig.app->recording().recording());
        EXPECT_FALSE(rig.list().recordSwitch()->isChecked());
        // The app keeps working: a device still gets its answer.
        EXPECT_TRUE(rig.announce(host + 1, "PLAT;PUMP;South well;3;1208;0")) << c.path;
        if (c.cap < (1 << 20)) {
            EXPECT_LE(QFileInfo(QString::fromStdString(c.path)).size(), qint64(c.cap));
            EXPECT_FALSE(datagramsIn(c.path).empty()); // readable up to its last whole block
        }
        host += 2;
    }
}
