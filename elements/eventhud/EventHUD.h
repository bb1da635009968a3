#pragma once
// EventHUD: the device's latest events over a page ("eventhud"), in a box
// at the bottom of the page (HUDView).
//
// Lines. Each event text of the device (its "eventFrom<serial>"
// notification) is added as a line, and each starts a 7 s timer that then
// removes the oldest line shown, whichever that is. Unfrozen, at most 2
// lines show (a third pushes out the oldest). Frozen, lines stay: up to 10
// show; every line beyond 10 and every expiry while frozen is counted as a
// pending removal, carried out at the next redraw after unfreezing; while
// more than 10 are held the display keeps what it shows. Unfreezing by touch
// clears all lines at once. (Lines past the 11th held are not kept: they
// could never show, since unfreezing clears them.)
//
// Touches (hit test, front to back; the page's real height):
// - on the box, with lines shown: the display takes the touch, except in
//   service mode within 1.5 s of its last turning translucent: then it
//   turns translucent again and the touch falls through;
// - anywhere else, or with no lines: it turns translucent (box alpha 0.3,
//   text 0.6) and the touch falls through to what lies under it.
// A touch it takes freezes or unfreezes it ("Freeze!"), makes it opaque at
// once, and bounces the box when it freezes. 1.5 s after turning
// translucent it is opaque again, unless another touch passed through in
// the last 1.4 s.
//
// Timers (the 7 s expiries, the 1.5 s return) run on the device's main loop
// and end with the widget, as does the subscription.
//
// Thread rule: main thread only (events are posted there).

#include "elements/eventhud/HUDView.h"
#include "elements/QuartzViewController.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMouseEvent;

namespace fieldmon {

class Client;

class EventHUD final : public QuartzViewController, public HUDView::Owner {
public:
    static constexpr int kLinesShown = 2;
    static constexpr int kLinesFrozen = 10;
    static constexpr double kExpiry = 7.0;
    static constexpr double kReshow = 1.5;
    static constexpr double kQuiet = 1.4;

    EventHUD();
    ~EventHUD() override;

    HUDView* hudView() const { return static_cast<HUDView*>(view()); }
    QString elementName() const override { return QStringLiteral("eventhud"); }
    void inspect(QJsonObject& out) const override;

    // Holds the device and takes its events.
    void setClient(std::shared_ptr<Client> client);

    void catchEvent(const std::string& text);
    void cleanupEvent();
    void clearEvents();
    void redraw();
    bool freeze() const { return freeze_; }
    void setFreeze(bool on) { freeze_ = on; }
    int lines() const { return lines_; }
    const std::deque<std::string>& events() const { return events_; }
    int pendingRemoves() const { return pendingRemoves_; }

    void translucent();
    void reshow();
    bool isTranslucent() const;

    // Whether the view takes a press at `at` (view coordinates).
    bool hitTest(QPointF at) override;
    // A press the view took.
    void touchesBegan(QMouseEvent* event) override;

private:
    bool inBox(double y) const;
    // Within 1.5 s of turning translucent, in service mode: touches pass.
    bool passingInService() const;
    void toggleFreeze();
    platform::MainLoop::TimerId after(double seconds, void (EventHUD::*fn)());
    double now() const;

    std::shared_ptr<Client> remoteClient_;
    std::deque<std::string> events_;
    int lines_ = 0;
    bool freeze_ = false;
    int pendingRemoves_ = 0;
    std::optional<double> lastOut_;
    std::vector<platform::MainLoop::TimerId> timers_;
    platform::Subscription subscription_;
};

} // namespace fieldmon
