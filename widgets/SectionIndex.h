#pragma once
// The strip of section index titles on the right edge of a table. A touch
// (or a mouse press) on the strip, and every move while it stays down,
// selects the entry under it; empty titles are entries too, only unlabelled.
//
// Thread rule: main thread only.

#include <QStringList>
#include <QWidget>

#include <functional>

namespace fieldmon {

class SectionIndex : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 44;

    explicit SectionIndex(QWidget* parent = nullptr);

    void setTitles(QStringList titles);
    const QStringList& titles() const { return titles_; }
    // The entry at a vertical position in the strip's coordinates.
    int entryAt(double y) const;
    QRect entryRect(int index) const;

    std::function<void(int)> onTouched;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    void touch(double y);
    QStringList titles_;
    int last_ = -1;
    bool down_ = false;
};

} // namespace fieldmon
