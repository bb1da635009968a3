#include "widgets/NavigationStack.h"

#include "widgets/PhoneStyle.h"

#include <QPropertyAnimation>

namespace fieldmon {

NavigationStack::NavigationStack(QWidget* parent) : QWidget(parent), bar_(new NavigationBar(this))
{
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    connect(bar_, &NavigationBar::backPressed, this, [this] {
        if (Screen* s = top())
            s->backButtonPressed();
        pop(true);
    });
}

Screen* NavigationStack::top() const
{
    return screens_.empty() ? nullptr : screens_.back().data();
}

Screen* NavigationStack::screenAt(int i) const
{
    if (i < 0 || i >= depth())
        return nullptr;
    return screens_[static_cast<std::size_t>(i)].data();
}

QRect NavigationStack::pageRect() const
{
    int barHeight = barHidden_ ? 0 : phone::kNavigationBarHeight;
    return QRect(0, barHeight, width(), std::max(0, height() - barHeight));
}

void NavigationStack::setRoot(Screen* root)
{
    Screen* leaving = top();
    for (auto& s : screens_)
        if (s && s != root)
            s->hide();
    screens_.clear();
    screens_.push_back(root);
    root->stack_ = this;
    root->setParent(this);
    show(root, leaving, false, Direction::Push);
}

void NavigationStack::push(Screen* screen, bool animated)
{
    if (!screen || screen == top())
        return;
    Screen* leaving = top();
    screen->stack_ = this;
    if (screen->parent() != this)
        screen->setParent(this);
    screens_.push_back(screen);
    show(screen, leaving, animated, Direction::Push);
}

Screen* NavigationStack::pop(bool animated)
{
    if (depth() <= 1)
        return nullptr;
    Screen* leaving = top();
    screens_.pop_back();
    show(top(), leaving, animated, Direction::Pop);
    if (leaving) {
        leaving->stack_ = nullptr;
        if (leaving->testAttribute(Qt::WA_DeleteOnClose)) {
            if (leaving == sliding_)
                deleteSlidingAfter_ = true; // once it has slid out
            else
                leaving->deleteLater();
        }
    }
    return leaving;
}

void NavigationStack::popToRoot(bool animated)
{
    while (depth() > 1)
        pop(animated);
}

void NavigationStack::show(Screen* incoming, Screen* leaving, bool animated, Direction direction)
{
    finishSlide();
    if (leaving && leaving != incoming)
        leaving->viewWillDisappear(animated);
    bool sameOrientation = !leaving || leaving->orientation() == incoming->orientation();
    emit aboutToShow(incoming);
    if (delegate_)
        delegate_->willShow(*this, *incoming, animated);
    incoming->setGeometry(pageRect());
    incoming->show();
    incoming->raise();
    bar_->raise();
    if (leaving && leaving != incoming) {
        if (animated && sameOrientation && isVisible())
            slide(incoming, leaving, direction);
        else
            leaving->hide();
    }
    incoming->viewWillAppear(animated);
    updateBar();
    connect(incoming, &Screen::titleChanged, this, &NavigationStack::updateBar, Qt::UniqueConnection);
    if (delegate_)
        delegate_->didShow(*this, *incoming, animated);
    incoming->viewDidAppear(animated);
}

void NavigationStack::slide(Screen* incoming, Screen* leaving, Direction direction)
{
    QRect page = pageRect();
    int w = page.width();
    int in = direction == Direction::Push ? w : -w;
    auto* group = new QParallelAnimationGroup(this);
    auto move = [&](Screen* s, QPoint from, QPoint to) {
        auto* a = new QPropertyAnimation(s, "pos", group);
        a->setDuration(300);
        a->setEasingCurve(QEasingCurve::OutCubic);
        a->setStartValue(from);
        a->setEndValue(to);
        group->addAnimation(a);
    };
    move(incoming, page.topLeft() + QPoint(in, 0), page.topLeft());
    move(leaving, page.topLeft(), page.topLeft() - QPoint(in, 0));
    incoming->move(page.topLeft() + QPoint(in, 0));
    sliding_ = leaving;
    deleteSlidingAfter_ = false;
    slide_ = group;
    connect(group, &QAbstractAnimation::finished, this, [this] { finishSlide(); });
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

bool NavigationStack::isAnimating() const
{
    return slide_ && slide_->state() == QAbstractAnimation::Running;
}

void NavigationStack::finishSlide()
{
    if (slide_) {
        QPointer<QParallelAnimationGroup> group = slide_;
        slide_.clear();
        group->disconnect(this);
        group->stop(); // deletes it
    }
    if (sliding_ && sliding_ != top()) {
        sliding_->hide();
        if (deleteSlidingAfter_)
            sliding_->deleteLater();
    }
    sliding_.clear();
    deleteSlidingAfter_ = false;
    if (Screen* t = top())
        t->setGeometry(pageRect());
}

void NavigationStack::updateBar()
{
    Screen* t = top();
    bar_->setTitle(t ? t->title() : QString());
    Screen* below = depth() > 1 ? screenAt(depth() - 2) : nullptr;
    QString back;
    if (below)
        back = below->title().isEmpty() ? QStringLiteral("Back") : below->title();
    bar_->setBackTitle(back);
}

void NavigationStack::setNavigationBarHidden(bool hidden, bool /*animated*/)
{
    if (barHidden_ == hidden)
        return;
    barHidden_ = hidden;
    layoutChildren();
}

void NavigationStack::resizeEvent(QResizeEvent*)
{
    layoutChildren();
}

void NavigationStack::layoutChildren()
{
    bar_->setGeometry(0, 0, width(), phone::kNavigationBarHeight);
    bar_->setVisible(!barHidden_);
    if (Screen* t = top())
        t->setGeometry(pageRect());
}

} // namespace fieldmon
