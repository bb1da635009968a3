#pragma once
// QuartzView: the drawing view of a full-page overlay (QuartzViewController):
// a clear widget that always covers its whole page, whatever the page's
// size, and draws in the page's fixed coordinates (320 × 416 points, origin
// at the page's top left). It takes no touches unless a subclass registers a
// hit test (TouchHitTest) or clears Qt::WA_TransparentForMouseEvents.
//
// Thread rule: main thread only.

#include <QWidget>

namespace fieldmon {

class QuartzView : public QWidget {
    Q_OBJECT
public:
    explicit QuartzView(QWidget* parent = nullptr);

    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fillParent();

    int tag_ = 0;
};

} // namespace fieldmon
