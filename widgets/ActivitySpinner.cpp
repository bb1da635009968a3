#include "widgets/ActivitySpinner.h"

#include <QPainter>

#include <algorithm>

namespace fieldmon {

namespace {
constexpr int kSpokes = 12;
}

ActivitySpinner::ActivitySpinner(QColor colour, QWidget* parent) : QWidget(parent), colour_(colour)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
        phase_ = (phase_ + 1) % kSpokes;
        update();
    });
    setVisible(false);
}

void ActivitySpinner::startAnimating()
{
    if (timer_.isActive())
        return;
    timer_.start();
    show();
    update();
}

void ActivitySpinner::stopAnimating()
{
    timer_.stop();
    if (hidesWhenStopped_)
        hide();
    update();
}

void ActivitySpinner::setHidesWhenStopped(bool on)
{
    hidesWhenStopped_ = on;
    if (on && !isAnimating())
        hide();
}

void ActivitySpinner::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    double side = std::min(width(), height());
    p.translate(width() / 2.0, height() / 2.0);
    p.scale(side / 20.0, side / 20.0);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the phase is the brightest; the ones behind it fade.
        int age = (phase_ - i + kSpokes) % kSpokes;
        QColor c = colour_;
        c.setAlphaF(isAnimating() ? std::max(0.2, 1.0 - age / double(kSpokes)) : 0.3);
        p.setPen(QPen(c, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.save();
        p.rotate(i * 360.0 / kSpokes);
        p.drawLine(QPointF(0, -4.5), QPointF(0, -9));
        p.restore();
    }
}

} // namespace fieldmon
