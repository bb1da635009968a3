#pragma once
// A stack of screens under a navigation bar. The top screen fills the page
// area below the bar (all of the stack when the bar is hidden); the bar
// shows its title and a back button that pops it.
//
// A push or pop runs, in order: viewWillDisappear of the leaving screen,
// aboutToShow (the window turns to the new screen's orientation here), the
// delegate's willShow, the new screen placed and shown, its viewWillAppear,
// the bar updated and the delegate's didShow. All of that happens at once;
// an animated push or pop then slides the new screen in from the right
// (from the left for a pop) while the old one slides out, over 0.3 s. A
// change of orientation is never animated.
//
// The slide's end (at once when nothing slides) brings viewDidDisappear of
// the leaving screen, once it is hidden, and then viewDidAppear of the new
// one: a screen has appeared when it has arrived, not when it starts to
// come in (a page sends its load command then). A push or pop during a
// slide finishes that slide first.
//
// Ownership: screens become children of the stack. A popped screen stays a
// hidden child, unless it has Qt::WA_DeleteOnClose, in which case it is
// deleted once the pop is done. A screen that is not ownedByStack() (a
// device page, owned by its page table) is let go instead: unparented once
// it is popped and hidden, and unparented, never deleted, when the stack
// itself is destroyed.
//
// Whoever owns a screen learns that it went back through screenPopped().
//
// While the bar is hidden, a screen above the root keeps a way back: a small
// back control of our own in the top left corner, and the Escape key.
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
    ~NavigationStack() override;

    void setDelegate(NavigationDelegate* d) { delegate_ = d; }

    void setRoot(Screen* root);
    void push(Screen* screen, bool animated);
    // Pops the top screen unless it is the root; returns the popped screen
    // (already deleted later when it asked for that).
    Screen* pop(bool animated);
    void popToRoot(bool animated);
    // Pops every screen above `screen`, showing it; nothing when it is not
    // on the stack or already on top. Only the top screen disappears: the
    // ones in between were already covered and are just let go.
    void popTo(Screen* screen, bool animated);
    bool contains(const Screen* screen) const;

    Screen* top() const;
    int depth() const { return static_cast<int>(screens_.size()); }
    Screen* screenAt(int i) const;

    void setNavigationBarHidden(bool hidden, bool animated = false);
    bool isNavigationBarHidden() const { return barHidden_; }
    NavigationBar* bar() const { return bar_; }
    // The back control shown over the page while the bar is hidden.
    QAbstractButton* hiddenBarBack() const { return hiddenBarBack_; }

    // The page rectangle in the stack's coordinates.
    QRect pageRect() const;

    // A slide is under way; finishSlide() puts every screen in its place.
    bool isAnimating() const;
    void finishSlide();

signals:
    void aboutToShow(fieldmon::Screen* screen);
    // `screen` has left the stack going back (a pop, or a pop to a screen
    // below it), never when it was merely covered by a push. Emitted last,
    // after its viewDidDisappear: a receiver may end what owns the screen.
    void screenPopped(fieldmon::Screen* screen);

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    enum class Direction { Push, Pop };
    void show(Screen* incoming, Screen* leaving, bool animated, Direction direction);
    void slide(Screen* incoming, Screen* leaving, Direction direction);
    void layoutChildren();
    void updateBar();
    void goBack();
    void updateHiddenBarBack();
    // A screen that has left: hidden, popped or covered.
    void departed(Screen* screen, bool animated);
    // Gives up a popped screen: deleted later when it asked for that, let
    // go when it is owned elsewhere.
    void letGo(Screen* screen);

    NavigationBar* bar_;
    QAbstractButton* hiddenBarBack_;
    NavigationDelegate* delegate_ = nullptr;
    std::vector<QPointer<Screen>> screens_;
    bool barHidden_ = false;
    QPointer<QParallelAnimationGroup> slide_;
    // The screen sliding out; it departs when the slide ends.
    QPointer<Screen> sliding_;
    // The screen sliding in; it has appeared when the slide ends.
    QPointer<Screen> arriving_;
};

} // namespace fieldmon
