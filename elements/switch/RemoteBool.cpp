#include "elements/switch/RemoteBool.h"

#include "device/Client.h"
#include "expr/Node.h"
#include "expr/Scope.h"
#include "uidesc/Commands.h"
#include "elements/PageGeometry.h"
#include "platform/Diagnostics.h"
#include "widgets/ToggleSwitch.h"

namespace fieldmon {

RemoteBool::RemoteBool(NodePtr command, std::shared_ptr<Client> client)
    : remoteClient_(std::move(client)), command_(std::move(command))
{
    auto* toggle = new ToggleSwitch();
    toggle->setChecked(true);
    setView(toggle);
    // pressed: a finger (or the mouse) went down on it. clicked: the user
    // flipped it; toggled would also fire for a device update.
    QObject::connect(toggle, &QAbstractButton::pressed, toggle, [this] { touchSwitch(); });
    QObject::connect(toggle, &QAbstractButton::clicked, toggle, [this] { buttonPress(); });
}

RemoteBool::~RemoteBool()
{
    if (timer_ && remoteClient_)
        remoteClient_->loop().cancel(timer_);
}

ToggleSwitch* RemoteBool::switchObj() const
{
    return static_cast<ToggleSwitch*>(view());
}

void RemoteBool::updateState()
{
    ToggleSwitch* s = switchObj();
    if (isToggling_ || !s || !clientData_)
        return;
    const std::string state = clientData_->stringValue();
    if (state == "F" || state == "0") {
        s->setChecked(false);
        diag("Updating state for Bool to 'OFF'\n");
    } else if (state == "C" || state == "1") {
        s->setChecked(true);
        diag("Updating state for Bool to 'ON'\n");
    }
}

void RemoteBool::updateEnabled()
{
    if (ToggleSwitch* s = switchObj(); s && clientEnabled_)
        s->setEnabled(clientEnabled_->intValue() != 0);
}

void RemoteBool::updatePos()
{
    double x = clientXData_ ? clientXData_->doubleValue() : 0.0;
    double y = clientYData_ ? clientYData_->doubleValue() : 0.0;
    moveView(x * kPageWidth, y * kPageHeight);
}

void RemoteBool::touchSwitch()
{
    isToggling_ = true;
    if (!remoteClient_)
        return;
    // Each touch holds updates off for the full time again; a timer of an
    // earlier touch must not end the hold-off of this one.
    platform::MainLoop& loop = remoteClient_->loop();
    if (timer_)
        loop.cancel(timer_);
    std::weak_ptr<RemoteView> self = weak_from_this();
    timer_ = loop.after(kHoldOffSeconds, [self] {
        if (auto widget = std::static_pointer_cast<RemoteBool>(self.lock()))
            widget->handleTimer();
    });
}

void RemoteBool::handleTimer()
{
    timer_ = 0;
    isToggling_ = false;
    diag("done timer\n");
}

void RemoteBool::buttonPress()
{
    ToggleSwitch* s = switchObj();
    if (!s)
        return;
    const int on = s->isChecked() ? 1 : 0;
    diag("Hit, %d\n", on);
    if (!remoteClient_ || !command_)
        return;
    auto command = commands::withParameter(remoteClient_, command_, "state", on);
    std::weak_ptr<RemoteView> self = weak_from_this();
    commands::whenValuesAreIn(*remoteClient_, command, [self, command] {
        if (auto widget = std::static_pointer_cast<RemoteBool>(self.lock()))
            widget->runCommand(command);
    });
}

void RemoteBool::runCommand(const std::shared_ptr<expr::Scope>& command)
{
    if (auto text = commands::line(command->eval(), {}, "a switch"))
        remoteClient_->sendString(*text);
}

void RemoteBool::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    if (ToggleSwitch* s = switchObj()) {
        out[QStringLiteral("on")] = s->isChecked();
        out[QStringLiteral("enabled")] = s->isEnabled();
    }
    out[QStringLiteral("holding")] = isToggling_;
}

} // namespace fieldmon
