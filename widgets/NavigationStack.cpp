#include "widgets/NavigationStack.h"

#include "widgets/PhoneStyle.h"

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
    show(root, leaving, false);
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
    show(screen, leaving, animated);
}

Screen* NavigationStack::pop(bool animated)
{
    if (depth() <= 1)
        return nullptr;
    Screen* leaving = top();
    screens_.pop_back();
    show(top(), leaving, animated);
    if (leaving) {
        leaving->stack_ = nullptr;
        if (leaving->testAttribute(Qt::WA_DeleteOnClose))
            leaving->deleteLater();
    }
    return leaving;
}

void NavigationStack::popToRoot(bool animated)
{
    while (depth() > 1)
        pop(animated);
}

void NavigationStack::show(Screen* incoming, Screen* leaving, bool animated)
{
    if (leaving && leaving != incoming)
        leaving->viewWillDisappear(animated);
    emit aboutToShow(incoming);
    if (delegate_)
        delegate_->willShow(*this, *incoming, animated);
    incoming->setGeometry(pageRect());
    incoming->show();
    incoming->raise();
    bar_->raise();
    if (leaving && leaving != incoming)
        leaving->hide();
    incoming->viewWillAppear(animated);
    updateBar();
    connect(incoming, &Screen::titleChanged, this, &NavigationStack::updateBar, Qt::UniqueConnection);
    if (delegate_)
        delegate_->didShow(*this, *incoming, animated);
    incoming->viewDidAppear(animated);
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
