#include "widgets/NavigationStack.h"

#include "widgets/PhoneStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QShortcut>

#include <algorithm>

namespace fieldmon {

namespace {

// The way back while the bar is hidden: a translucent rounded square with a
// white chevron, 30 points wide, in the top left corner of the page.
class HiddenBarBack final : public QAbstractButton {
public:
    explicit HiddenBarBack(QWidget* parent) : QAbstractButton(parent)
    {
        setFixedSize(30, 30);
        setFocusPolicy(Qt::NoFocus);
        setToolTip(QStringLiteral("Back"));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, isDown() ? 150 : 90));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
        QPainterPath chevron;
        chevron.moveTo(17.5, 8);
        chevron.lineTo(10.5, 15);
        chevron.lineTo(17.5, 22);
        p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(chevron);
    }
};

} // namespace

NavigationStack::NavigationStack(QWidget* parent)
    : QWidget(parent), bar_(new NavigationBar(this)), hiddenBarBack_(new HiddenBarBack(this))
{
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    hiddenBarBack_->hide();
    connect(bar_, &NavigationBar::backPressed, this, &NavigationStack::goBack);
    connect(hiddenBarBack_, &QAbstractButton::clicked, this, &NavigationStack::goBack);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (barHidden_)
            goBack();
    });
}

NavigationStack::~NavigationStack()
{
    // Screens owned elsewhere must survive their parent; the rest go with it.
    finishSlide();
    for (QObject* child : children())
        if (auto* s = qobject_cast<Screen*>(child); s && !s->ownedByStack()) {
            s->stack_ = nullptr;
            s->hide();
            s->setParent(nullptr);
        }
}

void NavigationStack::goBack()
{
    if (depth() <= 1)
        return;
    if (Screen* s = top())
        s->backButtonPressed();
    pop(true);
}

bool NavigationStack::contains(const Screen* screen) const
{
    return screen && std::any_of(screens_.begin(), screens_.end(), [screen](const QPointer<Screen>& s) {
               return s.data() == screen;
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
    return leaving;
}

void NavigationStack::popTo(Screen* screen, bool animated)
{
    auto at = std::find_if(screens_.begin(), screens_.end(),
                           [screen](const QPointer<Screen>& s) { return s.data() == screen; });
    if (!screen || at == screens_.end() || screen == top())
        return;
    Screen* leaving = top();
    std::vector<QPointer<Screen>> between(at + 1, screens_.end() - 1);
    screens_.erase(at + 1, screens_.end());
    for (const QPointer<Screen>& s : between)
        if (s && s != leaving) {
            letGo(s);
            if (s)
                emit screenPopped(s);
        }
    show(screen, leaving, animated, Direction::Pop);
}

void NavigationStack::letGo(Screen* screen)
{
    if (contains(screen))
        return;
    screen->stack_ = nullptr;
    if (screen->testAttribute(Qt::WA_DeleteOnClose))
        screen->deleteLater();
    else if (!screen->ownedByStack())
        screen->setParent(nullptr);
}

void NavigationStack::departed(Screen* screen, bool animated)
{
    screen->hide();
    const bool popped = !contains(screen);
    letGo(screen);
    QPointer<Screen> alive(screen);
    screen->viewDidDisappear(animated);
    // Last: its owner may end it here (a device's session ends with its
    // start page).
    if (popped && alive)
        emit screenPopped(alive);
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
    QPointer<Screen> gone;
    bool sliding = false;
    if (leaving && leaving != incoming) {
        if (animated && sameOrientation && isVisible()) {
            slide(incoming, leaving, direction);
            sliding = true;
        } else {
            leaving->hide();
            gone = leaving;
        }
    }
    incoming->viewWillAppear(animated);
    updateBar();
    connect(incoming, &Screen::titleChanged, this, &NavigationStack::updateBar, Qt::UniqueConnection);
    if (delegate_)
        delegate_->didShow(*this, *incoming, animated);
    updateHiddenBarBack();
    if (sliding) {
        arriving_ = incoming; // it appears at the slide's end
        return;
    }
    if (gone)
        departed(gone, animated);
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
    QPointer<Screen> gone = sliding_ != top() ? sliding_ : nullptr;
    QPointer<Screen> arrived = arriving_;
    sliding_.clear();
    arriving_.clear();
    if (Screen* t = top())
        t->setGeometry(pageRect());
    if (gone)
        departed(gone, true);
    // Still the screen on top: a screen that left again meanwhile never arrived.
    if (arrived && arrived == top())
        arrived->viewDidAppear(true);
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
    updateHiddenBarBack();
}

void NavigationStack::updateHiddenBarBack()
{
    hiddenBarBack_->move(7, 7);
    hiddenBarBack_->setVisible(barHidden_ && depth() > 1);
    hiddenBarBack_->raise();
}

} // namespace fieldmon
