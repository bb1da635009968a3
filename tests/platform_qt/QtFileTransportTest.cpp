// The Qt file transport against a real HTTP server on 127.0.0.1. Device URLs
// carry no port ("http://<address>/<name>"), so the server must listen on the
// HTTP port 80 itself: it does so in the private network namespace that
// main() enters, and the tests skip only where none can be made.
#include "platform/qt/QtFileTransport.h"

#include "device/Client.h"
#include "platform/Diagnostics.h"
#include "platform/PacketTapPoint.h"
#include "platform/qt/MemoryNetworkCache.h"

#include "support/LocalHttpServer.h"
#include "support/PrivateNetwork.h"
#include "support/TapLog.h"
#include "support/TestServices.h"
#include "support/UdpPeer.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <thread>

using namespace fieldmon;
using namespace std::chrono_literals;
using fieldmon::platform::Bytes;
using fieldmon::platform::Notification;
using fieldmon::platform::QtFileTransport;

namespace {

const std::string kUiXml = "<?xml version=\"1.0\"?>\n<ui><variables>int temp;</variables></ui>\n";

// A device at 127.0.0.1 with serial number 1207 whose files come from a local
// HTTP server, fetched through the Qt transport.
class QtFiles : public testing::Test {
protected:
    // Declared first so that it goes last, after the transport has closed
    // its connections to it.
    test::LocalHttpServer http;
    test::TestServices s;
    QtFileTransport transport;
    platform::Services services{s.loop, s.notifications, s.alerts, &transport};
    std::shared_ptr<Client> client = Client::create(false, services);
    std::atomic<int> hits{0};

    // What arrived, by notification name: the body, or nullopt for failure.
    std::map<std::string, std::optional<std::string>> received;
    std::vector<std::string> order;
    std::vector<platform::Subscription> subs;

    void SetUp() override
    {
        if (const std::string& problem = test::privateNetworkProblem(); !problem.empty())
            GTEST_SKIP() << problem << "; skipping the HTTP transport tests";
        client->setSerialNumber(1207);
        client->setAddress(test::ipv4("127.0.0.1"));
        http.server.Get("/ui.xml", [this](const httplib::Request&, httplib::Response& res) {
            ++hits;
            res.set_content(kUiXml, "text/xml");
        });
        http.server.Get("/moved.xml", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html>moved</html>", "text/html"); // a redirect page's own body
            res.set_redirect("/ui.xml", 302);
        });
        http.server.Get("/slow.png", [this](const httplib::Request&, httplib::Response& res) {
            http.nap(300ms);
            res.set_content("slow picture", "image/png");
        });
        http.server.Get("/fast.png", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("fast picture", "image/png");
        });
        http.server.Get(R"(/status(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content("page for status " + std::string(req.matches[1]), "text/html");
        });
        http.server.Get("/silent", [this](const httplib::Request&, httplib::Response& res) {
            http.nap(15s); // answers only when the server stops, or far too late
            res.set_content("late", "text/plain");
        });
        http.server.Get("/trickle", [this](const httplib::Request&, httplib::Response& res) {
            auto start = std::chrono::steady_clock::now();
            res.set_chunked_content_provider("text/plain", [this, start](size_t, httplib::DataSink& sink) {
                http.nap(100ms);
                if (http.stopping() || std::chrono::steady_clock::now() - start > 15s) {
                    sink.done();
                    return true;
                }
                ++trickled;
                return sink.write("x", 1);
            });
        });
        http.server.Get(R"(/big(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            std::size_t size = std::stoull(req.matches[1]);
            res.set_content_provider(size, "application/octet-stream",
                                     [](size_t offset, size_t length, httplib::DataSink& sink) {
                                         (void)offset;
                                         std::string chunk(std::min<size_t>(length, 64 * 1024), 'b');
                                         return sink.write(chunk.data(), chunk.size());
                                     });
        });
        http.server.Get("/cached", [this](const httplib::Request&, httplib::Response& res) {
            ++hits;
            res.set_header("Cache-Control", "max-age=600");
            res.set_content("cacheable", "text/plain");
        });
        // One picture that several widgets load at once: the first request
        // is answered at once, later ones trickle in over about 0.3 s.
        http.server.Get("/shared.png", [this](const httplib::Request&, httplib::Response& res) {
            res.set_header("Cache-Control", "max-age=600");
            if (++sharedHits == 1) {
                res.set_content("picture", "image/png");
                return;
            }
            res.set_chunked_content_provider("image/png", [this, chunk = 0](size_t, httplib::DataSink& sink) mutable {
                http.nap(60ms);
                if (chunk == 5 || http.stopping()) {
                    sink.done();
                    return true;
                }
                ++chunk;
                return sink.write("PICT!", 5);
            });
        });
        for (auto [path, target] : {std::pair{"/away", "http://127.0.0.2/ui.xml"},
                                    std::pair{"/otherport", "http://127.0.0.1:8080/ui.xml"},
                                    std::pair{"/secure", "https://127.0.0.1/ui.xml"},
                                    std::pair{"/explicit", "http://127.0.0.1:80/ui.xml"}})
            http.server.Get(path, [target](const httplib::Request&, httplib::Response& res) { res.set_redirect(target, 302); });
        // As fast as the link goes, for ever (until the server stops).
        http.server.Get("/endless", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("application/octet-stream", [this](size_t, httplib::DataSink& sink) {
                static const std::string chunk(64 * 1024, 'e');
                if (http.stopping()) {
                    sink.done();
                    return true;
                }
                if (!sink.write(chunk.data(), chunk.size()))
                    return false;
                endlessSent += chunk.size();
                return true;
            });
        });
        // Promises more than 16 MiB and sends it slowly.
        http.server.Get("/huge", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(FileTransfers::kMaxBodyBytes + 1, "application/octet-stream",
                                     [this](size_t, size_t, httplib::DataSink& sink) {
                                         http.nap(100ms);
                                         ++trickled;
                                         return !http.stopping() && sink.write("h", 1);
                                     });
        });
        if (!http.start("127.0.0.1", 80))
            FAIL() << "127.0.0.1:80 of the private network namespace could not be bound";
    }

    void expect(const std::string& name)
    {
        std::string full = "fileFrom1207" + name;
        subs.push_back(s.notifications.subscribe(full, [this, name](const Notification& n) {
            order.push_back(name);
            if (const Bytes* b = n.bytes())
                received[name] = std::string(b->begin(), b->end());
            else
                received[name] = std::nullopt;
        }));
    }

    bool waitFor(std::size_t count, int ms) { return QTest::qWaitFor([&] { return received.size() >= count; }, ms); }

    std::atomic<int> trickled{0};
    std::atomic<int> sharedHits{0};
    std::atomic<std::size_t> endlessSent{0};
};

} // namespace

TEST_F(QtFiles, UiXmlArrivesUnderTheDeviceNotification)
{
    expect("ui.xml");
    platform::DiagnosticCapture diagnostics;
    client->files().request("ui.xml");
    ASSERT_TRUE(waitFor(1, 5000));
    std::string out = diagnostics.take();
    EXPECT_EQ(received["ui.xml"], kUiXml);
    EXPECT_EQ(out, "Requesting 'http://127.0.0.1/ui.xml'\nSucceeded! Received " + std::to_string(kUiXml.size()) +
                       " bytes of data\n");
    EXPECT_EQ(client->files().runningCount(), 0u);
    EXPECT_EQ(transport.runningCount(), 0u);
}

TEST_F(QtFiles, RedirectDeliversOnlyTheFinalBody)
{
    expect("moved.xml");
    client->files().request("moved.xml");
    ASSERT_TRUE(waitFor(1, 5000));
    EXPECT_EQ(received["moved.xml"], kUiXml);
}

TEST_F(QtFiles, TwoFilesAtOnceEachUnderItsOwnName)
{
    expect("slow.png");
    expect("fast.png");
    client->files().request("slow.png");
    client->files().request("fast.png");
    ASSERT_TRUE(waitFor(2, 5000));
    EXPECT_EQ(received["slow.png"], "slow picture");
    EXPECT_EQ(received["fast.png"], "fast picture");
    EXPECT_EQ(order, (std::vector<std::string>{"fast.png", "slow.png"})); // completion order, not request order
}

TEST_F(QtFiles, ErrorStatusPagesAreDeliveredAsSuccess)
{
    for (int status : {404, 400, 403, 500, 503})
        expect("status" + std::to_string(status));
    for (int status : {404, 400, 403, 500, 503})
        client->files().request("status" + std::to_string(status));
    ASSERT_TRUE(waitFor(5, 5000));
    for (int status : {404, 400, 403, 500, 503}) {
        SCOPED_TRACE(status);
        EXPECT_EQ(received["status" + std::to_string(status)], "page for status " + std::to_string(status));
    }
}

TEST_F(QtFiles, SilentAndTricklingDevicesFailAtTheTimeOut)
{
    // Both at once, so the suite waits out the 10 s time-out only once. The
    // trickling server keeps bytes flowing the whole time: a time-out that
    // only measured silence would never fire for it.
    expect("silent");
    expect("trickle");
    QElapsedTimer clock;
    clock.start();
    platform::DiagnosticCapture diagnostics;
    client->files().request("silent");
    client->files().request("trickle");
    ASSERT_TRUE(waitFor(2, 14500));
    std::string out = diagnostics.take();
    double seconds = clock.elapsed() / 1000.0;
    EXPECT_GE(seconds, 9.8);
    EXPECT_LT(seconds, 14.5); // the servers answer at 15 s; anything before that is the time-out
    EXPECT_EQ(received["silent"], std::nullopt);
    EXPECT_EQ(received["trickle"], std::nullopt);
    EXPECT_GT(trickled.load(), 20);
    EXPECT_NE(out.find("Connection failed! Error - The request timed out. http://127.0.0.1/silent\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Connection failed! Error - The request timed out. http://127.0.0.1/trickle\n"), std::string::npos) << out;
}

TEST_F(QtFiles, BodyOverSixteenMiBFails)
{
    const std::size_t limit = FileTransfers::kMaxBodyBytes;
    std::string exact = "big" + std::to_string(limit), over = "big" + std::to_string(limit + 1);
    expect(exact);
    expect(over);
    client->files().request(exact);
    client->files().request(over);
    ASSERT_TRUE(waitFor(2, 8000));
    ASSERT_TRUE(received[exact].has_value());
    EXPECT_EQ(received[exact]->size(), limit);
    EXPECT_EQ(received[over], std::nullopt);
    EXPECT_EQ(transport.runningCount(), 0u);
}

TEST_F(QtFiles, RepeatedRequestIsServedFromTheMemoryCache)
{
    expect("cached");
    client->files().request("cached");
    ASSERT_TRUE(waitFor(1, 5000));
    received.clear();
    client->files().request("cached");
    ASSERT_TRUE(waitFor(1, 5000));
    EXPECT_EQ(received["cached"], "cacheable");
    EXPECT_EQ(hits.load(), 1);
    EXPECT_EQ(transport.cache().entryCount(), 1);
}

TEST_F(QtFiles, CancelledTransferReportsNothing)
{
    int calls = 0;
    platform::FileTransport::Callbacks cb;
    cb.response = [&](std::int64_t) { ++calls; };
    cb.data = [&](const std::uint8_t*, std::size_t) { ++calls; };
    cb.finished = [&] { ++calls; };
    cb.failed = [&](const std::string&) { ++calls; };
    auto id = transport.get("http://127.0.0.1/silent", 0.2, cb);
    ASSERT_NE(id, 0u);
    transport.cancel(id);
    QTest::qWait(500); // past the transfer's own deadline as well
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(transport.runningCount(), 0u);
}

TEST_F(QtFiles, RefusedConnectionAndUnusableUrls)
{
    // Nothing listens on 127.0.0.1:1: the connection is refused at once.
    std::optional<std::string> error;
    platform::FileTransport::Callbacks cb;
    cb.finished = [&] { error = "finished?"; };
    cb.failed = [&](const std::string& e) { error = e; };
    ASSERT_NE(transport.get("http://127.0.0.1:1/ui.xml", 10.0, cb), 0u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return error.has_value(); }, 5000));
    EXPECT_NE(*error, "finished?");
    EXPECT_FALSE(error->empty());

    for (const char* url : {"http:///ui.xml", "ftp://127.0.0.1/ui.xml", "not a url at all", ""})
        EXPECT_EQ(transport.get(url, 10.0, {}), 0u) << url;

    // A record that has no address yet cannot fetch anything.
    auto fresh = Client::create(false, services);
    fresh->setSerialNumber(99);
    std::optional<bool> failed;
    auto sub = s.notifications.subscribe("fileFrom99ui.xml", [&](const Notification& n) { failed = n.empty(); });
    fresh->files().request("ui.xml");
    EXPECT_EQ(failed, std::optional<bool>(true)); // at once, inside the call
}

TEST_F(QtFiles, TwoFetchesOfOneFileAtOnceBothComplete)
{
    // Image widgets fetch one picture for several widgets at once. Storing
    // the first response in the cache used to free the cache buffer the
    // second transfer was still writing into; a failing or cancelled
    // transfer of the same file did the same.
    struct Fetch {
        std::string body;
        std::optional<bool> ok;
    };
    auto start = [this](Fetch& f) {
        platform::FileTransport::Callbacks cb;
        cb.response = [&f](std::int64_t) { f.body.clear(); };
        cb.data = [&f](const std::uint8_t* b, std::size_t n) { f.body.append(reinterpret_cast<const char*>(b), n); };
        cb.finished = [&f] { f.ok = true; };
        cb.failed = [&f](const std::string&) { f.ok = false; };
        return transport.get("http://127.0.0.1/shared.png", 10.0, cb);
    };
    Fetch a, b;
    ASSERT_NE(start(a), 0u);
    ASSERT_NE(start(b), 0u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.ok && b.ok; }, 5000));
    EXPECT_EQ(std::set<std::string>({a.body, b.body}), std::set<std::string>({"picture", "PICT!PICT!PICT!PICT!PICT!"}));
    EXPECT_TRUE(*a.ok && *b.ok);

    // The same again with one of the two cancelled half-way.
    transport.cache().clear();
    sharedHits = 1; // both trickle now
    Fetch c, d;
    auto cancelled = start(c);
    ASSERT_NE(start(d), 0u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c.body.empty() && !d.body.empty(); }, 5000));
    transport.cancel(cancelled);
    ASSERT_TRUE(QTest::qWaitFor([&] { return d.ok.has_value(); }, 5000));
    EXPECT_EQ(d.ok, std::optional<bool>(true));
    EXPECT_EQ(d.body, "PICT!PICT!PICT!PICT!PICT!");
    EXPECT_EQ(transport.runningCount(), 0u);
}

TEST_F(QtFiles, RedirectsStayOnTheDevice)
{
    // A device's redirect was followed anywhere: to another host, to this
    // phone's own loopback services, to another port. Only the device's own
    // address on port 80 may serve its files now; 127.0.0.2 plays the other
    // host and must never be asked.
    test::LocalHttpServer elsewhere;
    std::atomic<int> elsewhereHits{0};
    elsewhere.server.Get(R"(/.*)", [&](const httplib::Request&, httplib::Response& res) {
        ++elsewhereHits;
        res.set_content("<stolen/>", "text/xml");
    });
    ASSERT_TRUE(elsewhere.start("127.0.0.2", 80));
    for (const char* name : {"away", "otherport", "secure", "explicit"})
        expect(name);
    platform::DiagnosticCapture diagnostics;
    for (const char* name : {"away", "otherport", "secure", "explicit"})
        client->files().request(name);
    ASSERT_TRUE(waitFor(4, 8000));
    std::string out = diagnostics.take();
    EXPECT_EQ(received["away"], std::nullopt);
    EXPECT_EQ(received["otherport"], std::nullopt);
    EXPECT_EQ(received["secure"], std::nullopt);
    EXPECT_EQ(received["explicit"], kUiXml) << "port 80 written out is the device's own";
    EXPECT_EQ(elsewhereHits.load(), 0);
    EXPECT_NE(out.find("Redirect to http://127.0.0.2/ui.xml refused: it leaves the device."), std::string::npos) << out;
}

TEST_F(QtFiles, AnEndlessBodyWaitsInTheNetworkAndStopsAtTheLimit)
{
    // Qt read an endless body as fast as the link allowed, whatever we had
    // taken of it: with the main thread busy, gigabytes piled up in queued
    // chunks (6 GB and bad_alloc, after the time-out had been logged). The
    // transport now reads no more than its buffer ahead of us.
    expect("endless");
    client->files().request("endless");
    ASSERT_TRUE(QTest::qWaitFor([&] { return endlessSent.load() > 0; }, 5000));
    std::this_thread::sleep_for(1s); // a busy main thread: nothing is taken
    std::size_t during = endlessSent.load();
    EXPECT_LT(during, std::size_t(48) << 20) << "read ahead while nobody took the bytes";
    ASSERT_TRUE(waitFor(1, 8000));
    EXPECT_EQ(received["endless"], std::nullopt);
    EXPECT_LT(endlessSent.load(), std::size_t(64) << 20);
    EXPECT_EQ(transport.runningCount(), 0u);
}

TEST_F(QtFiles, ABodyAnnouncedPastTheLimitIsRefusedAtOnce)
{
    expect("huge");
    QElapsedTimer clock;
    clock.start();
    platform::DiagnosticCapture diagnostics;
    client->files().request("huge");
    ASSERT_TRUE(waitFor(1, 5000));
    std::string out = diagnostics.take();
    EXPECT_LT(clock.elapsed(), 3000) << "refused on its headers, not read for its 10 s";
    EXPECT_EQ(received["huge"], std::nullopt);
    EXPECT_NE(out.find("Connection failed! Error - The file is larger than 16 MiB. http://127.0.0.1/huge\n"),
              std::string::npos) << out;
}

TEST_F(QtFiles, ATapSeesEachFinishedTransferAsItsRequestAndFinalResponse)
{
    platform::PacketTapPoint taps;
    test::TapLog log;
    transport.setTaps(&taps);
    expect("status404");
    client->files().request("status404"); // started before the tap: not shown, not half shown
    taps.attach(&log);
    expect("moved.xml");
    expect("big70000");
    client->files().request("moved.xml");
    client->files().request("big70000");
    ASSERT_TRUE(waitFor(3, 5000));
    taps.detach();
    transport.setTaps(nullptr);

    std::vector<test::TapLog::Transfer> seen = log.transfers();
    ASSERT_EQ(seen.size(), 2u);
    std::sort(seen.begin(), seen.end(), [](const auto& a, const auto& b) { return a.request < b.request; });
    const auto& big = seen[0];
    const auto& moved = seen[1];
    for (const auto* t : {&big, &moved}) {
        EXPECT_EQ(t->server, (platform::PacketEnd{0x7F000001, 80}));
        EXPECT_EQ(t->client.address, 0x7F000001u); // the app's side, as the route says
        EXPECT_LE(t->start, t->end);
        EXPECT_NE(t->request.find("\r\nHost: 127.0.0.1\r\n"), std::string::npos) << t->request;
        EXPECT_TRUE(t->request.ends_with("\r\n\r\n")) << t->request;
    }
    EXPECT_TRUE(big.request.starts_with("GET /big70000 HTTP/1.1\r\n")) << big.request;
    EXPECT_TRUE(big.response.starts_with("HTTP/1.1 200 OK\r\n")) << big.response.substr(0, 200);
    EXPECT_TRUE(big.response.ends_with("\r\nContent-Length: 70000\r\n\r\n" + std::string(70000, 'b')));
    // The redirect's own page was thrown away: the response shown is the
    // one whose body the receiver got, asked for where it was redirected.
    EXPECT_TRUE(moved.request.starts_with("GET /ui.xml HTTP/1.1\r\n")) << moved.request;
    EXPECT_TRUE(moved.response.ends_with("Content-Length: " + std::to_string(kUiXml.size()) + "\r\n\r\n" + kUiXml))
        << moved.response;
    EXPECT_NE(moved.response.find("Content-Type: text/xml"), std::string::npos) << moved.response;
    EXPECT_EQ(moved.response.find("moved</html>"), std::string::npos);
}
