#pragma once
// RemoteTextField: a one-line text field on a device page whose text is
// sent to the device as a command. Its view is a bezel TextField at (50, 8),
// 260 × 30 points, 17-point black text, placeholder "<enter command>".
//
// The done key (Return, or the on-screen keyboard's done key) ends editing
// (the keyboard goes away) and sends "c" + the text exactly as typed + "\n"
// — not evaluated, not trimmed, the empty text too ("c\n"). The text stays
// in the field. Leaving the field any other way sends nothing.
//
//   updatePos   origin (x × 320, y × 416); the size stays
//
// The command expression is kept for the widget's life; what is sent is the
// typed text.
//
// Thread rule: main thread only.

#include "elements/RemoteView.h"

#include <memory>
#include <string>

namespace fieldmon {

class Client;
class TextField;

namespace expr {
class Node;
}

class RemoteTextField final : public RemoteView {
public:
    using NodePtr = std::shared_ptr<expr::Node>;

    RemoteTextField(NodePtr command, std::shared_ptr<Client> client);

    TextField* textField() const;

    void setXData(NodePtr e) { clientXData_ = std::move(e); }
    void setYData(NodePtr e) { clientYData_ = std::move(e); }
    void updatePos();

    // The done key was pressed in the field.
    void textFieldShouldReturn();

    QString elementName() const override { return QStringLiteral("textfield"); }
    void inspect(QJsonObject& out) const override;

private:
    void runCommand();

    std::shared_ptr<Client> remoteClient_;
    NodePtr command_;
    NodePtr clientXData_;
    NodePtr clientYData_;
    std::string textfieldinput_;
};

} // namespace fieldmon
