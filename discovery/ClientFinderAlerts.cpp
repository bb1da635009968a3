// ClientFinder: presence event lines and the alerts it shows. All of this
// runs on the main thread.

#include "discovery/ClientFinder.h"

#include "device/Client.h"
#include "platform/Diagnostics.h"
#include "platform/TimeStamp.h"

#include <cstdint>

namespace fieldmon {

void ClientFinder::writePresenceEvent(Client& client, const char* event)
{
    client.broadcastEvent(platform::presenceStampNow() + " " + event);
}

void ClientFinder::lostClientEvent(Client& client)
{
    writePresenceEvent(client, "EVENTIPOD_LOST_CLIENT");
    diag("Graveyarding client %d 0x%x\n", client.serialNumber(),
         static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&client)));
}

void ClientFinder::lostClientNotification(const Client& client)
{
    showAlert("Lost client", "Client " + std::to_string(client.serialNumber()) + " disappeared", true);
}

void ClientFinder::foundClientNotification(const Client& client)
{
    showAlert("Found client", "Client " + std::to_string(client.serialNumber()) + " came back", true);
}

void ClientFinder::noNetwork()
{
    showAlert("Network Error", "Can't access local WiFi", false);
}

void ClientFinder::lostNetwork(const std::string& message)
{
    if (lastAlert_ && lastAlert_->title == "Network Error") {
        diag("Already have a network error\n");
        return;
    }
    showAlert("Network Error", message, false);
}

// At most one alert at a time: the one shown is dismissed (as if "Ok" were
// pressed) and forgotten before the next appears.
void ClientFinder::showAlert(std::string title, std::string message, bool animatedDismiss)
{
    if (lastAlert_) {
        services_.alerts.dismiss(lastAlert_->id, 0, animatedDismiss);
        lastAlert_.reset();
    }
    // The callback learns its alert's id once show() has returned it.
    auto id = std::make_shared<platform::Alerts::AlertId>(0);
    std::weak_ptr<ClientFinder*> alive = self_;
    platform::AlertContent content;
    content.title = title;
    content.message = std::move(message);
    content.buttons = {"Ok"};
    content.onButton = [this, alive, id](int button) {
        if (alive.lock())
            alertView(*id, button);
    };
    *id = services_.alerts.show(std::move(content));
    lastAlert_ = ShownAlert{*id, std::move(title)};
}

void ClientFinder::alertView(platform::Alerts::AlertId alert, int buttonIndex)
{
    diag("Clicked button at index %d in the ClientFinder\n", buttonIndex);
    if (lastAlert_ && lastAlert_->id == alert)
        lastAlert_.reset();
}

} // namespace fieldmon
