// The joystick: window coordinates, the move chain in virtual time, quadrant
// mode, the rate and its mends, service mode, and the finger's end when the
// page goes. Touches and mouse presses go through the window as the
// automation interface delivers them.

#include "app/automation/InputSynthesizer.h"
#include "elements/joystick/Joystick.h"
#include "ui/PageRig.h"

#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>

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

        // Up at 1.01 s: the logical knob is back in the middle at once, and
        // nothing is sent for the release itself.
        input.release();
        o = {};
        joystick->inspect(o);
        EXPECT_EQ(o["knob"], (QJsonArray{160, 208}));
        EXPECT_EQ(o["finger"], true) << "down until the knob has glided back";
        EXPECT_EQ(o["x"], -1.0) << "the last move's place";
        EXPECT_TRUE(moves().empty());
        run(2.0);
        EXPECT_TRUE(oneMove(moves(), 0, 0)) << "the glide's tick at 1.5 s";
        EXPECT_FALSE(joystick->moving()) << "the tick after the glide ends the chain";
        EXPECT_FALSE(joystick->fingerDown());
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

TEST_F(Joysticks, MovesComeAtTheRateTheGlideSendsCentredMovesAndOnlyNoTimeAtAllIsHalfASecond)
{
    // The release once ended the moves at once: a device that takes moves
    // as speeds never got the centred move that stops it. And a rate below
    // 0.05 s was taken as 0.5 s, ten times slower than the document asked.
    struct Case {
        const char* rate;
        int down;  // moves while the finger is down (0 … 1.23 s), all to x = 1
        int glide; // centred moves after the release, until 2.03 s
    };
    for (const Case& c : {Case{"", 3, 2}, Case{"rate='0.25'", 5, 4}, Case{"rate='0'", 25, 16},
                          Case{"rate='0.01'", 25, 16}, Case{"rate='-3'", 25, 16}, Case{"rate='\"soon\"'", 25, 16},
                          Case{"rate='1 / 0'", 3, 2}, Case{"rate='1.0 / 0'", 3, 2}, Case{"rate='temp'", 3, 2},
                          Case{"rate='0.2 + x'", 2, 0}}) {
        SCOPED_TRACE(c.rate);
        openWith(c.rate);
        joystick->touchesBegan(QPointF(320, 268));
        run(1.23);
        const auto down = moves();
        EXPECT_EQ(static_cast<int>(down.size()), c.down);
        EXPECT_EQ(std::count(down.begin(), down.end(), "cmove 1.00 0.00\r\n"), c.down);
        joystick->touchesEnded();
        EXPECT_TRUE(moves().empty()) << "nothing for the release itself";
        run(0.8);
        const auto glide = moves();
        EXPECT_EQ(static_cast<int>(glide.size()), c.glide);
        EXPECT_EQ(std::count(glide.begin(), glide.end(), "cmove 0.00 0.00\r\n"), c.glide);
        run(1.0);
        EXPECT_TRUE(moves().empty());
        EXPECT_FALSE(joystick->moving());
        stack->popToRoot(false);
        settle();
    }
}

TEST_F(Joysticks, ASlowDeviceGetsTheLatestMoveAndOnlyTheCentredOneAfterTheChainEnds)
{
    // The command reads a variable the device answers 2 s late. Every tick
    // bound the command again and every late reply sent a move with the
    // place of its time: twenty off-centre moves reached the device up to
    // 4 s after the release, and the bindings piled up until the page went.
    openWith("rate='0.1'", true);
    joystick->setCommand(compile("printf(\"move %.2f %.2f %d\", x, y, level > 0)"));
    struct Late {
        double at;
        std::string request;
    };
    std::deque<Late> waiting;
    std::vector<std::pair<double, std::string>> got; // moves, with when they came
    auto step = [&](double until) {
        while (s.loop.now() < until - 1e-9) {
            quietly([&] { s.loop.advance(0.01); });
            for (const auto& d : received()) {
                if (d[0] == 'c')
                    got.emplace_back(s.loop.now(), d);
                else
                    waiting.push_back({s.loop.now() + 2.0, d});
            }
            while (!waiting.empty() && waiting.front().at <= s.loop.now() + 1e-9) {
                answer(waiting.front().request);
                waiting.pop_front();
            }
        }
    };
    // level's address first, from a device still quick.
    joystick->touchesBegan(QPointF(320, 268));
    run(0.05);
    joystick->touchesCancelled();
    ASSERT_EQ(moves().size(), 1u);
    const double start = s.loop.now();
    joystick->touchesBegan(QPointF(320, 268));
    step(start + 2.505);
    EXPECT_LE(client->scheduler().waitingOnce() + client->scheduler().size(), 1u) << "one move's binding at most";
    const std::size_t whileDown = got.size();
    EXPECT_GE(whileDown, 1u) << "the first answers came in while the finger was down";
    joystick->touchesEnded(); // at 2.505 s; the glide ends at 3.305 s
    step(start + 8);
    EXPECT_FALSE(joystick->moving());
    std::vector<std::pair<double, std::string>> after(got.begin() + static_cast<long>(whileDown), got.end());
    ASSERT_FALSE(after.empty());
    // At the release a move of the old place may still be waiting; from the
    // glide's first tick (2.6 s) on every move is centred, and after the
    // chain's end (the tick at 3.4 s) at most the last centred one comes.
    int offCentre = 0, afterEnd = 0;
    for (const auto& [at, move] : after) {
        if (move != "cmove 0.00 0.00 0\r\n") {
            ++offCentre;
            EXPECT_LT(at, start + 2.605) << move;
        }
        afterEnd += at > start + 3.405;
    }
    EXPECT_LE(offCentre, 1);
    EXPECT_LE(afterEnd, 1);
    EXPECT_EQ(after.back().second, "cmove 0.00 0.00 0\r\n");
    EXPECT_EQ(client->scheduler().waitingOnce(), 0u);
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
    EXPECT_DOUBLE_EQ(client->expressions().touchX(), 0.25) << "the page got the touch";
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
    run(1.4); // the glide, and the tick after it
    EXPECT_TRUE(moves().empty());
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
    client->scheduler().unscheduleAll();
    alone.reset();
    ASSERT_TRUE(gone.expired());
    EXPECT_EQ(s.loop.pendingTimers(), idle);
    run(1.0);
    EXPECT_TRUE(moves().empty());
}
