#pragma once
// A small spinning activity indicator: twelve spokes whose brightness runs
// round while it is animating. It hides when stopped (as the Connect row's
// spinner does) unless told otherwise.
//
// Thread rule: main thread only.

#include <QColor>
#include <QTimer>
#include <QWidget>

namespace fieldmon {

class ActivitySpinner : public QWidget {
    Q_OBJECT
public:
    explicit ActivitySpinner(QColor colour = QColor(0x80, 0x80, 0x80), QWidget* parent = nullptr);

    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return timer_.isActive(); }
    void setHidesWhenStopped(bool on);

    QSize sizeHint() const override { return {20, 20}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor colour_;
    QTimer timer_;
    int phase_ = 0;
    bool hidesWhenStopped_ = true;
};

} // namespace fieldmon
