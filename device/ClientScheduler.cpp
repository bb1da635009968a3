// Client's update scheduler operations; the state lives in UpdateScheduler.
#include "device/Client.h"

#include "platform/MainLoop.h"

namespace fieldmon {

UpdateScheduler::Link Client::schedulerLink()
{
    // The scheduler lives inside this record, so the callables never outlive it.
    return UpdateScheduler::Link{
        [this](double now) { setVarTime(now - timeOfStart_); },
        [this] { submitRequests(); },
        [this]() -> std::shared_ptr<void> { return weak_from_this().lock(); },
    };
}

void Client::scheduleDataUpdate(std::shared_ptr<expr::Schedulable> compiledString, ClientUpdate::Notifier notifier,
                                ClientUpdate::RedrawRequest redraw, std::string_view updateRate)
{
    scheduler_.schedule(std::make_shared<ClientUpdate>(std::move(compiledString), this, std::move(notifier),
                                                       std::move(redraw), updateRate, services_.loop.now()));
}

void Client::startDataUpdate()
{
    scheduler_.start();
}

void Client::unscheduleAll()
{
    scheduler_.unscheduleAll();
}

void Client::serviceDataUpdateTimer()
{
    scheduler_.service();
}

} // namespace fieldmon
