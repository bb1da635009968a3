#include "app/AppWindow.h"

#include "widgets/ActivitySpinner.h"
#include "widgets/NavigationStack.h"
#include "widgets/PhoneStyle.h"

#include <QPainter>
#include <QTime>

namespace fieldmon {

StatusBar::StatusBar(QWidget* parent)
    : QWidget(parent), name_(new QLabel(QStringLiteral("fieldmon"), this)), clock_(new QLabel(this)),
      activity_(new ActivitySpinner(Qt::white, this))
{
    for (QLabel* l : {name_, clock_}) {
        l->setFont(phone::systemFont(12, true));
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, Qt::white);
        l->setPalette(p);
    }
    clock_->setAlignment(Qt::AlignCenter);
    name_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    clockTimer_.setInterval(10'000);
    connect(&clockTimer_, &QTimer::timeout, this, [this] { updateClock(); });
    clockTimer_.start();
    updateClock();
}

void StatusBar::updateClock()
{
    clock_->setText(QTime::currentTime().toString(QStringLiteral("HH:mm")));
}

void StatusBar::setNetworkActivityIndicatorVisible(bool on)
{
    if (on)
        activity_->startAnimating();
    else
        activity_->stopAnimating();
}

bool StatusBar::networkActivityIndicatorVisible() const
{
    return activity_->isAnimating();
}

void StatusBar::resizeEvent(QResizeEvent*)
{
    name_->setGeometry(6, 0, 80, height());
    clock_->setGeometry(0, 0, width(), height());
    activity_->setGeometry(6 + name_->sizeHint().width() + 6, 3, height() - 6, height() - 6);
    name_->raise();
}

void StatusBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, QColor(0x3a, 0x3a, 0x3a));
    g.setColorAt(1, QColor(0x0c, 0x0c, 0x0c));
    p.fillRect(rect(), g);
}

AppWindow::AppWindow() : screen_(new QWidget(this)), status_(new StatusBar(screen_)), stack_(new NavigationStack(screen_))
{
    setWindowTitle(QStringLiteral("fieldmon"));
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    // The stack turns the window before a screen's viewWillAppear runs, so
    // the screen lays itself out in its own orientation.
    connect(stack_, &NavigationStack::aboutToShow, this, [this](Screen* s) {
        if (s)
            setOrientation(s->orientation());
    });
    layoutScreen();
}

void AppWindow::setOrientation(Screen::Orientation o)
{
    if (o == orientation_)
        return;
    orientation_ = o;
    layoutScreen();
}

void AppWindow::layoutScreen()
{
    bool landscape = orientation_ == Screen::Orientation::Landscape;
    int w = landscape ? phone::kScreenHeight : phone::kScreenWidth;
    int h = landscape ? phone::kScreenWidth : phone::kScreenHeight;
    screen_->setGeometry(0, 0, w, h);
    status_->setGeometry(0, 0, w, phone::kStatusBarHeight);
    stack_->setGeometry(0, phone::kStatusBarHeight, w, h - phone::kStatusBarHeight);
    setFixedSize(w, h);
}

} // namespace fieldmon
