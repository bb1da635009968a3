// A press held still becomes a long press, seen at the window before any
// widget takes it; the widget under it never acts on that press.

#include "app/LongPress.h"

#include <QPushButton>
#include <QWindow>
#include <QTest>

#include <gtest/gtest.h>

using namespace fieldmon;

namespace {

struct Rig {
    QWidget window;
    QPushButton* button = new QPushButton(QStringLiteral("Go"), &window);
    QPushButton* other = new QPushButton(QStringLiteral("Other"), &window);
    int clicks = 0;
    int fired = 0;
    // Only the first button's presses may become long ones.
    LongPress press{[this](QPoint global) { return button->rect().contains(button->mapFromGlobal(global)); },
                    [this] { ++fired; }};

    Rig()
    {
        window.resize(240, 120);
        button->setGeometry(10, 10, 100, 40);
        other->setGeometry(120, 10, 100, 40);
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        QObject::connect(other, &QPushButton::clicked, [this] { ++clicks; });
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // Input as the platform delivers it: to the window, not to a widget.
    QWindow* surface() { return window.windowHandle(); }
    QPoint centreOf(QWidget* w) { return w->geometry().center(); }
    void pressAt(QPoint at) { QTest::mousePress(surface(), Qt::LeftButton, {}, at); }
    void releaseAt(QPoint at) { QTest::mouseRelease(surface(), Qt::LeftButton, {}, at); }
    void tapAt(QPoint at) { QTest::mouseClick(surface(), Qt::LeftButton, {}, at); }
};

} // namespace

TEST(LongPress, HeldStillItFiresInsteadOfTheTap)
{
    Rig rig;
    const QPoint middle = rig.centreOf(rig.button);

    // A tap is a tap.
    rig.tapAt(middle);
    EXPECT_EQ(rig.clicks, 1);
    EXPECT_EQ(rig.fired, 0);

    // Held: the long press fires and the button, released outside itself,
    // does not click; the real release that follows is swallowed.
    rig.pressAt(middle);
    EXPECT_TRUE(rig.button->isDown());
    QTest::qWait(LongPress::kHoldMs + 150);
    EXPECT_EQ(rig.fired, 1);
    EXPECT_FALSE(rig.button->isDown());
    rig.releaseAt(middle);
    EXPECT_EQ(rig.clicks, 1);

    // The next press starts afresh: a tap clicks again.
    rig.tapAt(middle);
    EXPECT_EQ(rig.clicks, 2);
}

TEST(LongPress, AMovedPressOrAnUnwantedPlaceNeverFires)
{
    Rig rig;
    const QPoint middle = rig.centreOf(rig.button);
    rig.pressAt(middle);
    QTest::mouseMove(rig.surface(), middle + QPoint(LongPress::kSlopPixels + 5, 0));
    QTest::qWait(LongPress::kHoldMs + 150);
    rig.releaseAt(middle);
    EXPECT_EQ(rig.fired, 0) << "a drag is not a long press";
    EXPECT_EQ(rig.clicks, 1) << "the button, still under the finger, clicked as it always does";

    rig.pressAt(rig.centreOf(rig.other));
    QTest::qWait(LongPress::kHoldMs + 150);
    rig.releaseAt(rig.centreOf(rig.other));
    EXPECT_EQ(rig.fired, 0) << "the owner did not want presses there";
    EXPECT_EQ(rig.clicks, 2);
}
