#pragma once
// RemoteBool: an on/off switch on a device page that shows a device state
// and sends a command when the user flips it. Its view is a ToggleSwitch,
// on when created.
//
//   updateState    the state expression's text: "F" or "0" turn it off, "C"
//                  or "1" on (exact, case-sensitive); anything else leaves
//                  it as it is. Ignored while the user's touch holds off
//                  device updates (below).
//   updateEnabled  the switch takes touches while the enabled expression's
//                  integer value is not 0
//   updatePos      origin (x × 320, y × 416); the size stays
//
// The user's flip (a click or a tap, never setChecked() from an update)
// sends the command evaluated with the local variable `state` bound to the
// new position (0 or 1), as "c" + text + "\n" (see Commands.h). A touch on
// the switch holds device updates off for 5 seconds, so that the state
// read before the device has acted does not flip the switch back; every
// touch starts the 5 seconds again.
//
// The hold-off timer runs on the device's main loop and dies with the
// widget.
//
// Thread rule: main thread only.

#include "elements/RemoteView.h"
#include "platform/MainLoop.h"

#include <memory>

namespace fieldmon {

class Client;
class ToggleSwitch;

namespace expr {
class Node;
class Scope;
} // namespace expr

class RemoteBool final : public RemoteView {
public:
    using NodePtr = std::shared_ptr<expr::Node>;
    static constexpr double kHoldOffSeconds = 5.0;

    RemoteBool(NodePtr command, std::shared_ptr<Client> client);
    ~RemoteBool() override;

    ToggleSwitch* switchObj() const;
    bool isToggling() const { return isToggling_; }

    // The state expression (the reader sets the command first, then the
    // element's text at its end).
    void setData(NodePtr e) { clientData_ = std::move(e); }
    void setEnabledData(NodePtr e) { clientEnabled_ = std::move(e); }
    void setXData(NodePtr e) { clientXData_ = std::move(e); }
    void setYData(NodePtr e) { clientYData_ = std::move(e); }

    void updateState();
    void updateEnabled();
    void updatePos();

    // What the switch's signals call: a finger went down on it; the user
    // flipped it.
    void touchSwitch();
    void buttonPress();

    QString elementName() const override { return QStringLiteral("bool"); }
    void inspect(QJsonObject& out) const override;

private:
    void handleTimer();
    void runCommand(const std::shared_ptr<expr::Scope>& command);

    std::shared_ptr<Client> remoteClient_;
    NodePtr command_;
    NodePtr clientData_;
    NodePtr clientEnabled_;
    NodePtr clientXData_;
    NodePtr clientYData_;
    bool isToggling_ = false;
    platform::MainLoop::TimerId timer_ = 0;
};

} // namespace fieldmon
