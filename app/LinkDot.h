#pragma once
// LinkDot: the small dot at the right of the navigation bar that sums up a
// device's link (its colour is the session watch's to choose). It takes no
// touches: the bar under it works as before.
//
// Thread rule: main thread only.

#include <QColor>
#include <QWidget>

namespace fieldmon {

class LinkDot final : public QWidget {
public:
    explicit LinkDot(QWidget* bar);

    void setColour(QColor colour);
    // Back to the bar's right edge, on top (the bar may have been resized
    // or given new children).
    void place();

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor colour_ = Qt::green;
};

} // namespace fieldmon
