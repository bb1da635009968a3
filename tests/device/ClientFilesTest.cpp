#include "device/Client.h"
#include "platform/Diagnostics.h"
#include "support/FakeFileTransport.h"

#include "support/TestServices.h"
#include "support/UdpPeer.h"

#include <gtest/gtest.h>

#include <optional>

using namespace fieldmon;
using fieldmon::platform::Bytes;
using fieldmon::platform::FakeFileTransport;
using fieldmon::platform::Notification;
using fieldmon::test::ipv4;

namespace {

// A device at 10.0.0.7 with serial number 1207, its transfers going to a fake.
struct Fixture {
    test::TestServices s;
    FakeFileTransport transport{&s.loop};
    platform::Services services{s.loop, s.notifications, s.alerts, &transport};
    std::shared_ptr<Client> client = Client::create(false, services);

    Fixture()
    {
        client->setSerialNumber(1207);
        client->setAddress(ipv4("10.0.0.7"));
    }
};

// Every delivery of one notification name: the bytes, or nullopt for "none".
struct Received {
    std::vector<std::optional<std::string>> objects;
    platform::Subscription sub;
    Received(platform::NotificationCenter& nc, const std::string& name)
        : sub(nc.subscribe(name, [this](const Notification& n) {
              if (const Bytes* b = n.bytes())
                  objects.emplace_back(std::string(b->begin(), b->end()));
              else
                  objects.emplace_back(std::nullopt);
          }))
    {
    }
};

std::string bytes(std::size_t n, char c = 'x') { return std::string(n, c); }

} // namespace

TEST(ClientFiles, RequestsTheNamedFileAndPostsItsBody)
{
    Fixture f;
    Received got(f.s.notifications, "fileFrom1207ui.xml");
    platform::DiagnosticCapture diagnostics;
    f.client->files().request("ui.xml");
    ASSERT_EQ(f.transport.requests().size(), 1u);
    const auto& req = f.transport.requests()[0];
    EXPECT_EQ(req.url, "http://10.0.0.7/ui.xml");
    EXPECT_DOUBLE_EQ(req.timeoutSeconds, 10.0);
    EXPECT_TRUE(got.objects.empty()); // asynchronous: nothing until the transfer ends
    ASSERT_TRUE(f.transport.serve(req.id, "<ui/>"));
    EXPECT_EQ(diagnostics.take(),
              "Requesting 'http://10.0.0.7/ui.xml'\nSucceeded! Received 5 bytes of data\n");
    ASSERT_EQ(got.objects.size(), 1u);
    EXPECT_EQ(got.objects[0], "<ui/>");
    EXPECT_EQ(f.client->files().runningCount(), 0u);
}

TEST(ClientFiles, NameGoesIntoTheUrlUnchanged)
{
    Fixture f;
    for (std::string name : {"pics/Arrow.png", "a b.png", "q?x=1", ""}) {
        f.client->files().request(name);
        EXPECT_EQ(f.transport.requests().back().url, "http://10.0.0.7/" + name);
    }
}

TEST(ClientFiles, TwoFilesAtOnceArriveSeparatelyInCompletionOrder)
{
    Fixture f;
    Received ui(f.s.notifications, "fileFrom1207ui.xml");
    Received arrow(f.s.notifications, "fileFrom1207Arrow.png");
    std::vector<std::string> order;
    auto subAll = f.s.notifications.subscribe("fileFrom1207ui.xml", [&](const Notification&) { order.push_back("ui"); });
    auto subArrow = f.s.notifications.subscribe("fileFrom1207Arrow.png", [&](const Notification&) { order.push_back("arrow"); });

    f.client->files().request("ui.xml");
    f.client->files().request("Arrow.png");
    auto idUi = f.transport.requests()[0].id, idArrow = f.transport.requests()[1].id;
    EXPECT_EQ(f.client->files().runningCount(), 2u);
    // Interleaved chunks must not mix the two bodies.
    f.transport.respond(idUi);
    f.transport.respond(idArrow);
    f.transport.deliver(idUi, "<ui>");
    f.transport.deliver(idArrow, "PNG");
    f.transport.deliver(idUi, "</ui>");
    f.transport.finish(idArrow);
    f.transport.finish(idUi);
    EXPECT_EQ(ui.objects, (std::vector<std::optional<std::string>>{"<ui></ui>"}));
    EXPECT_EQ(arrow.objects, (std::vector<std::optional<std::string>>{"PNG"}));
    EXPECT_EQ(order, (std::vector<std::string>{"arrow", "ui"}));
}

TEST(ClientFiles, ANewResponseStartsTheBodyAgain)
{
    Fixture f;
    Received got(f.s.notifications, "fileFrom1207ui.xml");
    f.client->files().request("ui.xml");
    auto id = f.transport.requests()[0].id;
    f.transport.respond(id);
    f.transport.deliver(id, "moved here");
    f.transport.respond(id);
    f.transport.deliver(id, "<ui/>");
    f.transport.finish(id);
    ASSERT_EQ(got.objects.size(), 1u);
    EXPECT_EQ(got.objects[0], "<ui/>");
}

TEST(ClientFiles, FailurePostsNothingAndPrintsTheError)
{
    Fixture f;
    Received got(f.s.notifications, "fileFrom1207ui.xml");
    f.client->files().request("ui.xml");
    auto id = f.transport.requests()[0].id;
    f.transport.respond(id);
    f.transport.deliver(id, "half a fi");
    platform::DiagnosticCapture diagnostics;
    f.transport.fail(id, "Connection refused");
    EXPECT_EQ(diagnostics.take(), "Connection failed! Error - Connection refused http://10.0.0.7/ui.xml\n");
    ASSERT_EQ(got.objects.size(), 1u);
    EXPECT_EQ(got.objects[0], std::nullopt);
    EXPECT_EQ(f.client->files().runningCount(), 0u);
}

TEST(ClientFiles, TransferThatCannotStartFailsInsideTheCall)
{
    // Once without any transport, once with one that refuses the URL.
    for (bool withTransport : {false, true}) {
        SCOPED_TRACE(withTransport);
        test::TestServices s;
        FakeFileTransport transport;
        transport.refuseUrlsContaining("ui.xml");
        platform::Services services{s.loop, s.notifications, s.alerts, withTransport ? &transport : nullptr};
        auto client = Client::create(false, services);
        client->setSerialNumber(1207);
        client->setAddress(ipv4("10.0.0.7"));
        Received got(s.notifications, "fileFrom1207ui.xml");
        platform::DiagnosticCapture diagnostics;
        client->files().request("ui.xml");
        EXPECT_EQ(diagnostics.take(), "Download failed for file 'ui.xml'\n");
        ASSERT_EQ(got.objects.size(), 1u);
        EXPECT_EQ(got.objects[0], std::nullopt);
        EXPECT_EQ(client->files().runningCount(), 0u);
    }
}

TEST(ClientFiles, SilentDeviceFailsAfterTenSeconds)
{
    Fixture f;
    Received got(f.s.notifications, "fileFrom1207ui.xml");
    f.client->files().request("ui.xml");
    f.s.loop.advance(9.9);
    EXPECT_TRUE(got.objects.empty());
    f.s.loop.advance(0.2);
    ASSERT_EQ(got.objects.size(), 1u);
    EXPECT_EQ(got.objects[0], std::nullopt);
}

TEST(ClientFiles, BodyIsLimitedTo16MiB)
{
    const std::size_t limit = FileTransfers::kMaxBodyBytes;
    ASSERT_EQ(limit, 16u * 1024 * 1024);
    struct Case {
        std::size_t size;
        bool delivered;
    };
    for (Case c : {Case{limit, true}, Case{limit + 1, false}}) {
        SCOPED_TRACE(c.size);
        Fixture f;
        Received got(f.s.notifications, "fileFrom1207big.png");
        f.client->files().request("big.png");
        auto id = f.transport.requests()[0].id;
        f.transport.respond(id);
        // In 1 MiB chunks plus the remainder, as a network would deliver it.
        std::string chunk = bytes(1024 * 1024);
        std::size_t sent = 0;
        while (sent + chunk.size() <= c.size && f.transport.deliver(id, chunk))
            sent += chunk.size();
        if (sent < c.size)
            f.transport.deliver(id, bytes(c.size - sent));
        f.transport.finish(id); // ignored when the transfer was already cut off
        ASSERT_EQ(got.objects.size(), 1u);
        EXPECT_EQ(got.objects[0].has_value(), c.delivered);
        if (c.delivered) {
            EXPECT_EQ(got.objects[0]->size(), limit);
        }
        // An over-size body stops the transfer itself, not just our buffering.
        EXPECT_EQ(f.transport.find(id)->cancelled, !c.delivered);
    }
}

TEST(ClientFiles, RecordGoingAwayCancelsItsTransfers)
{
    Fixture f;
    Received got(f.s.notifications, "fileFrom1207ui.xml");
    f.client->files().request("ui.xml");
    auto id = f.transport.requests()[0].id;
    f.client.reset();
    EXPECT_TRUE(f.transport.find(id)->cancelled);
    EXPECT_EQ(f.transport.runningCount(), 0u);
    f.s.loop.advance(20); // the time-out must not fire into the dead record
    EXPECT_TRUE(got.objects.empty());
}

TEST(ClientFiles, ObserversMayDropTheRecordOrAskAgain)
{
    // A screen that releases the device when its file arrives must not leave
    // the transfer code running on a destroyed record (ASan catches that).
    {
        Fixture f;
        std::shared_ptr<Client>* holder = &f.client;
        auto sub = f.s.notifications.subscribe("fileFrom1207ui.xml", [holder](const Notification&) { holder->reset(); });
        f.client->files().request("ui.xml");
        f.client->files().request("Arrow.png");
        f.transport.serve(f.transport.requests()[0].id, "<ui/>");
        EXPECT_EQ(f.client, nullptr);
        EXPECT_EQ(f.transport.runningCount(), 0u); // Arrow.png cancelled with the record
    }
    // An image widget asking for its picture again from inside the failure.
    {
        Fixture f;
        int failures = 0;
        auto sub = f.s.notifications.subscribe("fileFrom1207Arrow.png", [&](const Notification& n) {
            if (n.empty() && ++failures == 1)
                f.client->files().request("Arrow.png");
        });
        f.client->files().request("Arrow.png");
        f.transport.fail(f.transport.requests()[0].id, "reset");
        ASSERT_EQ(f.transport.requests().size(), 2u);
        EXPECT_EQ(f.client->files().runningCount(), 1u);
        EXPECT_TRUE(f.transport.serve(f.transport.requests()[1].id, "PNG"));
    }
}

TEST(ClientFiles, TheResultGoesToTheRequesterNeverToAnotherDevicesName)
{
    // Results were matched by notification name alone: device 120 asking
    // for "7ui.xml" posts fileFrom1207ui.xml, and device 1207's detail
    // screen took that body as its document. The requester's own callback
    // decides; the name is still posted for observers.
    Fixture f;
    auto other = Client::create(false, f.services);
    other->setSerialNumber(120);
    other->setAddress(ipv4("10.0.0.8"));
    std::vector<std::optional<std::string>> mine;
    auto handle = f.client->files().request("ui.xml", [&](const Bytes* b) {
        mine.emplace_back(b ? std::optional<std::string>(std::string(b->begin(), b->end())) : std::nullopt);
    });
    Received observed(f.s.notifications, "fileFrom1207ui.xml");
    other->files().request("7ui.xml");
    ASSERT_EQ(f.transport.requests().size(), 2u);
    EXPECT_EQ(f.transport.requests()[1].url, "http://10.0.0.8/7ui.xml");
    f.transport.serve(f.transport.requests()[1].id, "<hostile/>");
    EXPECT_TRUE(mine.empty()) << "another device's file is no answer";
    EXPECT_EQ(observed.objects.size(), 1u) << "observers still hear of it";
    EXPECT_TRUE(handle.pending());
    f.transport.serve(f.transport.requests()[0].id, "<ui/>");
    EXPECT_EQ(mine, (std::vector<std::optional<std::string>>{"<ui/>"}));
    EXPECT_FALSE(handle.pending());
}

TEST(ClientFiles, AtMostFourTransfersOfADeviceRunAndDroppedRequestsEnd)
{
    // 2,000 pictures redirected to a listener that never accepts once held
    // 1,024 descriptors for minutes. A device now has four transfers at a
    // time; the rest wait their turn, in order, and a requester that goes
    // away takes its transfer with it, running or waiting.
    Fixture f;
    std::vector<std::string> done;
    std::vector<FileTransfers::Handle> handles;
    for (int i = 0; i < 10; ++i) {
        std::string name = "p" + std::to_string(i) + ".png";
        handles.push_back(f.client->files().request(name, [&done, name](const Bytes*) { done.push_back(name); }));
    }
    ASSERT_EQ(f.transport.requests().size(), FileTransfers::kMaxRunning);
    EXPECT_EQ(f.client->files().runningCount(), 4u);
    EXPECT_EQ(f.client->files().waitingCount(), 6u);

    handles[1].reset(); // running: cancelled, p4 starts
    EXPECT_TRUE(f.transport.find(f.transport.requests()[1].id)->cancelled);
    ASSERT_EQ(f.transport.requests().size(), 5u);
    EXPECT_EQ(f.transport.requests()[4].url, "http://10.0.0.7/p4.png");
    handles[5].reset(); // waiting: never asked for
    f.transport.fail(f.transport.requests()[0].id, "refused"); // p6 starts, not p5
    ASSERT_EQ(f.transport.requests().size(), 6u);
    EXPECT_EQ(f.transport.requests()[5].url, "http://10.0.0.7/p6.png");
    f.transport.serve(f.transport.requests()[2].id, "x");
    EXPECT_EQ(done, (std::vector<std::string>{"p0.png", "p2.png"}));
    EXPECT_EQ(f.client->files().runningCount(), 4u);
    EXPECT_EQ(f.client->files().waitingCount(), 2u);

    f.client.reset(); // the rest end with the record, reporting nothing
    EXPECT_EQ(f.transport.runningCount(), 0u);
    handles.clear();
    EXPECT_EQ(done.size(), 2u);
}

TEST(ClientFiles, ABodyAnnouncedPastTheLimitIsRefusedBeforeItsBytes)
{
    Fixture f;
    Received got(f.s.notifications, "fileFrom1207big.png");
    f.client->files().request("big.png");
    auto id = f.transport.requests()[0].id;
    f.transport.respond(id, std::int64_t(FileTransfers::kMaxBodyBytes) + 1);
    EXPECT_TRUE(f.transport.find(id)->cancelled);
    ASSERT_EQ(got.objects.size(), 1u);
    EXPECT_EQ(got.objects[0], std::nullopt);
}
