#pragma once
// DynamicRowCell: one row of a device's table page, as a cell template
// fills it. Three kinds:
//
//   Center     the row's text in the cell's main label, on the left as a
//              plain cell puts it
//   LeftRight  a label (tag 1) at (15, 12), 25 high, with the left text, and
//              a borderless text field (tag 2) from x 75 to the row's end
//              with the right text, right-aligned; the field is red and
//              editable when the row has a command, blue and read-only
//              when it has none
//   Empty      the blank row shown where no template covers the index
//
// Text is 16-point; the label lies over the field but lets touches through.
// Until it is being edited the field takes no press itself: a drag that
// starts on it scrolls the list like a drag anywhere else, a tap on it
// begins editing (a read-only field swallows the tap), and only a tap
// beside it selects the row. The field is finished only by its done key
// (fieldReturned); losing the focus ends editing without it.
//
// Thread rule: main thread only.

#include "widgets/TableCell.h"

#include <QColor>

namespace fieldmon {

class TextField;

class DynamicRowCell final : public TableCell {
    Q_OBJECT
public:
    enum class Kind { Center, LeftRight, Empty };
    static constexpr int kLabelTag = 1;
    static constexpr int kFieldTag = 2;

    DynamicRowCell(QString reuseIdentifier, Kind kind, QWidget* parent = nullptr);

    Kind kind() const { return kind_; }
    // The row the cell shows now (cells are reused for other rows).
    int row() const { return row_; }
    void setRow(int row) { row_ = row; }
    // The page a touch opens, for reading back; empty: none.
    void setTarget(QString target) { target_ = std::move(target); }
    // Whether a touch on the row does something (opens a page or sends a
    // command), highlighted or not.
    void setActs(bool acts) { acts_ = acts; }

    QLabel* leftLabel() const { return label_; }
    TextField* field() const { return field_; }
    void setLeftText(const QString& text);
    void setRightText(const QString& text);
    // Editable (red) with a command, read-only (blue) without.
    void setEditable(bool editable);
    bool editable() const;
    bool isEditing() const;

    void inspect(QJsonObject& row) const override;
    QWidget* automationField() const override;
    QPoint automationTapPoint() const override;

    static QColor editableColour() { return QColor(0xc8, 0x1e, 0x1e); }

signals:
    // The done key was pressed in the field; `text` is the field's text.
    void fieldReturned(const QString& text);
    void editingChanged(bool editing);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void layoutParts();

    Kind kind_;
    int row_ = 0;
    QString target_;
    QLabel* label_ = nullptr;
    TextField* field_ = nullptr;
    bool editable_ = false;
    bool acts_ = false;
    bool pressedOnField_ = false;
};

} // namespace fieldmon
