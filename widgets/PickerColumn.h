#pragma once
// One wheel of a PickerView: a column of rows that turns under a finger or
// the mouse. A drag moves the rows with the pointer, a flick lets them glide
// on (QScroller), and the wheel always comes to rest with a row centred in
// the selection band. A mouse wheel turns it one row per notch; a tap on a
// row above or below the band turns that row into it.
//
// rowSettled(row) is emitted once the column has come to rest after the
// user moved it, and only when it rests on another row than before: rows
// passed during a flick, each notch of a mouse wheel and a drag that ends
// where it began emit nothing. setSelectedRow() from code emits nothing.
//
// Thread rule: main thread only.

#include <QScroller>
#include <QStringList>
#include <QWidget>

class QVariantAnimation;

namespace fieldmon {

class PickerColumn : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 40;

    explicit PickerColumn(QWidget* parent = nullptr);
    ~PickerColumn() override;

    void setRows(QStringList rows);
    const QStringList& rows() const { return rows_; }
    int rowCount() const { return static_cast<int>(rows_.size()); }

    // The row resting in the band (the one last settled on).
    int selectedRow() const { return selected_; }
    // Turns the wheel to `row` (clamped) without telling anyone.
    void setSelectedRow(int row);
    // The row nearest the band right now, also while the wheel turns.
    int rowUnderBand() const;
    // Whether the wheel still moves by itself (a flick or a turn from a
    // notch or a tap that has not ended).
    bool isMoving() const;

    // The pixels a finger must move before the wheel follows it.
    double dragStartPixels() const;

signals:
    void rowSettled(int row);

protected:
    void paintEvent(QPaintEvent*) override;
    bool event(QEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void setOffset(double y);
    double maxOffset() const;
    void turnTo(int row);
    void onScrollerState(QScroller::State state);
    // The wheel has stopped: rest exactly on a row, and tell if it is another.
    void settle();
    void updateSnapPositions();

    QStringList rows_;
    double offset_ = 0; // points scrolled; row r rests in the band at r * kRowHeight
    int selected_ = 0;
    int wheelTarget_ = -1;
    int wheelRemainder_ = 0;
    bool pressedStill_ = false;
    QScroller::State scrollerState_ = QScroller::Inactive;
    // Turns by a notch or a tap; a new one takes over from where the
    // wheel is, without coming to rest in between.
    QVariantAnimation* turn_;
};

} // namespace fieldmon
