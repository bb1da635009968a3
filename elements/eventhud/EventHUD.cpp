#include "elements/eventhud/EventHUD.h"

#include "device/Client.h"
#include "platform/Diagnostics.h"
#include "widgets/PhoneStyle.h"

#include <QJsonArray>
#include <QMouseEvent>

#include <algorithm>
#include <climits>

namespace fieldmon {

EventHUD::EventHUD() : QuartzViewController(new HUDView(this)) {}

EventHUD::~EventHUD()
{
    subscription_.reset();
    if (remoteClient_)
        for (auto id : timers_)
            remoteClient_->loop().cancel(id);
}

void EventHUD::setClient(std::shared_ptr<Client> client)
{
    subscription_.reset();
    remoteClient_ = std::move(client);
    if (!remoteClient_)
        return;
    subscription_ = remoteClient_->notifications().subscribe(
        remoteClient_->eventNotificationIDString(), [this](const platform::Notification& n) {
            if (const std::string* text = n.text())
                catchEvent(*text);
        });
}

double EventHUD::now() const
{
    return remoteClient_ ? remoteClient_->loop().now() : 0.0;
}

platform::MainLoop::TimerId EventHUD::after(double seconds, void (EventHUD::*fn)())
{
    if (!remoteClient_)
        return 0;
    // The id is known only once after() returns; the timer cannot fire before.
    auto id = std::make_shared<platform::MainLoop::TimerId>(0);
    *id = remoteClient_->loop().after(seconds, [this, id, fn] {
        std::erase(timers_, *id);
        (this->*fn)();
    });
    timers_.push_back(*id);
    return *id;
}

void EventHUD::catchEvent(const std::string& text)
{
    // Held past the 11th, a line could never show: unfreezing clears them.
    if (!(freeze_ && static_cast<int>(events_.size()) > kLinesFrozen))
        events_.push_back(text);
    const int held = static_cast<int>(events_.size());
    if (freeze_ && held > kLinesFrozen && pendingRemoves_ < INT_MAX)
        ++pendingRemoves_;
    if (!freeze_ && held > kLinesShown)
        events_.pop_front();
    redraw();
    after(kExpiry, &EventHUD::cleanupEvent);
}

void EventHUD::cleanupEvent()
{
    if (events_.empty())
        return;
    if (freeze_) {
        if (pendingRemoves_ < INT_MAX)
            ++pendingRemoves_;
        return;
    }
    events_.pop_front();
    redraw();
}

void EventHUD::clearEvents()
{
    events_.clear();
    pendingRemoves_ = 0;
}

void EventHUD::redraw()
{
    if (freeze_ && static_cast<int>(events_.size()) > kLinesFrozen)
        return;
    if (!freeze_ && pendingRemoves_ > 0) {
        // Removals beyond the lines held have nothing left to remove (once
        // counted down one by one, up to two billion of them).
        const auto n = std::min(static_cast<std::size_t>(pendingRemoves_), events_.size());
        events_.erase(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(n));
        pendingRemoves_ = 0;
    }
    lines_ = static_cast<int>(events_.size());
    QStringList shown;
    for (const std::string& line : events_)
        shown << phone::deviceLine(line);
    if (HUDView* v = hudView())
        v->setLines(shown);
}

void EventHUD::translucent()
{
    if (HUDView* v = hudView())
        v->setAlphas(0.3, 0.6);
    lastOut_ = now();
    after(kReshow, &EventHUD::reshow);
}

void EventHUD::reshow()
{
    if (lastOut_ && now() - *lastOut_ > kQuiet)
        if (HUDView* v = hudView())
            v->setAlphas(1.0, 1.0);
}

bool EventHUD::isTranslucent() const
{
    HUDView* v = hudView();
    return v && v->viewAlpha() < 1.0;
}

bool EventHUD::inBox(double y) const
{
    HUDView* v = hudView();
    return v && lines_ > 0 && y > v->height() - v->boxHeight();
}

bool EventHUD::passingInService() const
{
    return remoteClient_ && remoteClient_->service() && lastOut_ && now() - *lastOut_ <= kReshow;
}

bool EventHUD::hitTest(QPointF at)
{
    if (inBox(at.y()) && !passingInService())
        return true;
    translucent();
    return false;
}

void EventHUD::touchesBegan(QMouseEvent* event)
{
    if (!inBox(event->position().y()) || passingInService()) {
        translucent();
        if (!passTouchOn(nextResponder(), event))
            event->ignore();
        return;
    }
    toggleFreeze();
    event->accept();
}

void EventHUD::toggleFreeze()
{
    diag("Freeze!\n");
    diag("timeInterval %f %d \n", lastOut_ ? now() - *lastOut_ : 0.0,
                remoteClient_ && remoteClient_->service() ? 1 : 0);
    HUDView* v = hudView();
    if (v)
        v->setAlphas(1.0, 1.0);
    freeze_ = !freeze_;
    if (freeze_) {
        if (v)
            v->startBounce();
    } else {
        clearEvents();
        diag("Clearing\n");
    }
    redraw();
}

void EventHUD::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    QJsonArray shown;
    if (HUDView* v = hudView()) {
        for (const QString& line : v->lines())
            shown.append(line);
        out[QStringLiteral("alpha")] = v->viewAlpha();
        out[QStringLiteral("label_alpha")] = v->labelAlpha();
        const QRectF b = v->box();
        out[QStringLiteral("box")] = QJsonArray{b.x(), b.y(), b.width(), b.height()};
    }
    out[QStringLiteral("lines")] = shown;
    out[QStringLiteral("frozen")] = freeze_;
}

} // namespace fieldmon
