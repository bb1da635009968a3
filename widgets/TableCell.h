#pragma once
// One row of a GroupedTableView. The cell paints its part of the section's
// rounded group (top, middle, bottom or single row), a separator, the
// selection highlight and an optional disclosure chevron; its text label and
// any children that a screen adds (labels, a switch, a spinner) sit on top.
//
// Children are found again by tag, as screens set them up once per cell and
// fill them each time the cell is reused (setTag / viewWithTag).
//
// Thread rule: main thread only.

#include <QJsonObject>
#include <QLabel>
#include <QString>
#include <QWidget>

namespace fieldmon {

class TableCell : public QWidget {
    Q_OBJECT
public:
    enum class Accessory { None, DisclosureIndicator };
    enum class SelectionStyle { None, Blue };
    // Where the cell sits in its section; decides which corners are round.
    enum class Position { Single, Top, Middle, Bottom };

    explicit TableCell(QString reuseIdentifier, QWidget* parent = nullptr);

    const QString& reuseIdentifier() const { return reuseIdentifier_; }

    // The main text, left of any accessory, left-aligned by default.
    QLabel* textLabel() const { return textLabel_; }
    // Sets the main text; a text too wide for the row ends in an ellipsis.
    void setText(const QString& text);
    const QString& text() const { return text_; }

    void setAccessory(Accessory a);
    Accessory accessory() const { return accessory_; }
    void setSelectionStyle(SelectionStyle s) { selectionStyle_ = s; }
    SelectionStyle selectionStyle() const { return selectionStyle_; }

    void setHighlighted(bool on);
    bool isHighlighted() const { return highlighted_; }

    void setPosition(Position p);
    Position position() const { return position_; }

    // The area inside the cell's border and left of the accessory, in cell
    // coordinates; children placed by screens should stay inside it.
    QRect contentRect() const;

    // What the row shows, for the automation interface: the base cell adds
    // its main text ("text", or "center" when centred) and whether a touch
    // selects it ("selectable"); cells with more children add their own
    // fields. Fields the row does not have are left out.
    virtual void inspect(QJsonObject& row) const;
    // The row's text field, which a script can focus instead of selecting
    // the row; null when the row has none.
    virtual QWidget* automationField() const { return nullptr; }
    // Where a finger taps to choose the row, in cell coordinates (the
    // middle, unless something there takes the tap itself).
    virtual QPoint automationTapPoint() const { return rect().center(); }

    static void setTag(QWidget* w, int tag);
    static int tag(const QWidget* w);
    QWidget* viewWithTag(int tag) const;

signals:
    // The user touched the row and lifted the finger inside it.
    void tapped();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;

private:
    void layoutLabel();
    void updateLabelColours();

    QString reuseIdentifier_;
    QString text_;
    QLabel* textLabel_;
    Accessory accessory_ = Accessory::None;
    SelectionStyle selectionStyle_ = SelectionStyle::Blue;
    Position position_ = Position::Single;
    bool highlighted_ = false;
    bool pressed_ = false;
};

} // namespace fieldmon
