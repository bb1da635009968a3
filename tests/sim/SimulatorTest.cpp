// The simulator on loopback: real sockets, real HTTP, no broadcast. Devices
// sit at 127.0.0.x addresses on a free port; the test plays the app.

#include "sim/Simulator.h"

#include "support/UdpPeer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace fieldmon::sim;
using fieldmon::test::UdpPeer;

namespace {

std::uint16_t freeUdpPort()
{
    UdpPeer probe("127.0.0.1", 0);
    return probe.port();
}

std::string dotted(in_addr a)
{
    char t[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &a, t, sizeof t);
    return t;
}

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("fieldsim-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ / "ui.xml") << "<d><start initial='p'/><page name='p'/></d>";
        std::ofstream(dir_ / "pic.png", std::ios::binary) << std::string("\x89PNG\r\n\x1a\n0123456789", 18);
        log_.open("/dev/null");
        log_.setCapture(true);
    }
    void TearDown() override
    {
        if (sim_) {
            sim_->requestStop();
            thread_.join();
        }
        std::filesystem::remove_all(dir_);
    }

    DeviceConfig device(const char* name, const char* ip, int serial)
    {
        DeviceConfig c;
        c.name = name;
        c.type = "PUMP";
        c.serial = serial;
        c.folder = dir_.string();
        c.http.port = 0;
        inet_pton(AF_INET, ip, &c.address);
        return c;
    }

    void run(std::vector<DeviceConfig> configs)
    {
        sim_ = std::make_unique<Simulator>(log_, SimulatorOptions{devicePort_, app_.port()});
        for (auto& c : configs) {
            std::vector<std::string> problems;
            ASSERT_TRUE(sim_->addDevice(std::move(c), problems));
        }
        std::string why;
        ASSERT_TRUE(sim_->open(why)) << why;
        thread_ = std::thread([this] { sim_->run(); });
    }

    httplib::Result get(std::size_t device, const char* ip, const std::string& path)
    {
        httplib::Client client(ip, sim_->httpPort(device));
        client.set_connection_timeout(2);
        client.set_read_timeout(5);
        return client.Get(path.c_str());
    }

    std::filesystem::path dir_;
    SimLog log_;
    UdpPeer app_{"127.0.0.1", 0};
    std::uint16_t devicePort_ = freeUdpPort();
    std::unique_ptr<Simulator> sim_;
    std::thread thread_;
};

} // namespace

TEST_F(SimulatorTest, TwoDevicesAreToldApartByAddress)
{
    run({device("First", "127.0.0.10", 10), device("Second", "127.0.0.11", 11)});
    struct Case {
        const char* to;
        const char* identity;
    };
    for (const Case& c : {Case{"127.0.0.10", "mSIM;PUMP;First;1;10;0"}, Case{"127.0.0.11", "mSIM;PUMP;Second;1;11;0"}}) {
        ASSERT_TRUE(app_.sendTo("H", devicePort_, c.to));
        auto reply = app_.receive(2000);
        ASSERT_TRUE(reply) << c.to;
        EXPECT_EQ(reply->bytes, c.identity);
        EXPECT_EQ(dotted(reply->from.sin_addr), c.to) << "the answer leaves from the device's own address";
        EXPECT_TRUE(app_.drain(150).empty()) << "only the addressed device answers";
    }
    // A command goes to one device only: its event comes from that address.
    ASSERT_TRUE(app_.sendTo("cservice 1\r\n", devicePort_, "127.0.0.11"));
    auto event = app_.receive(2000);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->bytes.substr(9), " EVENTSYS_SVC_MODE_ON");
    EXPECT_EQ(dotted(event->from.sin_addr), "127.0.0.11");
    EXPECT_TRUE(app_.drain(150).empty());
    ASSERT_TRUE(app_.sendTo("H", devicePort_, "127.0.0.10"));
    EXPECT_EQ(app_.receive(2000)->bytes, "mSIM;PUMP;First;1;10;0") << "the other device stayed out of service";
}

TEST_F(SimulatorTest, BroadcastAddressesReachEveryDevice)
{
    run({device("First", "127.0.0.10", 10), device("Second", "127.0.0.11", 11)});
    in_addr a{};
    for (const char* ip : {"255.255.255.255", "10.77.0.255"}) {
        inet_pton(AF_INET, ip, &a);
        EXPECT_EQ(sim_->recipients(a).size(), 2u) << ip;
    }
    inet_pton(AF_INET, "127.0.0.11", &a);
    EXPECT_EQ(sim_->recipients(a), std::vector<std::size_t>{1});
    inet_pton(AF_INET, "127.0.0.12", &a);
    EXPECT_TRUE(sim_->recipients(a).empty()) << "no device there";
}

TEST_F(SimulatorTest, ServesTheFolderOverHttp)
{
    run({device("First", "127.0.0.10", 10)});
    auto ui = get(0, "127.0.0.10", "/ui.xml");
    ASSERT_TRUE(ui);
    EXPECT_EQ(ui->status, 200);
    EXPECT_EQ(ui->body, "<d><start initial='p'/><page name='p'/></d>");
    EXPECT_EQ(ui->get_header_value("Content-Type"), "text/xml");
    auto pic = get(0, "127.0.0.10", "/pic.png");
    ASSERT_TRUE(pic);
    EXPECT_EQ(pic->body.size(), 18u);
    EXPECT_EQ(pic->get_header_value("Content-Type"), "image/png");
    for (const char* path : {"/missing.png", "/../etc/passwd", "/%2e%2e/ui.xml"}) {
        auto r = get(0, "127.0.0.10", path);
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 404) << path;
    }
}

TEST_F(SimulatorTest, HttpMisbehavesOnRequest)
{
    DeviceConfig slow = device("Slow", "127.0.0.10", 10);
    slow.http.delay = 0.6;
    slow.http.only = {"ui.xml"};
    DeviceConfig missing = device("Missing", "127.0.0.11", 11);
    missing.http.notFound = true;
    DeviceConfig dropping = device("Dropping", "127.0.0.12", 12);
    dropping.http.drop = true;
    run({slow, missing, dropping});

    auto start = std::chrono::steady_clock::now();
    auto r = get(0, "127.0.0.10", "/ui.xml");
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_GE(waited, 0.55);
    start = std::chrono::steady_clock::now();
    ASSERT_TRUE(get(0, "127.0.0.10", "/pic.png"));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.5)
        << "the delay applies to the files named in \"only\"";

    auto nf = get(1, "127.0.0.11", "/ui.xml");
    ASSERT_TRUE(nf);
    EXPECT_EQ(nf->status, 404);
    EXPECT_FALSE(nf->body.empty()) << "a 404 carries a body, which the app takes as the file";

    auto dropped = get(2, "127.0.0.12", "/ui.xml");
    EXPECT_FALSE(dropped && dropped->status == 200 && dropped->body.size() == 44u)
        << "the whole body must never arrive";
}

TEST_F(SimulatorTest, MovesItsHttpServerWithItsAddress)
{
    DeviceConfig c = device("Mover", "127.0.0.10", 10);
    ScheduledChange move;
    move.at = 0.2;
    inet_pton(AF_INET, "127.0.0.14", &move.address.emplace());
    c.schedule.push_back(move);
    run({c});
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(app_.sendTo("H", devicePort_, "127.0.0.14"));
        if (auto reply = app_.receive(50)) {
            EXPECT_EQ(dotted(reply->from.sin_addr), "127.0.0.14");
            break;
        }
    }
    auto r = get(0, "127.0.0.14", "/ui.xml");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
}
