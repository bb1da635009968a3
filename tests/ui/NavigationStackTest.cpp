// The window and its navigation stack: geometry, the order of the
// appearance hooks, the bar's title and back button, the bar rule for
// "Control" pages, and landscape screens turning the window.

#include "app/AppWindow.h"
#include "app/DisplayBar.h"
#include "ui/UiSupport.h"
#include "widgets/NavigationStack.h"

#include <QPointer>

#include <memory>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fieldmon;

namespace {

// A screen that logs its hooks with its title and the size it had then.
class LoggingScreen : public Screen {
public:
    LoggingScreen(const QString& title, std::vector<std::string>& log, Orientation o = Orientation::Portrait)
        : log_(log), orientation_(o)
    {
        setTitle(title);
    }
    Orientation orientation() const override { return orientation_; }
    void viewWillAppear(bool) override { note("willAppear"); }
    void viewDidAppear(bool) override { note("didAppear"); }
    void viewWillDisappear(bool) override { note("willDisappear"); }
    void viewDidDisappear(bool) override
    {
        if (logDidDisappear)
            note("didDisappear");
    }

    bool logDidDisappear = false;

    QSize sizeAtWillAppear;

private:
    void note(const char* what)
    {
        if (std::string(what) == "willAppear")
            sizeAtWillAppear = size();
        log_.push_back(title().toStdString() + ":" + what);
    }
    std::vector<std::string>& log_;
    Orientation orientation_;
};

} // namespace

TEST(NavigationStack, WindowIsAPortraitPhoneWithA320By416PageUnderTheBar)
{
    AppWindow window;
    std::vector<std::string> log;
    auto* root = new LoggingScreen("Devices", log);
    window.navigationStack()->setRoot(root);
    window.show();
    EXPECT_EQ(window.size(), QSize(320, 480));
    EXPECT_EQ(window.statusBar()->geometry(), QRect(0, 0, 320, 20));
    EXPECT_EQ(window.navigationStack()->bar()->height(), 44);
    EXPECT_EQ(root->size(), QSize(320, 416));
    EXPECT_EQ(root->mapTo(window.phoneScreen(), QPoint(0, 0)), QPoint(0, 64));
}

TEST(NavigationStack, PushAndPopRunTheHooksInOrderAndTheBarFollows)
{
    AppWindow window;
    std::vector<std::string> log;
    NavigationStack* stack = window.navigationStack();
    auto* root = new LoggingScreen("Devices", log);
    stack->setRoot(root);
    window.show();
    log.clear();

    auto* detail = new LoggingScreen("Device", log);
    stack->push(detail, true);
    EXPECT_EQ(log, (std::vector<std::string>{"Devices:willDisappear", "Device:willAppear"}))
        << "it has appeared when it has arrived";
    EXPECT_EQ(stack->top(), detail);
    EXPECT_EQ(stack->bar()->title(), "Device");
    EXPECT_TRUE(stack->bar()->backButton()->isVisible());
    EXPECT_EQ(stack->bar()->backButton()->text(), "Devices");
    EXPECT_TRUE(stack->isAnimating()) << "an animated push slides";
    EXPECT_TRUE(root->isVisible()) << "the old screen slides out";
    ASSERT_TRUE(test::waitFor([&] { return !stack->isAnimating(); }));
    EXPECT_EQ(log.back(), "Device:didAppear");
    EXPECT_FALSE(root->isVisible());
    EXPECT_EQ(detail->geometry(), stack->pageRect());
    EXPECT_EQ(detail->sizeAtWillAppear, QSize(320, 416)) << "placed before it is told it appears";
    test::shot(window.phoneScreen(), "nav-pushed");

    log.clear();
    QTest::mouseClick(stack->bar()->backButton(), Qt::LeftButton);
    EXPECT_EQ(log, (std::vector<std::string>{"Device:willDisappear", "Devices:willAppear"}));
    EXPECT_EQ(stack->top(), root);
    ASSERT_TRUE(test::waitFor([&] { return !stack->isAnimating(); }));
    EXPECT_EQ(log.back(), "Devices:didAppear");
    EXPECT_FALSE(detail->isVisible());
    EXPECT_EQ(root->geometry(), stack->pageRect());
    EXPECT_EQ(stack->bar()->title(), "Devices");
    EXPECT_FALSE(stack->bar()->backButton()->isVisible());
    EXPECT_EQ(stack->pop(false), nullptr) << "the root stays";
}

TEST(NavigationStack, APushDuringASlideFinishesItFirst)
{
    AppWindow window;
    std::vector<std::string> log;
    NavigationStack* stack = window.navigationStack();
    auto* root = new LoggingScreen("Devices", log);
    stack->setRoot(root);
    window.show();
    auto* a = new LoggingScreen("Device", log);
    auto* b = new LoggingScreen("Settings", log);
    stack->push(a, true);
    stack->push(b, true);
    EXPECT_FALSE(root->isVisible()) << "the first slide was finished";
    stack->pop(true);
    stack->pop(true);
    ASSERT_TRUE(test::waitFor([&] { return !stack->isAnimating(); }));
    EXPECT_TRUE(root->isVisible());
    EXPECT_FALSE(a->isVisible());
    EXPECT_FALSE(b->isVisible());
    EXPECT_EQ(root->geometry(), stack->pageRect());
}

TEST(NavigationStack, PoppedScreensAreDeletedOnlyWhenTheyAskForIt)
{
    AppWindow window;
    std::vector<std::string> log;
    NavigationStack* stack = window.navigationStack();
    stack->setRoot(new LoggingScreen("Devices", log));
    QPointer<Screen> kept = new LoggingScreen("Device", log);
    QPointer<Screen> dropped = new LoggingScreen("Event Log", log);
    dropped->setAttribute(Qt::WA_DeleteOnClose);
    window.show();
    stack->push(kept, false);
    stack->push(dropped, false);
    stack->pop(true); // deleted once it has slid out
    stack->popToRoot(false);
    ASSERT_TRUE(test::waitFor([&] { return dropped.isNull(); }));
    EXPECT_FALSE(kept.isNull());
    EXPECT_EQ(stack->depth(), 1);
}

TEST(NavigationStack, DisplayBarHidesTheBarForControlPagesOnly)
{
    struct Case {
        QString title;
        bool barHidden;
    };
    for (const Case& c : {Case{"Control", true}, Case{"Device", false}, Case{"control", false}, Case{"Controls", false}}) {
        AppWindow window;
        DisplayBar displayBar;
        std::vector<std::string> log;
        NavigationStack* stack = window.navigationStack();
        stack->setDelegate(&displayBar);
        stack->setRoot(new LoggingScreen("Devices", log));
        auto* page = new LoggingScreen(c.title, log);
        stack->push(page, true);
        EXPECT_EQ(stack->isNavigationBarHidden(), c.barHidden) << c.title.toStdString();
        EXPECT_EQ(stack->bar()->isHidden(), c.barHidden) << c.title.toStdString();
        // A full-screen page takes the bar's place as well.
        EXPECT_EQ(page->height(), c.barHidden ? 460 : 416) << c.title.toStdString();
    }
}

TEST(NavigationStack, ALandscapeScreenTurnsTheWindowBeforeItAppearsAndBackWhenItLeaves)
{
    AppWindow window;
    std::vector<std::string> log;
    NavigationStack* stack = window.navigationStack();
    stack->setRoot(new LoggingScreen("Device", log));
    window.show();
    auto* wide = new LoggingScreen("Event Log", log, Screen::Orientation::Landscape);
    stack->push(wide, false);
    EXPECT_EQ(window.orientation(), Screen::Orientation::Landscape);
    EXPECT_EQ(window.phoneScreen()->size(), QSize(480, 320));
    EXPECT_EQ(wide->sizeAtWillAppear, QSize(480, 256));
    EXPECT_EQ(stack->bar()->width(), 480);

    stack->pop(false);
    EXPECT_EQ(window.orientation(), Screen::Orientation::Portrait);
    EXPECT_EQ(window.phoneScreen()->size(), QSize(320, 480));
    EXPECT_EQ(stack->top()->size(), QSize(320, 416));
}

TEST(NavigationStack, DidDisappearComesOnceTheLeavingScreenIsHidden)
{
    AppWindow window;
    std::vector<std::string> log;
    NavigationStack* stack = window.navigationStack();
    auto* root = new LoggingScreen("Devices", log);
    root->logDidDisappear = true;
    stack->setRoot(root);
    window.show();
    auto* page = new LoggingScreen("Page", log);
    page->logDidDisappear = true;
    log.clear();
    stack->push(page, false);
    EXPECT_EQ(log, (std::vector<std::string>{"Devices:willDisappear", "Page:willAppear", "Devices:didDisappear",
                                             "Page:didAppear"}));
    log.clear();
    stack->pop(true);
    EXPECT_EQ(log, (std::vector<std::string>{"Page:willDisappear", "Devices:willAppear"}))
        << "while they slide neither has disappeared nor appeared";
    ASSERT_TRUE(test::waitFor([&] { return !stack->isAnimating(); }));
    EXPECT_EQ(log, (std::vector<std::string>{"Page:willDisappear", "Devices:willAppear", "Page:didDisappear",
                                             "Devices:didAppear"}));
}

TEST(NavigationStack, AScreenOwnedElsewhereIsShownButNeverDeleted)
{
    std::vector<std::string> log;
    auto page = std::make_unique<LoggingScreen>("Page", log);
    page->setOwnedByStack(false);
    {
        AppWindow window;
        NavigationStack* stack = window.navigationStack();
        stack->setRoot(new LoggingScreen("Devices", log));
        window.show();
        stack->push(page.get(), false);
        EXPECT_EQ(page->parent(), stack);
        stack->pop(false);
        EXPECT_EQ(page->parent(), nullptr) << "let go once popped";
        stack->push(page.get(), true);
        EXPECT_TRUE(page->isVisible());
    } // the window goes while the page is shown
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->parent(), nullptr);
    EXPECT_EQ(page->navigationStack(), nullptr);
}

TEST(NavigationStack, PopToGoesBackOverScreensInBetweenWithoutShowingThem)
{
    AppWindow window;
    std::vector<std::string> log;
    NavigationStack* stack = window.navigationStack();
    stack->setRoot(new LoggingScreen("Devices", log));
    window.show();
    auto* a = new LoggingScreen("A", log);
    auto* b = new LoggingScreen("B", log);
    auto* c = new LoggingScreen("C", log);
    for (Screen* s : {static_cast<Screen*>(a), static_cast<Screen*>(b), static_cast<Screen*>(c)})
        stack->push(s, false);
    log.clear();
    stack->popTo(a, false);
    EXPECT_EQ(log, (std::vector<std::string>{"C:willDisappear", "A:willAppear", "A:didAppear"}));
    EXPECT_EQ(stack->depth(), 2);
    EXPECT_EQ(stack->top(), a);
    EXPECT_FALSE(stack->contains(b));
    stack->popTo(b, false); // no longer on the stack
    EXPECT_EQ(stack->top(), a);
}

TEST(NavigationBar, ATitleTooWideToCentreUsesTheRoomBesideTheBackButtonBeforeItIsCut)
{
    // Titles were once cut to the width they could have centred, so a page
    // titled "Hydraulics 131 bar" under a "Turbine 2" back button showed as
    // "Hydrauli…" although the bar had room for all of it.
    NavigationBar bar;
    bar.resize(320, 44);
    bar.setBackTitle("Turbine 2");
    bar.show();
    const int backRight = bar.backButton()->geometry().right();
    struct Case {
        QString title;
        bool centred;
        bool whole;
    };
    for (const Case& c : {Case{"Wind", true, true}, Case{"Hydraulics 131 bar", false, true},
                          Case{"Hoist log of the harbour crane, all lifts since service", false, false}}) {
        bar.setTitle(c.title);
        NavigationBar::TitleLayout t = bar.titleLayout();
        EXPECT_EQ(t.rect.left() == 0, c.centred) << c.title.toStdString();
        EXPECT_EQ(t.text == c.title, c.whole) << c.title.toStdString();
        EXPECT_GT(t.rect.left() + (t.rect.width() - QFontMetrics(t.font).horizontalAdvance(t.text)) / 2, backRight)
            << "the title never runs under the back button: " << c.title.toStdString();
        EXPECT_GE(t.font.pixelSize(), 14) << c.title.toStdString();
    }
}
