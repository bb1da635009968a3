#pragma once
// TouchHitTest: views that decide, press by press, whether they take a touch
// or let it fall through to whatever lies under them (the joystick takes
// touches only in service mode; the heads-up display only on its box while
// it shows lines).
//
// Qt picks the widget that receives a press by position alone, skipping
// widgets that are transparent for mouse events. So just before Qt picks,
// when the press reaches the window, each registered view under the point is
// asked in turn, front to back, with the press's position in its own
// coordinates: a view that answers no is made transparent for mouse events
// and the next one under the point is asked. The answers hold until the next
// press; moves and the release follow the press as usual. Touches (touch
// begin) and mouse presses (double clicks too) are tested alike; the press
// Qt makes of a touch that no widget took keeps the touch's answers.
//
// A registration ends when its view is destroyed.
//
// Thread rule: main thread only.

#include <QPointF>

#include <functional>

class QWidget;

namespace fieldmon {

class TouchHitTest {
public:
    // Answers whether the view takes a press at `local` (its own coordinates).
    using Test = std::function<bool(QPointF local)>;

    static void add(QWidget* view, Test test);
};

} // namespace fieldmon
