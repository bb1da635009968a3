#include "widgets/ScrollGestures.h"

namespace fieldmon {

void ScrollGestures::onScrollerState(QScroller::State state)
{
    state_ = state;
    switch (state) {
    case QScroller::Pressed:
        tracking_ = true;
        if (decelerating_) {
            // A touch stops a list that is still moving.
            decelerating_ = false;
            listener_.didEndDecelerating();
        }
        listener_.fingerDown();
        return;
    case QScroller::Dragging:
        tracking_ = true;
        if (!dragging_) {
            dragging_ = true;
            decelerating_ = false;
            listener_.willBeginDragging();
        }
        return;
    case QScroller::Scrolling:
        if (dragging_) {
            dragging_ = false;
            tracking_ = false;
            decelerating_ = true;
            listener_.didEndDragging(true);
        }
        return;
    case QScroller::Inactive:
        tracking_ = false;
        if (dragging_) {
            dragging_ = false;
            listener_.didEndDragging(false);
        } else if (decelerating_) {
            decelerating_ = false;
            listener_.didEndDecelerating();
        }
        return;
    }
}

} // namespace fieldmon
