#include "elements/joystick/Joystick.h"

#include "device/Client.h"
#include "expr/Compiler.h"
#include "expr/Scope.h"
#include "platform/Diagnostics.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>

namespace fieldmon {

Joystick::Joystick() : QuartzViewController(new JoystickView(this))
{
    // The knob stays invisible until a finger comes down in service mode.
    j()->setAlpha(0);
}

Joystick::~Joystick()
{
    cancelTimer(timer_);
    cancelTimer(glideTimer_);
}

void Joystick::cancelTimer(platform::MainLoop::TimerId& timer)
{
    if (timer && remoteClient_)
        remoteClient_->loop().cancel(timer);
    timer = 0;
}

void Joystick::setRemoteClient(std::shared_ptr<Client> client)
{
    remoteClient_ = std::move(client);
}

Joystick::EnvPtr Joystick::wrap(NodePtr e)
{
    if (!remoteClient_)
        return nullptr;
    if (!x_) {
        x_ = expr::Node::real(remoteClient_, 0.0);
        y_ = expr::Node::real(remoteClient_, 0.0);
    }
    EnvPtr env = expr::Scope::create(remoteClient_, std::move(e));
    env->setVariable("x", x_);
    env->setVariable("y", y_);
    return env;
}

void Joystick::setCommand(NodePtr e)
{
    moveCommand_ = wrap(std::move(e));
}

void Joystick::setQuad(NodePtr e)
{
    quad_ = wrap(std::move(e));
}

void Joystick::setRate(NodePtr e)
{
    rate_ = wrap(std::move(e));
}

bool Joystick::takesTouches() const
{
    return remoteClient_ && remoteClient_->service();
}

void Joystick::placeKnob(QPointF window)
{
    const double half = JoystickView::kKnobSize / 2;
    if (JoystickView* v = j())
        v->setKnob(window - QPointF(half, kLift + half));
}

void Joystick::touchesBegan(QPointF window)
{
    placeKnob(window);
    if (!takesTouches())
        return;
    if (JoystickView* v = j())
        v->setAlpha(1.0, kFadeIn);
    fingerDown_ = true;
    // Down again during the glide: the glide no longer ends the finger.
    cancelTimer(glideTimer_);
    if (moving_) {
        diag("Not moving since one is already going on\n");
        return;
    }
    moving_ = true;
    std::weak_ptr<RemoteView> self = weak_from_this();
    timer_ = remoteClient_->loop().after(0, [self] {
        if (auto joystick = std::static_pointer_cast<Joystick>(self.lock()))
            joystick->moveClient();
    });
}

void Joystick::touchesMoved(QPointF window)
{
    placeKnob(window);
    if (JoystickView* v = j())
        v->setAlpha(takesTouches() ? 1.0 : 0.0);
}

void Joystick::touchesEnded()
{
    if (JoystickView* v = j()) {
        v->setKnob(v->middlePoint() - QPointF(JoystickView::kKnobSize / 2, JoystickView::kKnobSize / 2), kReturn);
        v->setAlpha(0, kReturn);
    }
    if (!fingerDown_ || !remoteClient_)
        return;
    // The finger counts as down until the knob is back: the ticks of the
    // glide read the centre and send the centred moves.
    cancelTimer(glideTimer_);
    std::weak_ptr<RemoteView> self = weak_from_this();
    glideTimer_ = remoteClient_->loop().after(kReturn, [self] {
        if (auto joystick = std::static_pointer_cast<Joystick>(self.lock())) {
            joystick->glideTimer_ = 0;
            joystick->fingerDown_ = false;
        }
    });
}

void Joystick::touchesCancelled()
{
    endChain();
    if (JoystickView* v = j()) {
        v->setKnob(v->middlePoint() - QPointF(JoystickView::kKnobSize / 2, JoystickView::kKnobSize / 2));
        v->setAlpha(0);
    }
}

void Joystick::endChain()
{
    fingerDown_ = false;
    moving_ = false;
    // A move still waiting for its values was meant for a finger that is gone.
    ++move_;
    cancelTimer(timer_);
    cancelTimer(glideTimer_);
}

double Joystick::period()
{
    if (!rate_)
        rate_ = wrap(expr::Compiler::compile(remoteClient_, "0.5"));
    const expr::Value v = rate_->eval();
    const double seconds = v.doubleValue();
    // NaN, an error or a value not fetched yet is no time at all, and a
    // timer of +infinity would never tick again (the chain would never end,
    // and a new touch would join it): the default then. (Evaluating first
    // has told the expression which of its names are local.)
    const bool fetched = rate_->expression() && rate_->expression()->valuesPresent();
    if (!fetched || v.isError() || v.isNone() || std::isnan(seconds) || (std::isinf(seconds) && seconds > 0)) {
        if (!warnedRate_) {
            warnedRate_ = true;
            diag("Joystick rate '%s' is no time between moves: moving every %g s\n", v.stringValue().c_str(),
                        kDefaultRate);
        }
        return kDefaultRate;
    }
    // A chain of 0 s would flood the device.
    return std::max(seconds, kMinimumRate);
}

void Joystick::moveClient()
{
    timer_ = 0;
    if (!fingerDown_ || !remoteClient_) {
        moving_ = false;
        return;
    }
    if (remoteClient_->service()) {
        const std::uint64_t move = ++move_;
        if (quad_)
            bindOnce(quad_, &Joystick::queueMove, move);
        else
            queueMove(move);
    }
    std::weak_ptr<RemoteView> self = weak_from_this();
    timer_ = remoteClient_->loop().after(period(), [self] {
        if (auto joystick = std::static_pointer_cast<Joystick>(self.lock()))
            joystick->moveClient();
    });
}

void Joystick::bindOnce(const EnvPtr& e, void (Joystick::*notifier)(std::uint64_t), std::uint64_t move)
{
    // A binding of the same expression still waiting is retired by this one
    // (UpdateScheduler): one binding each at most.
    auto self = std::static_pointer_cast<Joystick>(shared_from_this());
    remoteClient_->scheduler().bind(
        e, [self, notifier, move] { ((*self).*notifier)(move); }, [self] { return self->shouldRedraw(); }, "once");
    remoteClient_->variables().requests().submitRequests();
}

QPointF Joystick::position() const
{
    JoystickView* v = j();
    if (!v)
        return {};
    const QPointF o = v->knob();
    const double half = JoystickView::kKnobSize / 2;
    return QPointF(2 * (o.x() - 320 * 0.5 + half) / 320, 2 * (o.y() - 416 * 0.5 + half) / 416);
}

void Joystick::queueMove(std::uint64_t move)
{
    // A quadrant value that comes after a newer tick, or after a cancel,
    // moves nothing.
    if (move != move_ || !remoteClient_ || !moveCommand_)
        return;
    QPointF p = position();
    double x = p.x(), y = p.y();
    if (quad_ && quad_->intValue() != 0) {
        if (std::abs(x) > std::abs(y))
            y = 0;
        else
            x = 0;
    }
    x_->setDouble(x);
    y_->setDouble(y);
    bindOnce(moveCommand_, &Joystick::execMove, move);
}

void Joystick::execMove(std::uint64_t move)
{
    // Values that came after a newer move was queued, or after a cancel;
    // or a move already sent (a reply to an older request may tell its
    // binding first).
    if (move != move_ || move == sent_ || !moveCommand_ || !remoteClient_)
        return;
    sent_ = move;
    const expr::Value v = moveCommand_->eval();
    if (v.isError()) {
        diag("Not sending the joystick's move: its value is an error\n");
        return;
    }
    remoteClient_->sendString("c" + v.stringValue() + "\r\n");
}

void Joystick::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    if (JoystickView* v = j()) {
        const double half = JoystickView::kKnobSize / 2;
        out[QStringLiteral("knob")] = QJsonArray{v->knob().x() + half, v->knob().y() + half};
        out[QStringLiteral("alpha")] = v->alpha();
    }
    // What the command reads: the place of the last move.
    out[QStringLiteral("x")] = x_ ? x_->doubleValue() : 0.0;
    out[QStringLiteral("y")] = y_ ? y_->doubleValue() : 0.0;
    out[QStringLiteral("moving")] = moving_;
    out[QStringLiteral("finger")] = fingerDown_;
}

} // namespace fieldmon
