#include "elements/infobutton/RemoteInfoButton.h"

#include "expr/Node.h"
#include "elements/PageGeometry.h"

namespace fieldmon {

RemoteInfoButton::RemoteInfoButton(InfoButtonView::Kind kind)
{
    auto* button = new InfoButtonView(kind);
    setView(button);
    QObject::connect(button, &QAbstractButton::clicked, button, [this] { buttonPress(); });
}

InfoButtonView* RemoteInfoButton::button() const
{
    return static_cast<InfoButtonView*>(view());
}

int RemoteInfoButton::tag() const
{
    return button() ? button()->tag() : 0;
}

void RemoteInfoButton::setTag(int tag)
{
    RemoteView::setTag(tag);
    if (InfoButtonView* b = button())
        b->setTag(tag);
}

void RemoteInfoButton::buttonPress()
{
    if (opener_)
        opener_(target_);
}

void RemoteInfoButton::updatePos()
{
    double x = clientXData_ ? clientXData_->doubleValue() : 0.0;
    double y = clientYData_ ? clientYData_->doubleValue() : 0.0;
    moveView(x * kPageWidth, y * kPageHeight);
}

QString RemoteInfoButton::elementName() const
{
    InfoButtonView* b = button();
    return b && b->kind() == InfoButtonView::Kind::DetailDisclosure ? QStringLiteral("morebutton") : QStringLiteral("infobutton");
}

void RemoteInfoButton::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    if (InfoButtonView* b = button())
        out[QStringLiteral("kind")] =
            b->kind() == InfoButtonView::Kind::Info ? QStringLiteral("info") : QStringLiteral("more");
    out[QStringLiteral("target")] = QString::fromStdString(target_);
}

} // namespace fieldmon
