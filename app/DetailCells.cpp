#include "app/DetailCells.h"

#include "app/DeviceDetailScreen.h"
#include "widgets/ActivitySpinner.h"
#include "widgets/PhoneStyle.h"
#include "widgets/Screen.h"
#include "widgets/ToggleSwitch.h"

#include <QJsonObject>
#include <QLabel>

#include <algorithm>

namespace fieldmon {

namespace {

QLabel* makeLabel(QWidget* parent, int tag, Qt::Alignment align, QColor colour)
{
    auto* label = new QLabel(parent);
    label->setFont(phone::systemFont(16));
    label->setAlignment(align | Qt::AlignVCenter);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
    TableCell::setTag(label, tag);
    return label;
}

} // namespace

InfoCell::InfoCell() : TableCell(kInfoIdentifier)
{
    setSelectionStyle(SelectionStyle::None);
    title_ = makeLabel(this, DeviceDetailScreen::TitleTag, Qt::AlignLeft, Qt::black);
    value_ = makeLabel(this, DeviceDetailScreen::ValueTag, Qt::AlignRight, phone::valueBlue());
}

void InfoCell::set(const QString& title, const QString& value)
{
    titleText_ = title;
    valueText_ = phone::singleLine(value);
    layout();
}

void InfoCell::setValue(const QString& value)
{
    const QString line = phone::singleLine(value);
    if (line == valueText_)
        return;
    valueText_ = line;
    layout();
}

void InfoCell::inspect(QJsonObject& row) const
{
    TableCell::inspect(row);
    row.insert(QStringLiteral("text"), titleText_);
    row.insert(QStringLiteral("detail"), valueText_);
}

void InfoCell::resizeEvent(QResizeEvent* e)
{
    TableCell::resizeEvent(e);
    layout();
}

void InfoCell::layout()
{
    QRect r = contentRect();
    QFontMetrics fm(title_->font());
    int titleWidth = std::min(fm.horizontalAdvance(titleText_) + 2, r.width() / 2);
    title_->setGeometry(r.left(), r.top(), titleWidth, r.height());
    title_->setText(fm.elidedText(titleText_, Qt::ElideRight, titleWidth));
    int valueLeft = r.left() + titleWidth + 10;
    int valueWidth = std::max(0, r.right() + 1 - valueLeft);
    value_->setGeometry(valueLeft, r.top(), valueWidth, r.height());
    value_->setText(fm.elidedText(valueText_, Qt::ElideRight, valueWidth));
}

ToggleCell::ToggleCell() : TableCell(kToggleIdentifier)
{
    setSelectionStyle(SelectionStyle::None);
    title_ = makeLabel(this, DeviceDetailScreen::TitleTag, Qt::AlignLeft, Qt::black);
    switch_ = new ToggleSwitch(this);
    TableCell::setTag(switch_, DeviceDetailScreen::SwitchTag);
}

void ToggleCell::inspect(QJsonObject& row) const
{
    TableCell::inspect(row);
    row.insert(QStringLiteral("text"), title_->text());
    row.insert(QStringLiteral("switch"), QJsonObject{{QStringLiteral("on"), switch_->isChecked()},
                                                     {QStringLiteral("frame"), Screen::pageFrame(switch_)}});
}

void ToggleCell::resizeEvent(QResizeEvent* e)
{
    TableCell::resizeEvent(e);
    QRect r = contentRect();
    QSize s = switch_->size();
    switch_->move(r.right() + 1 - s.width(), (height() - s.height()) / 2);
    title_->setGeometry(r.left(), r.top(), std::max(0, switch_->x() - r.left() - 8), r.height());
}

ButtonCell::ButtonCell(const QString& identifier, bool withSpinner) : TableCell(identifier)
{
    textLabel()->setAlignment(Qt::AlignCenter);
    if (withSpinner) {
        spinner_ = new ActivitySpinner(QColor(0x70, 0x70, 0x70), this);
        TableCell::setTag(spinner_, DeviceDetailScreen::SpinnerTag);
    }
}

void ButtonCell::inspect(QJsonObject& row) const
{
    TableCell::inspect(row);
    if (spinner_)
        row.insert(QStringLiteral("busy"), spinner_->isAnimating());
}

void ButtonCell::resizeEvent(QResizeEvent* e)
{
    TableCell::resizeEvent(e);
    if (spinner_) {
        QRect r = contentRect();
        spinner_->setGeometry(r.right() + 1 - 20, (height() - 20) / 2, 20, 20);
    }
}

} // namespace fieldmon
