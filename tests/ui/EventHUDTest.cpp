// The event heads-up display: lines and their expiry in virtual time,
// freezing, translucency and which touches pass through, and the box at the
// bottom of the real page.

#include "app/automation/InputSynthesizer.h"
#include "elements/eventhud/EventHUD.h"
#include "elements/joystick/JoystickView.h"
#include "ui/PageRig.h"
#include "widgets/PhoneStyle.h"

#include <QFontMetricsF>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace fieldmon;
using Pointer = automation::InputSynthesizer::Pointer;

namespace {

struct HUDRig : test::PageRig {
    automation::InputSynthesizer input;
    std::shared_ptr<DevicePage> page_;
    std::shared_ptr<EventHUD> hud;

    void openPage(const std::string& name = "main", const std::string& under = "")
    {
        page_ = open("<d><start initial='" + name + "'/><page name='" + name + "' color='(1, 1, 1)'><eventhud/>" +
                     under + "</page></d>");
        ASSERT_TRUE(page_);
        hud = widgetAt<EventHUD>(*page_, 0);
        ASSERT_TRUE(hud);
    }
    void event(const std::string& text) { s.notifications.post(client->eventNotificationIDString(), text); }
    std::vector<std::string> shown() const
    {
        std::vector<std::string> lines;
        for (const QString& l : hud->hudView()->lines())
            lines.push_back(l.toStdString());
        return lines;
    }
    // A tap at page point `at` through the window.
    void tapPage(QPointF at, Pointer pointer = Pointer::Touch)
    {
        input.tap(window.windowHandle(), page_->mapTo(&window, at), pointer);
    }
    QPointF inBox() const { return QPointF(160, page_->height() - 8); }
};

using HUD = HUDRig;
using Lines = std::vector<std::string>;

} // namespace

TEST_F(HUD, TwoLinesShowAndEachArrivalExpiresTheOldestSevenSecondsLater)
{
    openPage();
    event("A");
    EXPECT_EQ(shown(), Lines{"A"});
    run(1.0);
    event("B");
    run(1.0);
    event("C");
    EXPECT_EQ(shown(), (Lines{"B", "C"})) << "the third pushes out the first at once";
    run(4.99);
    EXPECT_EQ(shown(), (Lines{"B", "C"}));
    run(0.02);
    EXPECT_EQ(shown(), Lines{"C"}) << "7 s after A's arrival, the oldest leaves";
    run(1.0);
    EXPECT_EQ(shown(), Lines{}) << "8 s";
    run(2.0);
    EXPECT_EQ(shown(), Lines{}) << "the timer of C finds nothing";
    EXPECT_EQ(hud->lines(), 0);
}

TEST_F(HUD, FrozenItHoldsTenAndUnfreezingEmptiesIt)
{
    openPage();
    event("E0");
    for (Pointer pointer : {Pointer::Touch, Pointer::Mouse}) {
        platform::DiagnosticCapture out;
        tapPage(inBox(), pointer);
        EXPECT_NE(out.take().find("Freeze!\ntimeInterval"), std::string::npos);
        ASSERT_TRUE(hud->freeze()) << "a finger and a mouse both freeze it";
        for (int i = 1; i < 12; ++i) {
            event("E" + std::to_string(i));
            run(1.0);
        }
        Lines ten;
        for (int i = 0; i < 10; ++i)
            ten.push_back("E" + std::to_string(i));
        EXPECT_EQ(shown(), ten) << "the display stops once it holds more than 10";
        QJsonObject o;
        hud->inspect(o);
        EXPECT_EQ(o["frozen"], true);
        EXPECT_EQ(o["lines"].toArray().size(), 10);

        platform::DiagnosticCapture again;
        tapPage(inBox(), pointer);
        EXPECT_NE(again.take().find("Clearing"), std::string::npos);
        EXPECT_FALSE(hud->freeze());
        EXPECT_EQ(shown(), Lines{});
        run(8.0);
        EXPECT_EQ(shown(), Lines{}) << "the expiries counted while frozen are gone with the lines";
        event("E0");
    }
}

TEST_F(HUD, TouchesOutsideTheBoxPassThroughAndLeaveItTranslucentForOneAndAHalfSeconds)
{
    openPage();
    // With no lines every touch passes, wherever it lands.
    tapPage(inBox());
    EXPECT_DOUBLE_EQ(client->expressions().touchY(), inBox().y() / 416);
    EXPECT_TRUE(hud->isTranslucent());
    run(1.51);
    EXPECT_FALSE(hud->isTranslucent());

    event("A");
    tapPage(QPointF(80, 104), Pointer::Mouse);
    EXPECT_DOUBLE_EQ(client->expressions().touchX(), 0.25) << "above the box the page gets it";
    QJsonObject o;
    hud->inspect(o);
    EXPECT_EQ(o["alpha"], 0.3);
    EXPECT_EQ(o["label_alpha"], 0.6);
    run(1.0);
    tapPage(QPointF(160, 104));
    run(0.6);
    EXPECT_TRUE(hud->isTranslucent()) << "another touch came within 1.4 s";
    run(1.0);
    EXPECT_FALSE(hud->isTranslucent());
    EXPECT_FALSE(hud->freeze());
}

TEST_F(HUD, InServiceModeTheBoxPassesTouchesForOneAndAHalfSecondsAfterOneWentThrough)
{
    openPage();
    client->setService(true);
    event("A");
    tapPage(QPointF(160, 100));
    ASSERT_TRUE(hud->isTranslucent());
    run(1.0);
    client->expressions().setTouchY(0);
    tapPage(inBox());
    EXPECT_FALSE(hud->freeze()) << "within 1.5 s: through to the page";
    EXPECT_GT(client->expressions().touchY(), 0.9);
    run(1.6);
    tapPage(inBox());
    EXPECT_TRUE(hud->freeze());
    EXPECT_FALSE(hud->isTranslucent()) << "freezing makes it opaque at once";
}

TEST_F(HUD, TheBoxSitsAtTheBottomOfTheRealPage)
{
    for (const char* name : {"main", "Control"}) {
        openPage(name);
        event("LOAD CYCLE 1");
        event("HOIST CHECK OK");
        const int bottom = page_->height();
        EXPECT_EQ(bottom, std::string(name) == "Control" ? 460 : 416) << "the bar is hidden on Control pages";
        HUDView* v = hud->hudView();
        const double box = v->boxHeight();
        EXPECT_DOUBLE_EQ(box, 2 * v->lineHeight() + 20);
        QImage img = page_->grab().toImage();
        test::shot(window.phoneScreen(), QStringLiteral("hud-%1").arg(name));
        const QColor grey = img.pixelColor(160, bottom - 3);
        EXPECT_NEAR(grey.red(), 0.7 * 0.9 * 255 + 0.1 * 255, 3) << "grey 0.7 at alpha 0.9 over white";
        EXPECT_EQ(img.pixelColor(160, static_cast<int>(bottom - box) - 2), QColor(Qt::white)) << "above the box";
        // The last line's text lies in the lowest line of the box.
        bool ink = false;
        for (int x = 5; x < 120 && !ink; ++x)
            for (int y = static_cast<int>(bottom - 10 - v->lineHeight()); y < bottom - 10; ++y)
                ink = ink || img.pixelColor(x, y).red() < 60;
        EXPECT_TRUE(ink) << name;
        stack->popToRoot(false);
        settle();
    }
}

TEST_F(HUD, ALongEventWrapsOntoTheRowsItNeedsAndTheBoxGrowsWithThem)
{
    // A long event was cut with "…": the end of the message never showed.
    openPage();
    const QString longEvent = "HOIST 2 OVERLOAD AT 14:02:11, LOAD 12.5 T OVER ITS 10 T LIMIT, LIFT STOPPED; CALL THE "
                              "SUPERVISOR BEFORE THE NEXT LIFT";
    event("SHORT");
    event(longEvent.toStdString());
    HUDView* v = hud->hudView();
    const QStringList rows = v->rows();
    ASSERT_GE(rows.size(), 3);
    EXPECT_EQ(rows[0], "SHORT");
    EXPECT_EQ(rows.mid(1).join(' '), longEvent) << "every word shows, in order";
    const QFontMetricsF metrics(phone::systemFont(HUDView::kFontSize));
    for (const QString& row : rows)
        EXPECT_LE(metrics.horizontalAdvance(row), HUDView::kTextWidth) << row.toStdString();
    EXPECT_DOUBLE_EQ(v->boxHeight(), rows.size() * v->lineHeight() + 20);
    // A word longer than a row is cut where the row ends.
    event(std::string(100, 'W'));
    QStringList word = v->rows().filter(QRegularExpression("^W+$"));
    EXPECT_GE(word.size(), 2);
    EXPECT_EQ(word.join(""), QString(100, 'W'));
    test::shot(window.phoneScreen(), "hud-wrapped");
}

TEST_F(HUD, ItsTimersAndSubscriptionEndWithIt)
{
    std::weak_ptr<EventHUD> gone;
    std::size_t idle = 0;
    {
        openPage();
        idle = s.loop.pendingTimers();
        event("A");
        tapPage(QPointF(10, 10));
        EXPECT_EQ(s.loop.pendingTimers(), idle + 2);
        gone = hud;
        hud.reset();
        stack->popToRoot(false);
        settle();
        page_.reset();
    }
    ASSERT_TRUE(gone.expired());
    EXPECT_EQ(s.loop.pendingTimers(), 0u) << "neither its timers nor the device's refresh chain are left";
    EXPECT_EQ(s.notifications.observerCount(client->eventNotificationIDString()), 0u);
    event("after");
    run(8.0);
}
