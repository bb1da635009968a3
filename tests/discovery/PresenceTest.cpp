// Presence: probes, removal, the graveyard and the alerts that go with them.

#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "platform/Diagnostics.h"
#include "platform/FileTransport.h"
#include "platform/NotificationCenter.h"

#include "support/FinderRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <tuple>

using namespace fieldmon;
using fieldmon::test::FinderRig;

namespace {

struct Recorder {
    std::mutex mutex;
    std::vector<std::string> texts;
    platform::Subscription sub;
    Recorder(platform::NotificationCenter& nc, const std::string& name)
        : sub(nc.subscribe(name, [this](const platform::Notification& n) {
              std::lock_guard lock(mutex);
              texts.push_back(n.text() ? *n.text() : std::string());
          }))
    {
    }
    std::size_t count()
    {
        std::lock_guard lock(mutex);
        return texts.size();
    }
};

std::vector<std::string> unstamped(const std::deque<std::string>& log)
{
    std::vector<std::string> out;
    for (auto& line : log)
        out.push_back(line.size() > 9 ? line.substr(9) : line);
    return out;
}

// A file transport that records on which thread each transfer was cancelled.
struct CancelThreadRecorder : platform::FileTransport {
    std::mutex mutex;
    std::vector<std::thread::id> cancelledOn;
    TransferId get(const std::string&, double, Callbacks) override { return 1; }
    void cancel(TransferId) override
    {
        std::lock_guard lock(mutex);
        cancelledOn.push_back(std::this_thread::get_id());
    }
};

std::size_t graveyardSize(ClientFinder& f)
{
    return f.registryContents().graveyard.size();
}

} // namespace

TEST(Presence, SilentDeviceIsProbedButStays)
{
    FinderRig rig;
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1207;0"));
    rig.s.loop.advance(1.0); // silent for 1 s: no probe yet
    EXPECT_FALSE(rig.device(2).receive(700));

    rig.s.loop.advance(1.0); // 2 s: probed at every presence tick
    for (int probe = 0; probe < 2; ++probe) {
        auto d = rig.device(2).receive(1500);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->bytes, "F");
    }
    EXPECT_EQ(rig.registered(), 1u);

    // An answer stops the probes.
    rig.send(2, "i");
    auto c = rig.at("127.0.0.2");
    ASSERT_TRUE(rig.pumpUntil([&] { return c->presence().lastHeardTime() == rig.s.loop.now(); }));
    rig.device(2).drain(0);
    rig.pumpFor(700);
    EXPECT_TRUE(rig.device(2).drain(0).empty());
}

TEST(Presence, LostDeviceNotOnScreenLeavesNoTrace)
{
    FinderRig rig;
    Recorder found(rig.s.notifications, "ListeningFoundNewClient");
    Recorder events(rig.s.notifications, "eventFrom1207");
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1207;0"));
    ASSERT_TRUE(rig.announce(3, "PLAT;VALVE;b;1;88;0"));
    std::weak_ptr<Client> weak = rig.at("127.0.0.2");
    std::size_t before = found.count();
    // The device list's snapshot does not count as a screen showing a device.
    RegistrySnapshot listed = rig.finder->registrySnapshot();

    rig.s.loop.advance(7.0);
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.registered() == 0 && found.count() == before + 2; }));
    rig.pumpFor(600);
    EXPECT_EQ(found.count(), before + 2); // once per removed device
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(listed.at(0, 0));
    EXPECT_EQ(graveyardSize(*rig.finder), 0u);
    EXPECT_EQ(rig.s.alerts.history().size(), 0u);
    EXPECT_TRUE(rig.typeKeys().empty());
    EXPECT_FALSE(rig.at("127.0.0.2"));
    {
        std::lock_guard lock(events.mutex);
        EXPECT_EQ(events.texts, (std::vector<std::string>{"EVENTIPOD_FOUND_CLIENT", "EVENTIPOD_LOST_CLIENT"}));
    }

    // Its next announcement makes a fresh record that logs only FOUND.
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1207;0"));
    auto fresh = rig.at("127.0.0.2");
    EXPECT_EQ(unstamped(fresh->eventLog()), std::vector<std::string>{"EVENTIPOD_FOUND_CLIENT"});
}

TEST(Presence, ALostRecordIsReleasedOnTheMainThread)
{
    // The presence check used to hold the last reference to a removed record
    // and drop it on the listen thread, whose destructor then cancelled the
    // record's HTTP transfers and main-loop timers from the wrong thread.
    CancelThreadRecorder files;
    FinderRig rig(LocalNetwork::Direct, false, &files);
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1207;0"));
    std::weak_ptr<Client> weak = rig.at("127.0.0.2");
    weak.lock()->files().request("ui.xml"); // still running when the record goes
    rig.s.loop.advance(7.0);
    ASSERT_TRUE(rig.pumpUntil([&] { return weak.expired(); }));
    std::lock_guard lock(files.mutex);
    EXPECT_EQ(files.cancelledOn, std::vector<std::thread::id>{std::this_thread::get_id()});
}

TEST(Presence, LostDeviceOnScreenReturnsWithItsRecord)
{
    FinderRig rig;
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1207;0"));
    Client::ShownLease shown(rig.at("127.0.0.2")); // the detail screen shows it
    shown->broadcastEvent("12:00:00 RUNNING");

    rig.s.loop.advance(7.0);
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.registered() == 0 && rig.s.alerts.openCount() == 1; }));
    EXPECT_EQ(graveyardSize(*rig.finder), 1u);
    const auto* lost = rig.s.alerts.lastOpen();
    EXPECT_EQ(lost->content.title, "Lost client");
    EXPECT_EQ(lost->content.message, "Client 1207 disappeared");
    EXPECT_EQ(lost->content.buttons, std::vector<std::string>{"Ok"});
    auto lostId = lost->id;

    // It comes back from another address and with a new name.
    ASSERT_TRUE(rig.announce(3, "PLAT;PUMP;renamed;2;1207;1"));
    EXPECT_EQ(rig.at("127.0.0.3"), shown.record());
    EXPECT_EQ(shown->name(), "renamed");
    EXPECT_EQ(shown->dictionaryIPString(), "127.0.0.3");
    EXPECT_EQ(rig.registered(), 1u);
    EXPECT_EQ(graveyardSize(*rig.finder), 0u);
    EXPECT_EQ(unstamped(shown->eventLog()),
              (std::vector<std::string>{"EVENTIPOD_FOUND_CLIENT", "RUNNING", "EVENTIPOD_LOST_CLIENT",
                                        "EVENTIPOD_REFOUND_CLIENT", "EVENTIPOD_FOUND_CLIENT"}));
    EXPECT_EQ(shown->eventNumber(), 5);

    ASSERT_TRUE(rig.pumpUntil([&] { return rig.s.alerts.history().size() == 2; }));
    const auto& history = rig.s.alerts.history();
    EXPECT_EQ(history[0].id, lostId);
    EXPECT_FALSE(history[0].open);
    EXPECT_EQ(history[0].dismissedWith, 0);
    EXPECT_TRUE(history[0].dismissedAnimated);
    EXPECT_EQ(history[1].content.title, "Found client");
    EXPECT_EQ(history[1].content.message, "Client 1207 came back");
    EXPECT_EQ(rig.s.alerts.openCount(), 1u);
}

TEST(Presence, ReturningRecordNoLongerShownRaisesNoFoundAlert)
{
    FinderRig rig;
    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1207;0"));
    Client::ShownLease shown(rig.at("127.0.0.2"));
    rig.s.loop.advance(7.0);
    ASSERT_TRUE(rig.pumpUntil([&] { return graveyardSize(*rig.finder) == 1; }));
    rig.s.alerts.press(rig.s.alerts.lastOpen()->id, 0);
    std::weak_ptr<Client> weak = shown.record();
    shown.reset(); // the screen closed; only the graveyard keeps it

    ASSERT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1207;0"));
    EXPECT_EQ(rig.at("127.0.0.2"), weak.lock()); // still the graveyard's record
    rig.pumpFor(100);
    EXPECT_EQ(rig.s.alerts.history().size(), 1u); // no "Found client"
    EXPECT_EQ(unstamped(weak.lock()->eventLog()).back(), "EVENTIPOD_FOUND_CLIENT");
}

TEST(Presence, AScreenThatClosesOrOpensOnTheLostLineIsTakenAtItsWord)
{
    // The LOST line is written on the main thread before the listen thread
    // asks whether the record is shown, and a screen may react to that line
    // by closing (the event log of a device that is gone) or by opening. The
    // answer must follow what the screens hold after the line, not before.
    auto lose = [](bool shownBefore, bool shownAfter) {
        FinderRig rig;
        EXPECT_TRUE(rig.announce(2, "PLAT;PUMP;a;1;1207;0"));
        std::weak_ptr<Client> weak = rig.at("127.0.0.2");
        Client::ShownLease screen(shownBefore ? weak.lock() : nullptr);
        platform::Subscription onLine =
            rig.s.notifications.subscribe("eventFrom1207", [&](const platform::Notification& n) {
                if (n.text() && *n.text() == "EVENTIPOD_LOST_CLIENT")
                    screen = Client::ShownLease(shownAfter ? weak.lock() : nullptr);
            });
        rig.s.loop.advance(7.0);
        EXPECT_TRUE(rig.pumpUntil([&] { return rig.registered() == 0; }));
        rig.pumpFor(100);
        const std::size_t graves = graveyardSize(*rig.finder);
        const std::size_t alerts = rig.s.alerts.history().size();
        const bool alive = !weak.expired();
        onLine.reset();
        screen.reset();
        return std::tuple{graves, alerts, alive};
    };
    EXPECT_EQ(lose(true, false), std::tuple(0u, 0u, false)) << "closed on the line: forgotten";
    EXPECT_EQ(lose(false, true), std::tuple(1u, 1u, true)) << "opened on the line: kept, user told";
    EXPECT_EQ(lose(true, true), std::tuple(1u, 1u, true));
}

TEST(Alerts, AtMostOneAtATimeAndNetworkErrorsDoNotStack)
{
    FinderRig rig;
    auto& alerts = rig.s.alerts;
    auto& f = *rig.finder;

    f.lostNetwork("Network Error: first");
    platform::DiagnosticCapture diagnostics;
    f.lostNetwork("Network Error: second");
    f.noNetwork(); // replaces even a network error
    EXPECT_EQ(diagnostics.take(), "Already have a network error\n");
    ASSERT_EQ(alerts.history().size(), 2u);
    EXPECT_EQ(alerts.history()[0].content.message, "Network Error: first");
    EXPECT_EQ(alerts.history()[0].dismissedWith, 0);
    EXPECT_FALSE(alerts.history()[0].dismissedAnimated);
    EXPECT_EQ(alerts.history()[1].content.message, "Can't access local WiFi");
    EXPECT_EQ(alerts.openCount(), 1u);

    // Pressing "Ok" forgets the alert, so the next network error shows again.
    diagnostics.take();
    EXPECT_TRUE(alerts.press(alerts.lastOpen()->id, 0));
    EXPECT_EQ(diagnostics.take(), "Clicked button at index 0 in the ClientFinder\n");
    f.lostNetwork("Network Error: third");
    EXPECT_EQ(alerts.history().size(), 3u);
    EXPECT_EQ(alerts.openCount(), 1u);
}

TEST(Alerts, LocalNetworkTestAtStartUp)
{
    for (auto [state, alerted] : {std::pair{LocalNetwork::Direct, false}, {LocalNetwork::NotDirect, true},
                                  {LocalNetwork::Untestable, true}}) {
        FinderRig rig(state);
        ASSERT_EQ(rig.s.alerts.history().size(), alerted ? 1u : 0u);
        if (alerted) {
            EXPECT_EQ(rig.s.alerts.history()[0].content.title, "Network Error");
            EXPECT_EQ(rig.s.alerts.history()[0].content.message, "Can't access local WiFi");
        }
    }
}

TEST(Alerts, FailedBroadcastFollowsTheSendFailureRule)
{
    // Port 0 makes the kernel refuse the send (EINVAL) without anything
    // leaving the machine.
    struct Case {
        LocalNetwork network;
        std::string message;
    };
    for (const auto& c : {Case{LocalNetwork::Untestable, "Can't access local WiFi"},
                          Case{LocalNetwork::NotDirect, "Can't access local WiFi"},
                          Case{LocalNetwork::Direct, "Network Error: Invalid argument"}}) {
        test::TestServices s;
        std::atomic<LocalNetwork> network{LocalNetwork::Direct};
        ClientFinder::Seams seams;
        seams.broadcast = test::ipv4("127.0.0.1");
        seams.listenPort = 0;
        seams.devicePort = 0;
        seams.localNetwork = [&] { return network.load(); };
        seams.sources.loopbackDevices = true; // the devices sit on 127.0.0.x
        ClientFinder f(s.services, false, seams);
        network = c.network;

        platform::DiagnosticCapture diagnostics;
        f.initiateSearch();
        std::string out = diagnostics.take();
        EXPECT_NE(out.find("Failed to send message.  Uh oh.\n"), std::string::npos);
        EXPECT_EQ(out.find("Error sending packet") != std::string::npos, c.network == LocalNetwork::Direct);
        EXPECT_TRUE(f.searching()); // searching starts whether or not the send went out
        ASSERT_EQ(s.alerts.history().size(), 1u);
        EXPECT_EQ(s.alerts.history()[0].content.title, "Network Error");
        EXPECT_EQ(s.alerts.history()[0].content.message, c.message);
        EXPECT_EQ(f.charSendMsg('h'), -1);
        EXPECT_EQ(s.alerts.history().size(), c.network == LocalNetwork::Untestable ? 2u : 1u); // lostNetwork never stacks
    }
}
