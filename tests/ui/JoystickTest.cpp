// The joystick: window coordinates, the move chain in virtual time, quadrant
// mode, the rate and its mends, service mode, and the finger's end when the
// page goes. Touches and mouse presses go through the window as the
// automation interface delivers them.

#include "app/automation/InputSynthesizer.h"
#include "pages/Joystick.h"
#include "ui/PageRig.h"

#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>

using namespace fieldmon;
using Pointer = automation::InputSynthesizer::Pointer;

namespace {

std::string page(const std::string& attributes)
{
    return "<d><start initial='main'/><page name='main'>"
           "<joystick command='printf(\"move %.2f %.2f\", x, y)' " +
           attributes + "/></page></d>";
}

// The x and y of a move "cmove <x> <y>\r\n".
QPointF moveOf(const std::string& datagram)
{
    QPointF p(99, 99);
    double x = 0, y = 0;
    if (std::sscanf(datagram.c_str(), "cmove %lf %lf", &x, &y) == 2 && datagram.ends_with("\r\n"))
        p = QPointF(x, y);
    return p;
}

// Exactly one move, to (x, y).
::testing::AssertionResult oneMove(const std::vector<std::string>& moves, double x, double y)
{
    if (moves.size() != 1)
        return ::testing::AssertionFailure() << moves.size() << " moves";
    if (moveOf(moves[0]) != QPointF(x, y))
        return ::testing::AssertionFailure() << moves[0];
    return ::testing::AssertionSuccess();
}

struct JoystickRig : test::PageRig {
    automation::InputSynthesizer input;
    std::shared_ptr<DevicePage> page_;
    std::shared_ptr<Joystick> joystick;

    void openWith(const std::string& attributes, bool service = true)
    {
        client->setService(service);
        page_ = open(page(attributes));
        ASSERT_TRUE(page_);
        joystick = widgetAt<Joystick>(*page_, 0);
        ASSERT_TRUE(joystick);
        run(0.1);
        moves();
    }
    // Moves the device received since the last call.
    std::vector<std::string> moves()
    {
        received();
        std::vector<std::string> got;
        for (; seen_ < sent.size(); ++seen_)
            if (sent[seen_][0] == 'c')
                got.push_back(sent[seen_]);
        return got;
    }
    std::size_t seen_ = 0;
    QWindow* handle() { return window.windowHandle(); }
};

using Joysticks = JoystickRig;

} // namespace

TEST_F(Joysticks, WindowPointsGiveTheKnobAndTheMovesWithAFingerAndAMouse)
{
    for (Pointer pointer : {Pointer::Touch, Pointer::Mouse}) {
        openWith("");
        // The page starts 64 points down: window (160, 268) is page (160, 204),
        // and the knob's centre, 60 above in window points, is the page's centre.
        input.press(handle(), QPointF(160, 268), pointer);
        QJsonObject o;
        joystick->inspect(o);
        const QJsonArray knob = o["knob"].toArray();
        EXPECT_EQ(knob, (QJsonArray{160, 208}));
        EXPECT_EQ(o["alpha"], 1.0);
        run(0.01);
        EXPECT_TRUE(oneMove(moves(), 0, 0)) << "the first move at touch-down";

        input.move(QPointF(320, 268));
        run(0.5);
        EXPECT_TRUE(oneMove(moves(), 1, 0));
        input.move(QPointF(0, 60));
        run(0.5);
        EXPECT_TRUE(oneMove(moves(), -1, -1));

        // Up: the logical knob is back in the middle at once, no move for it.
        input.release();
        o = {};
        joystick->inspect(o);
        EXPECT_EQ(o["knob"], (QJsonArray{160, 208}));
        EXPECT_EQ(o["finger"], false);
        EXPECT_EQ(o["x"], -1.0) << "the last move's place";
        run(2.0);
        EXPECT_TRUE(moves().empty());
        EXPECT_FALSE(joystick->moving()) << "the next tick ends the chain";
        stack->popToRoot(false);
        settle();
    }
}

TEST_F(Joysticks, QuadrantModeKeepsTheLargerAxis)
{
    struct Case {
        QPointF knob; // normalised
        const char* move;
    };
    openWith("quad='1' rate='10'");
    for (const Case& c : {Case{{0.5, -0.7}, "cmove 0.00 -0.70\r\n"}, Case{{0.6, 0.6}, "cmove 0.00 0.60\r\n"},
                          Case{{-0.9, 0.2}, "cmove -0.90 0.00\r\n"}}) {
        const QPointF window(160 + c.knob.x() * 160, 208 + c.knob.y() * 208 + Joystick::kLift);
        joystick->touchesBegan(window);
        run(0.01);
        EXPECT_EQ(moves(), std::vector<std::string>{c.move});
        joystick->touchesCancelled();
    }
}

TEST_F(Joysticks, MovesComeAtTheRateAndAnUnusableRateIsHalfASecond)
{
    struct Case {
        const char* rate;
        int moves; // while the finger is down for 1.2 s
    };
    for (const Case& c : {Case{"", 3}, Case{"rate='0.25'", 5}, Case{"rate='0'", 3}, Case{"rate='0.01'", 3},
                          Case{"rate='1 / 0'", 3}, Case{"rate='\"soon\"'", 3}, Case{"rate='0.2 + x'", 6},
                          Case{"rate='temp'", 3}}) {
        openWith(c.rate);
        joystick->touchesBegan(QPointF(160, 268));
        run(1.2);
        joystick->touchesEnded();
        EXPECT_EQ(static_cast<int>(moves().size()), c.moves) << c.rate;
        run(1.0);
        EXPECT_TRUE(moves().empty()) << c.rate;
        stack->popToRoot(false);
        settle();
    }
}

TEST_F(Joysticks, ARemoteQuadrantIsFetchedBeforeEachMoveWithoutARefreshChain)
{
    openWith("quad='level'");
    ASSERT_FALSE(client->scheduler().running()) << "nothing else refreshes on this page";
    joystick->touchesBegan(QPointF(260, 268));
    s.loop.advance(0.01);
    auto batch = received();
    ASSERT_EQ(batch.size(), 1u) << "the request for level went out at the tick";
    EXPECT_NE(batch[0][0], 'c');
    answer(batch[0]);
    answerAll();
    EXPECT_EQ(moves(), std::vector<std::string>{"cmove 0.62 0.00\r\n"}) << "level is not 0: quadrant mode";
}

TEST_F(Joysticks, OutsideServiceModeNothingIsSentAndTouchesReachThePage)
{
    openWith("", false);
    input.press(handle(), QPointF(80, 168), Pointer::Touch);
    run(1.0);
    input.release();
    EXPECT_TRUE(moves().empty());
    EXPECT_FALSE(joystick->moving());
    EXPECT_DOUBLE_EQ(client->touchX(), 0.25) << "the page got the touch";
    QJsonObject o;
    joystick->inspect(o);
    EXPECT_EQ(o["alpha"], 0.0) << "the knob stays invisible";

    // A chain already running sends nothing while service mode is off.
    client->setService(true);
    input.press(handle(), QPointF(160, 268), Pointer::Mouse);
    run(0.01);
    EXPECT_EQ(moves().size(), 1u);
    client->setService(false);
    run(1.0);
    EXPECT_TRUE(moves().empty());
    EXPECT_TRUE(joystick->moving());
    input.release();
    run(0.6);
    EXPECT_FALSE(joystick->moving());
}

TEST_F(Joysticks, TheFingerAndTheChainEndWithACancelAPopOrTheWidget)
{
    const std::size_t idle = s.loop.pendingTimers();
    // A cancelled touch (the system took the finger).
    openWith("");
    input.press(handle(), QPointF(160, 268), Pointer::Touch);
    run(0.6);
    EXPECT_EQ(moves().size(), 2u);
    static QPointingDevice* finger = QTest::createTouchDevice();
    QTouchEvent cancel(QEvent::TouchCancel, finger);
    QCoreApplication::sendEvent(joystick->view(), &cancel);
    input.release();
    EXPECT_FALSE(joystick->fingerDown());
    EXPECT_FALSE(joystick->moving());
    run(1.0);
    EXPECT_TRUE(moves().empty());

    // The page popped with the finger down: the moves would go on forever.
    input.press(handle(), QPointF(100, 200), Pointer::Touch);
    run(0.6);
    EXPECT_EQ(moves().size(), 2u);
    stack->popToRoot(false);
    settle();
    EXPECT_FALSE(joystick->moving());
    run(1.0);
    EXPECT_TRUE(moves().empty());
    input.release();

    // The widget gone with its chain running: its timer goes with it.
    auto alone = std::make_shared<Joystick>();
    alone->setRemoteClient(client);
    alone->setCommand(compile("\"alone\""));
    client->setService(true);
    alone->touchesBegan(QPointF(160, 268));
    run(0.6);
    EXPECT_EQ(moves().size(), 2u);
    EXPECT_GT(s.loop.pendingTimers(), idle);
    std::weak_ptr<Joystick> gone = alone;
    client->unscheduleAll();
    alone.reset();
    ASSERT_TRUE(gone.expired());
    EXPECT_EQ(s.loop.pendingTimers(), idle);
    run(1.0);
    EXPECT_TRUE(moves().empty());
}
