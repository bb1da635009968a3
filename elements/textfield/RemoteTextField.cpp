#include "elements/textfield/RemoteTextField.h"

#include "device/Client.h"
#include "expr/Node.h"
#include "elements/PageGeometry.h"
#include "widgets/PhoneStyle.h"
#include "widgets/TextField.h"

namespace fieldmon {

RemoteTextField::RemoteTextField(NodePtr command, std::shared_ptr<Client> client)
    : remoteClient_(std::move(client)), command_(std::move(command))
{
    auto* field = new TextField(TextField::Border::Bezel);
    field->setGeometry(50, 8, 260, 30);
    field->setFont(phone::systemFont(17));
    field->setPlaceholderText(QStringLiteral("<enter command>"));
    setView(field);
    // returnPressed only: editingFinished would also fire when the field
    // merely loses the focus, which the user did not mean as "send".
    QObject::connect(field, &QLineEdit::returnPressed, field, [this] { textFieldShouldReturn(); });
}

TextField* RemoteTextField::textField() const
{
    return static_cast<TextField*>(view());
}

void RemoteTextField::updatePos()
{
    double x = clientXData_ ? clientXData_->doubleValue() : 0.0;
    double y = clientYData_ ? clientYData_->doubleValue() : 0.0;
    moveView(x * kPageWidth, y * kPageHeight);
}

void RemoteTextField::textFieldShouldReturn()
{
    TextField* field = textField();
    if (!field)
        return;
    field->endEditing();
    textfieldinput_ = field->text().toStdString();
    runCommand();
}

void RemoteTextField::runCommand()
{
    if (remoteClient_)
        remoteClient_->sendString("c" + textfieldinput_ + "\n");
    textfieldinput_.clear();
}

void RemoteTextField::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    if (TextField* field = textField()) {
        out[QStringLiteral("text")] = field->text();
        out[QStringLiteral("placeholder")] = field->placeholderText();
        out[QStringLiteral("editing")] = field->isEditing();
    }
}

} // namespace fieldmon
