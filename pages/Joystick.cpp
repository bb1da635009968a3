#include "pages/Joystick.h"

#include "device/Client.h"
#include "expr/ClientDataEnvironment.h"

#include <QJsonArray>

#include <cmath>
#include <cstdio>

namespace fieldmon {

Joystick::Joystick() : QuartzViewController(new JoystickView(this))
{
    // The knob stays invisible until a finger comes down in service mode.
    j()->setAlpha(0);
}

Joystick::~Joystick()
{
    if (timer_ && remoteClient_)
        remoteClient_->loop().cancel(timer_);
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
        x_ = expr::ClientData::real(remoteClient_, 0.0);
        y_ = expr::ClientData::real(remoteClient_, 0.0);
    }
    EnvPtr env = expr::ClientDataEnvironment::create(remoteClient_, std::move(e));
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
    if (moving_) {
        std::printf("Not moving since one is already going on\n");
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
    fingerDown_ = false;
    if (JoystickView* v = j()) {
        v->setKnob(v->middlePoint() - QPointF(JoystickView::kKnobSize / 2, JoystickView::kKnobSize / 2), kReturn);
        v->setAlpha(0, kReturn);
    }
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
    if (timer_ && remoteClient_)
        remoteClient_->loop().cancel(timer_);
    timer_ = 0;
}

double Joystick::period()
{
    if (!rate_)
        rate_ = wrap(remoteClient_->compileString("0.5"));
    const expr::Value v = rate_->eval();
    const double seconds = v.doubleValue();
    if (!v.isError() && !v.isNone() && std::isfinite(seconds) && seconds >= kMinimumRate)
        return seconds;
    if (!warnedRate_) {
        warnedRate_ = true;
        std::printf("Joystick rate '%s' is no time between moves: moving every %g s\n", v.stringValue().c_str(),
                    kDefaultRate);
    }
    return kDefaultRate;
}

void Joystick::moveClient()
{
    timer_ = 0;
    if (!fingerDown_ || !remoteClient_) {
        moving_ = false;
        return;
    }
    if (remoteClient_->service()) {
        if (quad_)
            bindOnce(quad_, &Joystick::queueMove);
        else
            queueMove();
    }
    std::weak_ptr<RemoteView> self = weak_from_this();
    timer_ = remoteClient_->loop().after(period(), [self] {
        if (auto joystick = std::static_pointer_cast<Joystick>(self.lock()))
            joystick->moveClient();
    });
}

void Joystick::bindOnce(const EnvPtr& e, void (Joystick::*notifier)())
{
    auto self = std::static_pointer_cast<Joystick>(shared_from_this());
    remoteClient_->scheduleDataUpdate(
        e, [self, notifier] { ((*self).*notifier)(); }, [self] { return self->shouldRedraw(); }, "once");
    remoteClient_->submitRequests();
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

void Joystick::queueMove()
{
    // A value fetched after the finger went up moves nothing.
    if (!fingerDown_ || !remoteClient_ || !moveCommand_)
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
    bindOnce(moveCommand_, &Joystick::execMove);
}

void Joystick::execMove()
{
    if (!moveCommand_ || !remoteClient_)
        return;
    const expr::Value v = moveCommand_->eval();
    if (v.isError()) {
        std::printf("Not sending the joystick's move: its value is an error\n");
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
