#pragma once
// Joystick: steers the device with a finger while the device is in service
// mode ("joystick"). A full-page overlay: wherever the finger goes a red
// knob follows, and while the finger stays down a move command goes out at
// the document's rate, built from the knob's place as x and y in -1…1.
//
// Window coordinates. The knob is placed from the touch's position in the
// window (the page starts 64 points below the window's top, 20 with the
// bar hidden): its top left goes to (tx - 30, ty - 90), read as page
// points, so its centre is 60 points above the touch in the window's
// coordinates; a touch at window (160, 268) centres it on the page's centre
// (160, 208), which is x = 0, y = 0. x = 2 (cx - 160) / 320 and
// y = 2 (cy - 208) / 416 for the knob's centre (cx, cy): x grows to the
// right, y downwards.
//
// Touches. Outside service mode the view takes no touches (they reach what
// lies under it); in service mode it takes every touch on the page.
//   began    the knob jumps under the finger; in service mode it fades in
//            (0.2 s), the finger is down and, unless a chain of moves is
//            already running (a finger lifted and put down within one
//            period joins it), the first tick comes at once
//   moved    the knob follows; it shows only in service mode
//   ended    the knob glides back to the page's centre and fades out over
//            0.8 s, and the finger counts as down until the glide has ended.
//            The logical knob is in the centre from the touch-up on, so the
//            ticks of the glide send centred moves (x = 0, y = 0: the stop of
//            a device that takes moves as speeds). Nothing is sent at the
//            release itself.
//   cancelled, the view hidden (page popped or covered), the widget gone:
//            the finger is up and the chain ends at once; a move still
//            waiting for its values is dropped
//
// Move chain (moveClient), one tick per period while the finger is down:
// in service mode, with a quadrant expression, that expression is bound
// once so that its value is fetched first, then queueMove; without one,
// queueMove at once. Outside service mode nothing is queued. The next tick
// follows after the rate expression's value in seconds, read again each
// period: below 0.05 s it is 0.05 s; not a number, infinite, an error, not
// fetched yet, or no rate at all: 0.5 s. A tick that finds the finger up
// ends the chain.
//
// queueMove stores x and y (the logical knob place, never an animated one)
// in the local variables x and y that the command, quadrant and rate
// expressions share; in quadrant mode (its integer value non-zero) the
// smaller of the two becomes 0 (a tie keeps y). It then binds the command
// once; execMove sends "c" + its text + "\r\n" when its values are in, never
// an error value. Each one-time binding is followed by a request batch
// (submitRequests), so that its values are fetched even when the page's
// refresh chain has ended.
//
// One move at a time. Each tick's move replaces the one before it: a move
// (or the quadrant value before it) whose values arrive after a newer move
// was queued is dropped, and each move is sent at most once. So a device
// that answers slowly gets the latest place, not a backlog of old ones, and
// once the chain has ended only the last move queued, the centred one of
// the glide, may still go.
//
// Ownership: the one-time bindings hold the joystick until they are
// serviced or a newer binding retires them (at most one each); the tick and
// glide timers hold it weakly and die with it.
//
// Thread rule: main thread only.

#include "elements/joystick/JoystickView.h"
#include "elements/QuartzViewController.h"
#include "platform/MainLoop.h"

#include <cstdint>
#include <memory>

namespace fieldmon {

class Client;

namespace expr {
class Node;
class Scope;
} // namespace expr

class Joystick final : public QuartzViewController, public JoystickView::Owner {
public:
    using NodePtr = std::shared_ptr<expr::Node>;
    using EnvPtr = std::shared_ptr<expr::Scope>;
    static constexpr double kDefaultRate = 0.5;
    static constexpr double kMinimumRate = 0.05;
    // The knob's centre sits this far above the touch in window coordinates.
    static constexpr double kLift = 60.0;
    static constexpr double kFadeIn = 0.2;
    static constexpr double kReturn = 0.8;

    Joystick();
    ~Joystick() override;

    JoystickView* j() const { return static_cast<JoystickView*>(view()); }
    QString elementName() const override { return QStringLiteral("joystick"); }
    void inspect(QJsonObject& out) const override;

    // The device comes first: the expressions' environments need it.
    void setRemoteClient(std::shared_ptr<Client> client);
    const std::shared_ptr<Client>& remoteClient() const { return remoteClient_; }
    void setCommand(NodePtr e);
    void setQuad(NodePtr e);
    void setRate(NodePtr e);

    // The redraw check of the one-time bindings.
    bool shouldRedraw() const { return true; }
    // Whether the view takes a touch now: in service mode, anywhere.
    bool takesTouches() const override;

    // Touches in window coordinates.
    void touchesBegan(QPointF window) override;
    void touchesMoved(QPointF window) override;
    void touchesEnded() override;
    void touchesCancelled() override;

    void moveClient();
    // `move`: the tick's number; a newer tick or a cancel drops it.
    void queueMove(std::uint64_t move);
    void execMove(std::uint64_t move);

    bool moving() const { return moving_; }
    bool fingerDown() const { return fingerDown_; }
    // The normalised place of the logical knob.
    QPointF position() const;
    // Seconds until the next tick: the rate's value, at least 0.05 s, or
    // 0.5 s when that is no time at all (see above).
    double period();
    // Whether the knob is gliding back after a touch-up (the finger still
    // counts as down).
    bool gliding() const { return glideTimer_ != 0; }

private:
    EnvPtr wrap(NodePtr e);
    void placeKnob(QPointF window);
    void bindOnce(const EnvPtr& e, void (Joystick::*notifier)(std::uint64_t), std::uint64_t move);
    // The finger goes up and the chain ends now (cancel, hide, destruction).
    void endChain();
    void cancelTimer(platform::MainLoop::TimerId& timer);

    std::shared_ptr<Client> remoteClient_;
    EnvPtr moveCommand_;
    EnvPtr quad_;
    EnvPtr rate_;
    NodePtr x_;
    NodePtr y_;
    bool moving_ = false;
    bool fingerDown_ = false;
    bool warnedRate_ = false;
    // The newest move queued (each tick counts one; a cancel too, which so
    // drops the move in flight), and the last one sent.
    std::uint64_t move_ = 0;
    std::uint64_t sent_ = 0;
    platform::MainLoop::TimerId timer_ = 0;
    platform::MainLoop::TimerId glideTimer_ = 0;
};

} // namespace fieldmon
