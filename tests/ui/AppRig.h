#pragma once
// The whole app on loopback for screen tests: the real start-up with a
// finder that listens on a free port and "broadcasts" to 127.0.0.1, fake
// devices on 127.0.0.N that announce themselves and record what the app
// sends them, and a fake file transport whose requests the test serves.
// Nothing leaves loopback.

#include "app/AppWindow.h"
#include "app/DeviceDetailScreen.h"
#include "app/DeviceListScreen.h"
#include "app/AppShell.h"
#include "device/Client.h"
#include "support/FakeFileTransport.h"
#include "support/UdpPeer.h"
#include "ui/UiSupport.h"
#include "widgets/NavigationStack.h"

#include <memory>
#include <string>
#include <vector>

namespace fieldmon::test {

class AppRig {
public:
    explicit AppRig(AppShell::Settings settings = {})
    {
        for (int attempt = 0; attempt < 20 && !search_; ++attempt) {
            auto sink = std::make_unique<UdpPeer>("127.0.0.1");
            if (sink->bound())
                search_ = std::move(sink);
        }
        ClientFinder::Seams seams;
        seams.broadcast = ipv4("127.0.0.1");
        seams.listenPort = 0;
        seams.devicePort = search_->port();
        seams.localNetwork = [] { return LocalNetwork::Direct; };
        seams.sources.loopbackDevices = true; // the devices sit on 127.0.0.x
        app = std::make_unique<AppShell>(std::move(seams), &files);
        app->configure(std::move(settings));
        app->launch();
    }
    ~AppRig() { app.reset(); }

    platform::FakeFileTransport files;
    std::unique_ptr<AppShell> app;

    DeviceListScreen& list() { return *app->deviceList(); }
    DeviceDetailScreen& detail() { return *app->detailScreen(); }
    NavigationStack& stack() { return *app->stack(); }
    QWidget* screen() { return app->window()->phoneScreen(); }

    UdpPeer& device(int host)
    {
        std::string address = "127.0.0." + std::to_string(host);
        for (auto& d : devices_)
            if (d.first == address)
                return *d.second;
        devices_.emplace_back(address, std::make_unique<UdpPeer>(address.c_str(), search_->port()));
        return *devices_.back().second;
    }

    void send(int host, const std::string& bytes)
    {
        device(host).sendTo(bytes, app->finder()->listenPort(), "127.0.0.1");
    }

    // Announces device 127.0.0.`host` and waits for the app's 's' reply.
    bool announce(int host, const std::string& fields)
    {
        send(host, "m" + fields);
        bool replied = false;
        waitFor([&] {
            while (auto d = device(host).receive(0))
                replied = replied || d->bytes == "s";
            return replied;
        });
        return replied;
    }

    // Everything device `host` received within `ms` of quiet.
    std::vector<std::string> received(int host, int ms = 150)
    {
        std::vector<std::string> all;
        waitFor([&] {
            while (auto d = device(host).receive(0))
                all.push_back(d->bytes);
            return false;
        }, ms);
        return all;
    }

    std::shared_ptr<Client> at(const char* address) { return app->finder()->getClientFromIP(ipv4(address)); }

private:
    std::unique_ptr<UdpPeer> search_;
    std::vector<std::pair<std::string, std::unique_ptr<UdpPeer>>> devices_;
};

} // namespace fieldmon::test
