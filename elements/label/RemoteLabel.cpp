#include "elements/label/RemoteLabel.h"

#include "expr/Node.h"
#include "elements/PageGeometry.h"
#include "elements/label/LabelView.h"
#include "widgets/PhoneStyle.h"

#include <algorithm>
#include <cmath>

namespace fieldmon {

RemoteLabel::RemoteLabel()
{
    auto* label = new LabelView();
    label->setGeometry(0, 0, 320, 35);
    label->setLabelFont(LabelView::systemFont(kDefaultFontSize));
    setView(label);
}

LabelView* RemoteLabel::label() const
{
    return static_cast<LabelView*>(view());
}

int RemoteLabel::tag() const
{
    return label() ? label()->tag() : 0;
}

void RemoteLabel::setTag(int tag)
{
    if (LabelView* l = label())
        l->setTag(tag);
}

void RemoteLabel::setOrientation(bool left)
{
    if (LabelView* l = label())
        l->setAlignment(left ? Qt::AlignLeft : Qt::AlignRight);
}

QString RemoteLabel::withDegreeSigns(const std::string& text)
{
    QString s = phone::deviceLine(text);
    s.replace(QLatin1String("degrees"), QString(QChar(0x02DA)));
    return s;
}

void RemoteLabel::updateText()
{
    if (LabelView* l = label())
        l->setText(withDegreeSigns(clientData_ ? clientData_->stringValue() : std::string()));
}

void RemoteLabel::updateSize()
{
    LabelView* l = label();
    if (!size_ || !l)
        return;
    // Sizes a device may send that no label can show (0, negative, NaN,
    // huge) are held to 1..416 points.
    double size = static_cast<float>(size_->doubleValue());
    int pixels = size == size ? static_cast<int>(std::lround(std::clamp(size, 1.0, kPageHeight))) : 1;
    l->setLabelFont(LabelView::systemFont(pixels));
}

void RemoteLabel::updatePos()
{
    LabelView* l = label();
    if (!l)
        return;
    double x = clientXData_ ? clientXData_->doubleValue() : 0.0;
    double y = clientYData_ ? clientYData_->doubleValue() : 0.0;
    double left = x * kPageWidth;
    if (l->alignment() & Qt::AlignRight)
        left -= kPageWidth;
    moveView(left, y * kPageHeight);
}

void RemoteLabel::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    if (LabelView* l = label()) {
        out[QStringLiteral("text")] = l->text();
        out[QStringLiteral("align")] = (l->alignment() & Qt::AlignRight) ? QStringLiteral("right") : QStringLiteral("left");
        out[QStringLiteral("size")] = l->labelFont().pixelSize();
    }
}

} // namespace fieldmon
