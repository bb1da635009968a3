#include "pages/DynamicRowCell.h"

#include "widgets/PhoneStyle.h"
#include "widgets/TextField.h"

#include <QJsonObject>
#include <QMouseEvent>

#include <utility>

namespace fieldmon {

namespace {
constexpr int kFieldLeft = 75;
constexpr int kTop = 12;
constexpr int kHeight = 25;
} // namespace

DynamicRowCell::DynamicRowCell(QString reuseIdentifier, Kind kind, QWidget* parent)
    : TableCell(std::move(reuseIdentifier), parent), kind_(kind)
{
    // A "center" row's text sits where a plain cell's label puts it: on the left.
    textLabel()->setFont(phone::systemFont(17, true));
    if (kind != Kind::LeftRight)
        return;
    // The field first, the label over it (touches pass through the label).
    field_ = new TextField(TextField::Border::None, this);
    field_->setFont(phone::systemFont(16));
    field_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setTag(field_, kFieldTag);
    label_ = new QLabel(this);
    label_->setFont(phone::systemFont(16));
    label_->setAttribute(Qt::WA_TransparentForMouseEvents);
    setTag(label_, kLabelTag);
    connect(field_, &QLineEdit::returnPressed, this, [this] { emit fieldReturned(field_->text()); });
    connect(field_, &TextField::editingBegan, this, [this] {
        // While it is edited the field takes presses itself (to place the cursor).
        field_->setAttribute(Qt::WA_TransparentForMouseEvents, false);
        emit editingChanged(true);
    });
    connect(field_, &TextField::editingEnded, this, [this] {
        field_->setAttribute(Qt::WA_TransparentForMouseEvents, true);
        emit editingChanged(false);
    });
    setEditable(false);
    layoutParts();
}

void DynamicRowCell::setLeftText(const QString& text)
{
    if (label_)
        label_->setText(phone::singleLine(text));
}

void DynamicRowCell::setRightText(const QString& text)
{
    if (field_ && field_->text() != text)
        field_->setText(phone::singleLine(text));
}

void DynamicRowCell::setEditable(bool editable)
{
    editable_ = editable;
    if (!field_)
        return;
    field_->setReadOnly(!editable);
    field_->setFocusPolicy(editable ? Qt::StrongFocus : Qt::NoFocus);
    // Presses reach the row (see the class comment) unless the field is being edited.
    field_->setAttribute(Qt::WA_TransparentForMouseEvents, !field_->isEditing());
    field_->setTextColour(editable ? editableColour() : phone::valueBlue());
}

bool DynamicRowCell::editable() const
{
    return field_ && editable_;
}

bool DynamicRowCell::isEditing() const
{
    return field_ && field_->isEditing();
}

void DynamicRowCell::resizeEvent(QResizeEvent* e)
{
    TableCell::resizeEvent(e);
    layoutParts();
}

void DynamicRowCell::mousePressEvent(QMouseEvent* e)
{
    pressedOnField_ = field_ && e->button() == Qt::LeftButton && field_->geometry().contains(e->position().toPoint());
    if (pressedOnField_) {
        e->accept();
        return; // no highlight: the row is not being chosen
    }
    TableCell::mousePressEvent(e);
}

void DynamicRowCell::mouseReleaseEvent(QMouseEvent* e)
{
    // A tap on the field is the field's: an editable one begins editing, a
    // read-only one swallows it. Neither selects the row.
    const bool tap = std::exchange(pressedOnField_, false);
    if (tap && e->button() == Qt::LeftButton) {
        if (editable_ && field_->geometry().contains(e->position().toPoint()))
            field_->beginEditing();
        e->accept();
        return;
    }
    TableCell::mouseReleaseEvent(e);
}

QPoint DynamicRowCell::automationTapPoint() const
{
    // Where a finger chooses the row: beside its field, on the label.
    if (field_)
        return QPoint(kFieldLeft / 2, height() / 2);
    return TableCell::automationTapPoint();
}

void DynamicRowCell::layoutParts()
{
    if (!field_)
        return;
    const int right = contentRect().right() + 1;
    label_->setGeometry(15, kTop, std::max(0, right - 15), kHeight);
    field_->setGeometry(kFieldLeft, kTop - 2, std::max(0, right - kFieldLeft), kHeight + 4);
}

void DynamicRowCell::inspect(QJsonObject& row) const
{
    TableCell::inspect(row);
    // A "center" row's text, wherever it is drawn.
    if (kind_ == Kind::Center && row.contains(QStringLiteral("text")))
        row.insert(QStringLiteral("center"), row.take(QStringLiteral("text")));
    row.insert(QStringLiteral("selectable"), acts_);
    if (!target_.isEmpty())
        row.insert(QStringLiteral("target"), target_);
    if (kind_ != Kind::LeftRight)
        return;
    if (!label_->text().isEmpty())
        row.insert(QStringLiteral("left"), label_->text());
    if (!field_->text().isEmpty())
        row.insert(QStringLiteral("right"), field_->text());
    row.insert(QStringLiteral("field"),
               QJsonObject{{QStringLiteral("text"), field_->text()},
                           {QStringLiteral("editable"), editable_},
                           {QStringLiteral("editing"), isEditing()},
                           {QStringLiteral("color"), editable_ ? QStringLiteral("red") : QStringLiteral("blue")}});
}

QWidget* DynamicRowCell::automationField() const
{
    return field_ && editable_ ? field_ : nullptr;
}

} // namespace fieldmon
