#pragma once
// A stack of screens under a navigation bar. The top screen fills the page
// area below the bar (all of the stack when the bar is hidden); the bar
// shows its title and a back button that pops it.
//
// A push or pop runs, in order: viewWillDisappear of the leaving screen,
// aboutToShow (the window turns to the new screen's orientation here), the
// delegate's willShow, the new screen placed and shown, its viewWillAppear,
// the bar updated, the delegate's didShow and the new screen's viewDidAppear.
// All of that happens at once; an animated push or pop then slides the new
// screen in from the right (from the left for a pop) while the old one slides
// out, over 0.3 s. A change of orientation is never animated.
//
// Ownership: screens become children of the stack. A popped screen stays a
// hidden child, unless it has Qt::WA_DeleteOnClose, in which case it is
// deleted once the pop is done.
//
// Thread rule: main thread only.

#include "widgets/NavigationBar.h"
#include "widgets/Screen.h"

#include <QParallelAnimationGroup>
#include <QPointer>

#include <vector>

namespace fieldmon {

class NavigationStack;

class NavigationDelegate {
public:
    virtual ~NavigationDelegate() = default;
    virtual void willShow(NavigationStack&, Screen&, bool /*animated*/) {}
    virtual void didShow(NavigationStack&, Screen&, bool /*animated*/) {}
};

class NavigationStack : public QWidget {
    Q_OBJECT
public:
    explicit NavigationStack(QWidget* parent = nullptr);

    void setDelegate(NavigationDelegate* d) { delegate_ = d; }

    void setRoot(Screen* root);
    void push(Screen* screen, bool animated);
    // Pops the top screen unless it is the root; returns the popped screen
    // (already deleted later when it asked for that).
    Screen* pop(bool animated);
    void popToRoot(bool animated);

    Screen* top() const;
    int depth() const { return static_cast<int>(screens_.size()); }
    Screen* screenAt(int i) const;

    void setNavigationBarHidden(bool hidden, bool animated = false);
    bool isNavigationBarHidden() const { return barHidden_; }
    NavigationBar* bar() const { return bar_; }

    // The page rectangle in the stack's coordinates.
    QRect pageRect() const;

    // A slide is under way; finishSlide() puts every screen in its place.
    bool isAnimating() const;
    void finishSlide();

signals:
    void aboutToShow(fieldmon::Screen* screen);

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    enum class Direction { Push, Pop };
    void show(Screen* incoming, Screen* leaving, bool animated, Direction direction);
    void slide(Screen* incoming, Screen* leaving, Direction direction);
    void layoutChildren();
    void updateBar();

    NavigationBar* bar_;
    NavigationDelegate* delegate_ = nullptr;
    std::vector<QPointer<Screen>> screens_;
    bool barHidden_ = false;
    QPointer<QParallelAnimationGroup> slide_;
    // The screen sliding out, hidden (or deleted) when the slide ends.
    QPointer<Screen> sliding_;
    bool deleteSlidingAfter_ = false;
};

} // namespace fieldmon
