// A device's dynamic page: responder chain and stacking, touches on the
// background, title and load command at each appearance, opening other
// pages, the start page's clean-up, and the bar of "Control" pages.

#include "elements/label/LabelView.h"
#include "elements/button/PageButton.h"
#include "elements/button/RemoteButton.h"
#include "elements/infobutton/RemoteInfoButton.h"
#include "elements/label/RemoteLabel.h"
#include "ui/PageRig.h"
#include "widgets/NavigationBar.h"
#include "widgets/PhoneStyle.h"

#include <QApplication>
#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>

using namespace fieldmon;
using test::PageRig;

namespace {

const std::string kTwoPages = R"(<device>
  <start initial='main'/>
  <page name='main' title='"Overview"' onPageLoad='"status"' color='(0.9, 0.9, 0.9)'>
    <label position='(0.05, 0.1)' refresh='0.5'>temp</label>
    <button target='details' refresh='once'>"Details"</button>
    <infobutton target='details' position='(0.9, 0.9)'/>
    <button target='nowhere'>"Nowhere"</button>
  </page>
  <page name='details' title='printf("T %d", temp)' onPageLoad='"details"'>
    <label position='(0.05, 0.2)' refresh='1'>pressure</label>
    <morebutton target='main' position='(0.9, 0.05)'/>
  </page>
</device>)";

std::string page(const std::string& widgets)
{
    return "<device><start initial='main'/><page name='main'>" + widgets + "</page></device>";
}

int commands(const std::vector<std::string>& datagrams, const std::string& command)
{
    return static_cast<int>(std::count(datagrams.begin(), datagrams.end(), command));
}

using Page = PageRig;

} // namespace

TEST_F(Page, ButtonsChainInDocumentOrderToThePageAndTheFirstViewLiesOnTop)
{
    auto p = open(kTwoPages);
    ASSERT_TRUE(p);
    ASSERT_EQ(p->uiElements().size(), 4u);
    auto details = widgetAt<RemoteButton>(*p, 1);
    auto nowhere = widgetAt<RemoteButton>(*p, 3);
    EXPECT_EQ(details->nextResponder(), nowhere->button()) << "the label and info button have no responder";
    EXPECT_EQ(nowhere->nextResponder(), p.get());
    EXPECT_EQ(widgetAt<RemoteLabel>(*p, 0)->nextResponder(), nullptr);
    // Views were added last widget first, so the first widget's is on top.
    auto children = p->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), 4);
    EXPECT_EQ(children.last(), widgetAt<RemoteLabel>(*p, 0)->view());
    EXPECT_EQ(children.first(), nowhere->view());
}

TEST_F(Page, AButtonUnderALabelGetsTheTouch)
{
    // The label (320 wide, first, so on top) covers the button at (10, 10).
    auto p = open(page(R"(<label position='(0, 0.03)'>"over the button"</label>
                          <button target='other'>"Other"</button>)"));
    ASSERT_TRUE(p);
    auto label = widgetAt<RemoteLabel>(*p, 0);
    auto button = widgetAt<RemoteButton>(*p, 1);
    ASSERT_TRUE(label->view()->geometry().intersects(button->view()->geometry()));
    QSignalSpy clicked(button->button(), &QAbstractButton::clicked);
    tap(p.get(), QPoint(50, 30));
    EXPECT_EQ(clicked.count(), 1);
}

TEST_F(Page, TouchesOnTheBackgroundSetTheTouchVariablesToPageFractions)
{
    auto p = open(page("<label position='(0, 0)'>\"top\"</label>"));
    ASSERT_TRUE(p);
    struct Case {
        QPoint at;
        double x, y;
        std::string line;
    };
    for (const Case& c : {Case{{160, 208}, 0.5, 0.5, "Tapped 1 times at (0.500000, 0.500000)\n"},
                          Case{{0, 0}, 0.0, 0.0, "Tapped 1 times at (0.000000, 0.000000)\n"},
                          Case{{80, 104}, 0.25, 0.25, "Tapped 1 times at (0.250000, 0.250000)\n"}}) {
        platform::DiagnosticCapture out;
        tap(p.get(), c.at);
        EXPECT_EQ(out.take(), c.line);
        EXPECT_DOUBLE_EQ(client->expressions().touchX(), c.x);
        EXPECT_DOUBLE_EQ(client->expressions().touchY(), c.y);
        QTest::qWait(QApplication::doubleClickInterval() + 20);
    }
    platform::DiagnosticCapture out;
    tap(p.get(), QPoint(32, 41));
    tap(p.get(), QPoint(32, 41), true);
    EXPECT_NE(out.take().find("Tapped 2 times at (0.100000, 0.098558)"), std::string::npos);
}

TEST_F(Page, TitleAndLoadCommandAtEachAppearance)
{
    auto p = open(kTwoPages);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->title(), "Overview") << "a constant title is there at once";
    EXPECT_EQ(stack->bar()->title(), "Overview");
    EXPECT_EQ(commands(received(), "cstatus\n"), 1);
    EXPECT_EQ(std::static_pointer_cast<ClientDynamicView>(p)->background(), QColor::fromRgbF(0.9f, 0.9f, 0.9f));

    // The details page shows its name until its title's value is in.
    QTest::mouseClick(widgetAt<RemoteInfoButton>(*p, 2)->button(), Qt::LeftButton);
    auto details = std::static_pointer_cast<ClientDynamicView>(p->dynamicPages()->at("details"));
    ASSERT_EQ(stack->top(), details.get());
    EXPECT_TRUE(session->isOpen()) << "pushing from the start page ends nothing";
    EXPECT_FALSE(p->visible());
    EXPECT_EQ(details->title(), "details");
    EXPECT_EQ(details->background(), ClientDynamicView::defaultBackground());
    // The load command went out as the page began to slide in; it has
    // appeared only once it has arrived.
    run(0.2);
    EXPECT_EQ(commands(sent, "cdetails\n"), 0);
    EXPECT_FALSE(details->visible());
    ASSERT_TRUE(test::waitFor([&] { return !stack->isAnimating(); }));
    EXPECT_TRUE(details->visible());
    run(0.2);
    EXPECT_EQ(details->title(), "T 50462976");
    EXPECT_EQ(commands(sent, "cdetails\n"), 1);

    // Back on the start page: it came back, so its command goes again.
    stack->pop(false);
    EXPECT_TRUE(session->isOpen());
    EXPECT_TRUE(p->visible());
    EXPECT_EQ(commands(received(), "cstatus\n"), 1);
    EXPECT_NE(details.use_count(), 0);
}

TEST_F(Page, AnErrorValuedLoadCommandIsNotSent)
{
    auto p = open("<d><start initial='m'/><page name='m' onPageLoad='1 / 0'/></d>");
    ASSERT_TRUE(p);
    run(0.2);
    EXPECT_TRUE(sent.empty());
    platform::DiagnosticCapture out;
    p->runCommand();
    EXPECT_NE(out.take().find("its value is an error"), std::string::npos);
    EXPECT_TRUE(received().empty());
}

TEST_F(Page, ATargetThatNamesNoPageIsIgnoredAndOneOnTheStackIsGoneBackTo)
{
    auto p = open(kTwoPages);
    ASSERT_TRUE(p);
    {
        platform::DiagnosticCapture out;
        QTest::mouseClick(widgetAt<RemoteButton>(*p, 3)->button(), Qt::LeftButton);
        EXPECT_EQ(out.take(), "ERROR: No page named 'nowhere' in dict for pushing\n");
    }
    EXPECT_EQ(stack->top(), p.get());

    QTest::mouseClick(widgetAt<RemoteButton>(*p, 1)->button(), Qt::LeftButton);
    auto details = p->dynamicPages()->at("details");
    ASSERT_EQ(stack->top(), details.get());
    // details links back to main, which is on the stack already.
    QTest::mouseClick(widgetAt<RemoteInfoButton>(*details, 1)->button(), Qt::LeftButton);
    EXPECT_EQ(stack->top(), p.get());
    EXPECT_EQ(stack->depth(), 2);
    ASSERT_TRUE(test::waitFor([&] { return !stack->isAnimating(); }));
    EXPECT_TRUE(session->isOpen()) << "going back to the start page from above ends nothing";
    EXPECT_TRUE(p->dynamicPages());
}

TEST_F(Page, LeavingTheStartPageStopsEveryRequestAndFreesEveryPage)
{
    // LeakSanitizer cannot see a leaked widget (Qt keeps every widget
    // reachable), so the count of live widgets is the leak check here, and
    // the references to the device record stand for every page, widget,
    // binding and expression, each of which holds the record.
    const auto widgetsBefore = QApplication::allWidgets().size();
    const auto clientRefsBefore = client.use_count();
    std::weak_ptr<DevicePage> main, details;
    std::weak_ptr<RemoteView> label;
    {
        auto p = open(kTwoPages);
        ASSERT_TRUE(p);
        main = p;
        details = p->dynamicPages()->at("details");
        label = p->uiElements()[0];
        // Over and back: pushing from the start page ends nothing.
        QTest::mouseClick(widgetAt<RemoteButton>(*p, 1)->button(), Qt::LeftButton);
        run(1.0);
        stack->pop(false);
        settle();
        ASSERT_FALSE(details.expired());
        run(1.0);
        EXPECT_GT(valueRequests(sent), 2) << "the label refreshes every 0.5 s";
    }
    EXPECT_TRUE(client->shown()) << "the open pages show the device";
    QTest::mouseClick(stack->bar()->backButton(), Qt::LeftButton);
    ASSERT_TRUE(test::waitFor([&] { return !stack->isAnimating(); }));
    EXPECT_EQ(stack->top(), detail);
    EXPECT_TRUE(session->ended());
    EXPECT_FALSE(client->shown());
    sent.clear();
    run(3.0);
    EXPECT_TRUE(sent.empty()) << "no request after the start page was left";
    EXPECT_EQ(client->scheduler().size(), 0u);
    settle();
    EXPECT_TRUE(main.expired());
    EXPECT_TRUE(details.expired());
    EXPECT_TRUE(label.expired());
    EXPECT_EQ(QApplication::allWidgets().size(), widgetsBefore);
    EXPECT_EQ(client.use_count(), clientRefsBefore);
}

TEST_F(Page, TheOwnerMayDropTheSessionInsideTheStacksPopAndGoingBackPastTheStartPageEndsIt)
{
    // The session ends inside the stack's pop, and its owner drops it right
    // there, while the stack is still returning through the pop: that must
    // leave nothing behind. Going back from a page above the start page
    // straight to the detail screen passes the start page without showing
    // it; the session must end all the same.
    const auto widgetsBefore = QApplication::allWidgets().size();
    const auto clientRefsBefore = client.use_count();
    for (int way = 0; way < 2; ++way) {
        std::weak_ptr<DevicePage> main, details;
        int ended = 0;
        {
            auto p = open(kTwoPages);
            ASSERT_TRUE(p);
            session->onEnded = [&] {
                ++ended;
                session.reset();
            };
            main = p;
            details = p->dynamicPages()->at("details");
            if (way == 1) {
                QTest::mouseClick(widgetAt<RemoteButton>(*p, 1)->button(), Qt::LeftButton);
                ASSERT_TRUE(test::waitFor([&] { return !stack->isAnimating(); }));
                ASSERT_EQ(stack->top(), details.lock().get());
            }
        }
        if (way == 0)
            QTest::mouseClick(stack->bar()->backButton(), Qt::LeftButton);
        else
            stack->popTo(detail, true);
        ASSERT_TRUE(test::waitFor([&] { return !stack->isAnimating(); })) << way;
        EXPECT_EQ(stack->top(), detail) << way;
        EXPECT_EQ(ended, 1) << way;
        EXPECT_FALSE(session) << way;
        EXPECT_EQ(client->scheduler().size(), 0u) << way;
        EXPECT_FALSE(client->shown()) << way;
        settle();
        EXPECT_TRUE(main.expired()) << way;
        EXPECT_TRUE(details.expired()) << way;
    }
    EXPECT_EQ(QApplication::allWidgets().size(), widgetsBefore);
    EXPECT_EQ(client.use_count(), clientRefsBefore);
}

TEST_F(Page, AControlPageHidesTheBarButKeepsAWayBack)
{
    for (int way = 0; way < 2; ++way) {
        std::weak_ptr<DevicePage> control;
        {
            auto p = open("<d><start initial='Control'/><page name='Control'><label>temp</label></page></d>");
            ASSERT_TRUE(p);
            control = p;
            EXPECT_TRUE(stack->isNavigationBarHidden());
            ASSERT_TRUE(stack->hiddenBarBack()->isVisible());
            EXPECT_LE(stack->hiddenBarBack()->geometry().bottom(), 44);
        }
        if (way == 0)
            QTest::mouseClick(stack->hiddenBarBack(), Qt::LeftButton);
        else
            QTest::keyClick(&window, Qt::Key_Escape);
        ASSERT_TRUE(test::waitFor([&] { return stack->top() == detail && !stack->isAnimating(); })) << way;
        EXPECT_FALSE(stack->isNavigationBarHidden()) << "the bar comes back for any other screen";
        EXPECT_FALSE(stack->hiddenBarBack()->isVisible());
        settle();
        EXPECT_TRUE(control.expired()) << "leaving a Control start page ends the device's pages";
    }
}

TEST_F(Page, TheExampleDevicesStartPagesOpen)
{
    struct Case {
        const char* device;
        QString title;
        int labels;
    };
    for (const Case& c : {Case{"pump", "Overview", 2}, Case{"turbine", "Turbine 2", 2}, Case{"crane", "Crane", 5}}) {
        QFile file(QStringLiteral(FIELDMON_SOURCE_DIR "/examples/%1/ui.xml").arg(c.device));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        auto p = open(file.readAll().toStdString());
        ASSERT_TRUE(p) << c.device;
        EXPECT_EQ(p->title(), c.title);
        auto labels = std::count_if(p->uiElements().begin(), p->uiElements().end(),
                                    [](const auto& w) { return std::dynamic_pointer_cast<RemoteLabel>(w) != nullptr; });
        EXPECT_EQ(labels, c.labels) << c.device;
        run(0.3);
        test::shot(window.phoneScreen(), QStringLiteral("page-%1").arg(c.device));
        stack->popToRoot(false);
        settle();
        EXPECT_EQ(client->scheduler().size(), 0u);
    }
}

TEST_F(Page, LabelsShowDegreeSignsKeepTheirFontAndEndInAnEllipsisWhenTooLong)
{
    struct Case {
        const char* text;
        const char* shown;
    };
    for (const Case& c : {Case{"\"21 degrees\"", "21 \u02DA"}, Case{"\"degreesdegrees\"", "\u02DA\u02DA"},
                          Case{"\"21 Degrees\"", "21 Degrees"}}) {
        auto p = open(page(std::string("<label position='(0, 0)'>") + c.text + "</label>"));
        ASSERT_TRUE(p);
        auto label = widgetAt<RemoteLabel>(*p, 0);
        EXPECT_EQ(label->label()->text(), QString::fromUtf8(c.shown)) << c.text;
        EXPECT_EQ(label->label()->labelFont().pixelSize(), 16) << "no size: the 16-point system font";
        stack->popToRoot(false);
        settle();
    }
    auto p = open(page("<label position='(0, 0)' size='40'>\"" + std::string(60, 'W') + "\"</label>"));
    auto label = widgetAt<RemoteLabel>(*p, 0);
    EXPECT_EQ(label->label()->labelFont().pixelSize(), 40);
    EXPECT_TRUE(label->label()->shownText().endsWith(QChar(0x2026)));
    EXPECT_LT(label->label()->shownText().size(), 60);
}

TEST_F(Page, DeviceTextsAreCutBeforeLayout)
{
    // Five labels whose printf made 11 MB each froze the screen for 25 s,
    // and the shared layout cache kept 256 such texts. printf now stops at
    // 4 KiB (said once per call), and no device text reaches Qt's layout
    // longer than a line could ever show: labels and titles here.
    std::string conversions;
    for (int i = 0; i < 10800; ++i)
        conversions += "%1024d";
    // What the page prints, past the rig's own quiet runs.
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    ++quietDepth();
    auto p = open("<d><start initial='main'/><page name='main' title='printf(\"" + conversions + "\", 1)'>"
                  "<label position='(0, 0)' refresh='0.5'>printf(\"" + conversions + "\", temp)</label></page></d>");
    run(3.0); // six refreshes with the device's values
    --quietDepth();
    std::fflush(stdout);
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(p);
    auto label = widgetAt<RemoteLabel>(*p, 0);
    EXPECT_LE(label->label()->text().size(), phone::kMaxShownChars);
    EXPECT_TRUE(label->label()->text().endsWith(QChar(0x2026))) << "a cut text says so";
    EXPECT_LE(p->title().size(), phone::kMaxShownChars);
    EXPECT_LE(stack->bar()->title().size(), phone::kMaxShownChars);
    EXPECT_EQ(test::occurrences(printed, "printf: output cut at 4096 bytes\n"), 2) << "one for the title, one for the label";
}

TEST_F(Page, BackWhileTheStartPageStillSlidesInEndsThePagesOnce)
{
    // Connect pushes with animation; a quick finger goes back before the
    // slide has ended, while the title's and load command's bindings wait.
    const auto widgetsBefore = QApplication::allWidgets().size();
    std::weak_ptr<DevicePage> main;
    {
        auto p = open(kTwoPages, nullptr, true);
        ASSERT_TRUE(p);
        main = p;
        ASSERT_TRUE(stack->isAnimating());
    }
    QTest::mouseClick(stack->bar()->backButton(), Qt::LeftButton);
    EXPECT_EQ(stack->top(), detail);
    ASSERT_TRUE(test::waitFor([&] { return !stack->isAnimating(); }));
    settle();
    run(1.0);
    EXPECT_TRUE(main.expired());
    EXPECT_EQ(client->scheduler().size(), 0u);
    EXPECT_EQ(QApplication::allWidgets().size(), widgetsBefore);
}
