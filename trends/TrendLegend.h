#pragma once
// The legend under a trend: one entry per trace (one column for up to
// three traces, two columns for more), its colour,
// its name (with units) and its value (the latest, or the one under the
// cursor). The entry whose scale the plot shows is marked; tapping an
// entry asks for its scale.
//
// Thread rule: main thread only.

#include <QColor>
#include <QString>
#include <QWidget>

#include <vector>

namespace fieldmon::trends {

class TrendLegend final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 20;

    struct Entry {
        QColor colour;
        QString label;
        QString value;
    };

    explicit TrendLegend(QWidget* parent = nullptr);

    void setEntries(const std::vector<Entry>& entries);
    void setSelected(int index);
    const std::vector<Entry>& entries() const { return entries_; }
    static int columnsFor(int count) { return count <= 3 ? 1 : 2; }
    static int heightFor(int count) { return ((count + columnsFor(count) - 1) / columnsFor(count)) * kRowHeight; }
    QRect entryRect(int index) const;

signals:
    void entryTapped(int index);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    std::vector<Entry> entries_;
    int selected_ = 0;
};

} // namespace fieldmon::trends
