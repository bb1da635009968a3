#pragma once
// A phone-style one-line text field: a white bezel with a sunken border (or
// no border at all, for fields inside table rows), a grey placeholder, no
// autocorrection, a clear button while it is being edited, and a keyboard
// whose return key reads "Done". The field is finished only by that key:
// returnPressed() comes from Return (or the on-screen keyboard's done key);
// losing the focus ends editing without it.
//
// Editing begins when the field takes the focus or is pressed, and ends
// with endEditing() or when the focus leaves. It is judged by the window's
// focus widget, which moves with a press even while the window is not the
// active one (where no focus events come). A borderless field (a table
// row's value) selects its text when editing begins, so that typing
// replaces the value shown.
//
// Thread rule: main thread only.

#include <QLineEdit>

namespace fieldmon {

class TextField : public QLineEdit {
    Q_OBJECT
public:
    enum class Border { Bezel, None };

    explicit TextField(Border border = Border::Bezel, QWidget* parent = nullptr);

    Border border() const { return border_; }
    // Text colour (the placeholder stays grey).
    void setTextColour(const QColor& colour);
    QColor textColour() const;

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

    // Whether the user is editing the field now.
    bool isEditing() const;
    // Begins editing as a tap on the field does (the field takes the focus).
    void beginEditing();
    // Ends editing (the keyboard goes away); the text stays.
    void endEditing();

signals:
    void editingBegan();
    void editingEnded();

protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void editingStarted();
    void editingStopped();

    Border border_;
    bool editing_ = false;
};

} // namespace fieldmon
