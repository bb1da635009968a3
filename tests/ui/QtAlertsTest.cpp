// Alerts as modal message boxes: what they show, that the window waits for
// them, which button the callback hears about, and dismissal from code.

#include "widgets/QtAlerts.h"
#include "ui/UiSupport.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextDocument>
#include <QTextOption>

#include <gtest/gtest.h>

#include <vector>

using fieldmon::platform::AlertContent;
using fieldmon::QtAlerts;
using fieldmon::test::waitFor;

namespace {

QAbstractButton* button(QMessageBox* box, const QString& text)
{
    for (QAbstractButton* b : box->buttons())
        if (b->text() == text)
            return b;
    return nullptr;
}

} // namespace

TEST(QtAlerts, ShowsABoxWithTitleMessageAndButtonsInOrderAndTheWindowWaitsForIt)
{
    // Alerts were non-modal: behind "Could not fetch ui.xml" Host Request
    // still sent and Back still worked, and a second Connect stacked a
    // second alert exactly on the first, so one "OK" seemed to do nothing.
    QWidget window;
    window.resize(320, 480);
    auto* behind = new QPushButton(QStringLiteral("Host Request"), &window);
    behind->setGeometry(10, 200, 300, 44);
    int presses = 0;
    QObject::connect(behind, &QPushButton::clicked, [&] { ++presses; });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QtAlerts alerts(&window);
    auto id = alerts.show({"Lost client", "Client 1207 disappeared", {"Ok"}, {}});
    QMessageBox* box = alerts.box(id);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(160, 222));
    EXPECT_EQ(presses, 0) << "the window waits for the answer";
    EXPECT_EQ(box->windowTitle(), "Lost client");
    EXPECT_TRUE(box->text().contains("Lost client"));
    EXPECT_EQ(box->informativeText(), "Client 1207 disappeared");
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->buttons()[0]->text(), "Ok");
    fieldmon::test::shot(box, "alert-lost-client");
    box->buttons()[0]->click();
    ASSERT_TRUE(waitFor([&] { return alerts.openCount() == 0; }));
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(160, 222));
    EXPECT_EQ(presses, 1) << "answered, the window takes touches again";
}

TEST(QtAlerts, PressingAButtonReportsItsIndexOnceAndClosesTheBox)
{
    QtAlerts alerts;
    std::vector<int> pressed;
    auto id = alerts.show({"Confirm", "Run pump?", {"Cancel", "Run"}, [&](int i) { pressed.push_back(i); }});
    QPointer<QMessageBox> box = alerts.box(id);
    ASSERT_TRUE(box);
    QTest::mouseClick(button(box, "Run"), Qt::LeftButton);
    EXPECT_EQ(pressed, std::vector<int>{1});
    EXPECT_EQ(alerts.openCount(), 0u);
    EXPECT_EQ(alerts.box(id), nullptr);
    ASSERT_TRUE(waitFor([&] { return box.isNull(); })) << "the box is deleted once closed";
}

TEST(QtAlerts, EscapeCountsAsButtonZero)
{
    QtAlerts alerts;
    std::vector<int> pressed;
    auto id = alerts.show({"Confirm", "Run pump?", {"Cancel", "Run"}, [&](int i) { pressed.push_back(i); }});
    QTest::keyClick(alerts.box(id), Qt::Key_Escape);
    EXPECT_EQ(pressed, std::vector<int>{0});
}

TEST(QtAlerts, DismissFromCodeClosesWithoutCallingBackAndUnknownIdsAreIgnored)
{
    QtAlerts alerts;
    int calls = 0;
    auto id = alerts.show({"Network Error", "Can't access local WiFi", {"Ok"}, [&](int) { ++calls; }});
    QPointer<QMessageBox> box = alerts.box(id);
    alerts.dismiss(id, 0, false);
    alerts.dismiss(id, 0, false);
    alerts.dismiss(12345, 0, true);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(alerts.openCount(), 0u);
    ASSERT_TRUE(waitFor([&] { return box.isNull(); }));
}

TEST(QtAlerts, ACallbackMayShowTheNextAlert)
{
    // The finder forgets its alert in the callback and may raise another at
    // once; the new one must stay open after the first box has gone.
    QtAlerts alerts;
    fieldmon::platform::Alerts::AlertId second = 0;
    auto first = alerts.show({"Lost client", "Client 1 disappeared", {"Ok"}, [&](int) {
                                  second = alerts.show({"Found client", "Client 1 came back", {"Ok"}, {}});
                              }});
    QTest::mouseClick(alerts.box(first)->buttons()[0], Qt::LeftButton);
    QTest::qWait(20);
    ASSERT_NE(second, 0u);
    ASSERT_NE(alerts.box(second), nullptr);
    EXPECT_TRUE(alerts.box(second)->isVisible());
    EXPECT_EQ(alerts.openCount(), 1u);
}

TEST(QtAlerts, ShutdownClosesEveryBoxWithoutCallingBack)
{
    // At shutdown the callbacks' targets (the finder) may already be going;
    // closing the boxes then must not report a button to them.
    int calls = 0;
    QPointer<QMessageBox> a, b;
    {
        QWidget window;
        QtAlerts alerts(&window);
        a = alerts.box(alerts.show({"Lost client", "Client 1 disappeared", {"Ok"}, [&](int) { ++calls; }}));
        b = alerts.box(alerts.show({"Network Error", "Can't access local WiFi", {"Ok"}, [&](int) { ++calls; }}));
        alerts.dismissAll();
        EXPECT_EQ(alerts.openCount(), 0u);
        alerts.show({"Found client", "Client 1 came back", {"Ok"}, [&](int) { ++calls; }});
    } // the destructor closes the last one
    QTest::qWait(10);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(a.isNull());
    EXPECT_TRUE(b.isNull());
}

TEST(QtAlerts, ALongMessageScrollsInsideTheWindowWithItsButtonInReach)
{
    // An "XML parse error" alert with 60 entries grew taller than the
    // window: its "OK" lay below the screen's edge and the user was stuck.
    QWidget window;
    window.resize(320, 480);
    window.show();
    QtAlerts alerts(&window);
    std::string message;
    for (int i = 1; i <= 60; ++i)
        message += "Error: 'gauge' is not supported yet:line " + std::to_string(10 * i) + "\n";
    QMessageBox* box = alerts.box(alerts.show({"XML parse error", message, {"OK"}, {}}));
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(waitFor([&] { return box->isVisible(); }));
    QRect inWindow(window.mapFromGlobal(box->mapToGlobal(QPoint(0, 0))), box->size());
    EXPECT_LE(box->height(), 480);
    EXPECT_TRUE(window.rect().contains(inWindow)) << inWindow.y() << "+" << inWindow.height();
    QAbstractButton* ok = button(box, "OK");
    ASSERT_NE(ok, nullptr);
    QRect okInWindow(window.mapFromGlobal(ok->mapToGlobal(QPoint(0, 0))), ok->size());
    EXPECT_TRUE(window.rect().contains(okInWindow));
    // Every entry is still there, the last one a scroll away.
    EXPECT_EQ(box->informativeText().toStdString(), message);
    auto* scroll = box->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
    EXPECT_TRUE(scroll->isVisible());
    EXPECT_GE(scroll->height(), 10 * scroll->fontMetrics().height()) << "the message area fills the room there is";
    fieldmon::test::shot(box, "alert-sixty-entries");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(alerts.openCount(), 0u);
}

TEST(QtAlerts, ALongPathBreaksToFitTheWindow)
{
    // "Recording saved" named a file under a long folder: the path, one
    // word without a space, made the box wider than the screen and its ends
    // were cut off.
    QWidget window;
    window.resize(320, 480);
    window.show();
    QtAlerts alerts(&window);
    const std::string path = "/home/technician/Documents/fieldmon/recordings/north-harbour-pumping-station/"
                             "site_visit_2026_12_08T02_51_00_with_the_crane_and_the_pumps.pcapng";
    QMessageBox* box = alerts.box(alerts.show({"Recording saved", "Saved as " + path, {"OK"}, {}}));
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(waitFor([&] { return box->isVisible(); }));
    QRect inWindow(window.mapFromGlobal(box->mapToGlobal(QPoint(0, 0))), box->size());
    EXPECT_TRUE(window.rect().contains(inWindow)) << inWindow.x() << "+" << inWindow.width();
    // Every line fits the message's width (a line that cannot break is
    // wider and is cut at the box's edge).
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    ASSERT_NE(label, nullptr);
    QTextDocument laidOut;
    laidOut.setDefaultFont(label->font());
    laidOut.setDocumentMargin(0);
    QTextOption asTheLabelWraps; // between words only, never inside one
    asTheLabelWraps.setWrapMode(QTextOption::WordWrap);
    laidOut.setDefaultTextOption(asTheLabelWraps);
    laidOut.setHtml(label->text());
    laidOut.setTextWidth(label->contentsRect().width());
    EXPECT_LE(laidOut.idealWidth(), label->contentsRect().width());
    fieldmon::test::shot(box, "alert-long-path");
    // What it says is unchanged but for invisible break points.
    EXPECT_EQ(box->informativeText().remove(QtAlerts::kBreakPoint).toStdString(), "Saved as " + path);
}
