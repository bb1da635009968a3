#include "elements/button/RemoteButton.h"

#include "expr/Node.h"
#include "elements/button/PageButton.h"
#include "platform/Diagnostics.h"
#include "widgets/PhoneStyle.h"

namespace fieldmon {

void RemoteButton::setButton(PageButton* button)
{
    setView(button);
}

PageButton* RemoteButton::button() const
{
    return static_cast<PageButton*>(view());
}

QObject* RemoteButton::responder()
{
    diag("Returning the button\n");
    return button();
}

int RemoteButton::tag() const
{
    return button() ? button()->tag() : 0;
}

void RemoteButton::setTag(int tag)
{
    if (PageButton* b = button())
        b->setTag(tag);
}

void RemoteButton::updateText()
{
    if (PageButton* b = button())
        b->setText(phone::deviceLine(clientData_ ? clientData_->stringValue() : std::string()));
}

void RemoteButton::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    if (PageButton* b = button())
        out[QStringLiteral("text")] = b->text();
}

} // namespace fieldmon
