#pragma once
// A phone-style multi-column picker: wheels (PickerColumn) side by side in
// a dark metal frame, a glass selection band across them, 40-point rows.
// Each column has its own width; the wheels sit centred in the view, and
// only the frame takes touches (the rest of the view lets them through to
// whatever lies below). With no columns the picker shows nothing.
//
// rowSettled(column, row) is emitted once a column the user moved has come
// to rest on another row (see PickerColumn); nothing else emits it.
//
// Thread rule: main thread only.

#include <QStringList>
#include <QWidget>

#include <vector>

namespace fieldmon {

class PickerColumn;

class PickerView : public QWidget {
    Q_OBJECT
public:
    // The view's size; the frame inside it fits the columns.
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 216;

    struct Column {
        QStringList rows;
        int width = 80;
    };

    explicit PickerView(QWidget* parent = nullptr);

    void setColumns(const std::vector<Column>& columns);
    int columnCount() const { return static_cast<int>(columns_.size()); }
    PickerColumn* column(int c) const;
    int selectedRow(int column) const;
    void setSelectedRow(int column, int row);
    // The frame around the wheels, in the view's coordinates.
    QRect frameRect() const { return frame_; }
    // Whether any wheel still moves by itself.
    bool isMoving() const;

signals:
    void rowSettled(int column, int row);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void layoutColumns();

    std::vector<PickerColumn*> columns_;
    std::vector<int> widths_;
    QRect frame_;
};

} // namespace fieldmon
