#pragma once
// What a finger does to a scrolling list, from the kinetic scroller's
// states: Pressed is a touch on the list (tracking); Dragging begins a drag;
// leaving Dragging ends it, with deceleration when the list goes on moving
// by itself (Scrolling); the end of that movement, or a touch on the moving
// list, ends the deceleration. Each change is told to the listener once.
//
// Thread rule: main thread only.

#include <QScroller>

namespace fieldmon {

class ScrollGestures {
public:
    class Listener {
    public:
        virtual void fingerDown() = 0;
        virtual void willBeginDragging() = 0;
        virtual void didEndDragging(bool decelerate) = 0;
        virtual void didEndDecelerating() = 0;

    protected:
        ~Listener() = default;
    };

    explicit ScrollGestures(Listener& listener) : listener_(listener) {}

    void onScrollerState(QScroller::State state);

    QScroller::State scrollerState() const { return state_; }
    bool tracking() const { return tracking_; }
    bool dragging() const { return dragging_; }
    bool decelerating() const { return decelerating_; }

private:
    Listener& listener_;
    QScroller::State state_ = QScroller::Inactive;
    bool tracking_ = false;
    bool dragging_ = false;
    bool decelerating_ = false;
};

} // namespace fieldmon
