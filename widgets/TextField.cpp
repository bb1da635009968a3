#include "widgets/TextField.h"

#include "widgets/PhoneStyle.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>

namespace fieldmon {

TextField::TextField(Border border, QWidget* parent) : QLineEdit(parent), border_(border)
{
    setFrame(false);
    // No touch events of its own: a finger's touch reaches it as the mouse
    // press a line edit knows (a touch it did not accept would go to its parent).
    setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    QPalette p = palette();
    p.setColor(QPalette::Base, border == Border::Bezel ? QColor(Qt::white) : QColor(Qt::transparent));
    p.setColor(QPalette::Text, Qt::black);
    p.setColor(QPalette::PlaceholderText, QColor(0xb3, 0xb3, 0xb3));
    p.setColor(QPalette::Highlight, QColor(0xb5, 0xd5, 0xfc));
    p.setColor(QPalette::HighlightedText, Qt::black);
    setPalette(p);
    setAutoFillBackground(false);
    if (border == Border::Bezel)
        setTextMargins(6, 0, 4, 0);
}

void TextField::setTextColour(const QColor& colour)
{
    QPalette p = palette();
    if (p.color(QPalette::Text) == colour)
        return;
    p.setColor(QPalette::Text, colour);
    setPalette(p);
}

QColor TextField::textColour() const
{
    return palette().color(QPalette::Text);
}

QVariant TextField::inputMethodQuery(Qt::InputMethodQuery query) const
{
    // The on-screen keyboard's return key finishes the field: "Done".
    if (query == Qt::ImEnterKeyType)
        return Qt::EnterKeyDone;
    return QLineEdit::inputMethodQuery(query);
}

bool TextField::isEditing() const
{
    return editing_ && window()->focusWidget() == this;
}

void TextField::beginEditing()
{
    if (isReadOnly())
        return;
    setFocus(Qt::MouseFocusReason);
    editingStarted();
}

void TextField::editingStarted()
{
    if (isReadOnly() || editing_)
        return;
    editing_ = true;
    setClearButtonEnabled(true);
    // A value shown in a row is replaced by what is typed, not added to.
    if (border_ == Border::None)
        selectAll();
    emit editingBegan();
}

void TextField::editingStopped()
{
    if (!editing_)
        return;
    editing_ = false;
    setClearButtonEnabled(false);
    emit editingEnded();
}

void TextField::endEditing()
{
    clearFocus();
    editingStopped();
}

void TextField::focusInEvent(QFocusEvent* e)
{
    QLineEdit::focusInEvent(e);
    editingStarted();
}

void TextField::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    editingStopped();
}

void TextField::mousePressEvent(QMouseEvent* e)
{
    QLineEdit::mousePressEvent(e);
    if (window()->focusWidget() == this)
        editingStarted();
}

void TextField::paintEvent(QPaintEvent* e)
{
    if (border_ == Border::Bezel) {
        // The bezel: a white field sunk into the page, darker at the top.
        QPainter p(this);
        QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.fillRect(r, Qt::white);
        p.setPen(QPen(QColor(0x5a, 0x5a, 0x5a), 1));
        p.drawLine(r.topLeft(), r.topRight());
        p.setPen(QPen(QColor(0x9a, 0x9a, 0x9a), 1));
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.drawLine(r.topRight(), r.bottomRight());
        p.setPen(QPen(QColor(0xc8, 0xc8, 0xc8), 1));
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.setPen(QPen(QColor(0xd8, 0xd8, 0xd8), 1));
        p.drawLine(r.topLeft() + QPointF(1, 1), r.topRight() + QPointF(-1, 1));
    }
    QLineEdit::paintEvent(e);
}

} // namespace fieldmon
