// One followed device: its document is fetched (a fake transport plays the
// device's HTTP server) and read headlessly, and the sink hears the
// description once the labels show values, again when the device renames
// itself, and with the reason when the document cannot be had. The device
// answers value requests over loopback; time is the manual loop's.
#include "gateway/GatewayDevice.h"

#include "device/SchedulerFixture.h"
#include "support/FakeFileTransport.h"

#include <gtest/gtest.h>

namespace fieldmon::gateway {
namespace {

struct RecordingSink final : DeviceSink {
    std::vector<ExportedDevice> ups;
    std::vector<ElementValue> values;
    std::vector<LinkFigures> links;
    int downs = 0;

    void deviceUp(const ExportedDevice& device) override { ups.push_back(device); }
    void deviceDown(const std::string&) override { ++downs; }
    void valuesChanged(const std::string&, std::span<const ElementValue> changed) override
    {
        values.insert(values.end(), changed.begin(), changed.end());
    }
    void event(const std::string&, const std::string&) override {}
    void linkFigures(const std::string&, const LinkFigures& figures) override { links.push_back(figures); }
};

struct FollowedDevice : test::SchedulerFixture {
    platform::FakeFileTransport files{&s.loop};
    platform::Services services{s.loop, s.notifications, s.alerts, &files};
    RecordingSink sink;

    FollowedDevice()
    {
        // The fixture's record, again with a file transport.
        client = Client::create(false, services);
        client->setSocket(sock, &send_mutex);
        client->setAddress(test::ipv4("127.0.0.1"), device.port());
        client->setName("Well");
        client->setType("PUMP");
        client->setSerialNumber(1207);
        quietly([&] { client->variables().parseVariableDeclaration("(int) temp = 0; (int) pressure = 1;"); });
    }

    // The newest request.
    platform::FileTransport::TransferId documentRequest()
    {
        return files.requests().empty() ? 0 : files.requests().back().id;
    }
};

TEST_F(FollowedDevice, DescribedOnceItsLabelsShowValuesAndAgainWhenItRenamesItself)
{
    GatewayDevice followed(client, sink);
    followed.start();
    ASSERT_EQ(files.requests().size(), 1u);
    EXPECT_NE(files.requests()[0].url.find("/ui.xml"), std::string::npos);
    quietly([&] {
        files.serve(documentRequest(), "<d><page name='p'><label refresh='1'>temp</label>"
                                       "<label refresh='1'>pressure</label></page></d>");
    });
    // Nothing yet: whether a label is numeric is read from what it shows.
    EXPECT_TRUE(sink.ups.empty());
    run(0.5);
    ASSERT_EQ(sink.ups.size(), 1u);
    EXPECT_EQ(sink.ups[0].serial, "1207");
    ASSERT_EQ(sink.ups[0].elements.size(), 2u);
    EXPECT_TRUE(sink.ups[0].elements[0].numeric);
    EXPECT_EQ(sink.values.size(), 2u);

    client->setName("North well");
    followed.checkIdentity();
    followed.checkIdentity();
    ASSERT_EQ(sink.ups.size(), 2u);
    EXPECT_EQ(sink.ups[1].name, "North well");
    EXPECT_EQ(sink.ups[1].elements.size(), 2u);
    // The new description is followed by the values it has.
    EXPECT_EQ(sink.values.size(), 4u);

    // Once described, the link is reported every second with what the
    // record measured of the labels' requests.
    run(2 * GatewayDevice::kLinkSeconds + 0.1);
    ASSERT_GE(sink.links.size(), 2u);
    const LinkFigures& link = sink.links.back();
    EXPECT_GT(link.requests, 0u);
    EXPECT_GT(link.replies, 0u);
    EXPECT_LE(link.replies, link.requests);
    EXPECT_EQ(link.rttCount, link.replies);
    EXPECT_TRUE(link.rttP50.has_value());
}

TEST_F(FollowedDevice, ADocumentThatCannotBeHadIsDescribedWithTheReasonAndNoElements)
{
    const auto check = [&](const char* what, auto&& answer) {
        sink = RecordingSink{};
        GatewayDevice followed(client, sink);
        followed.start();
        quietly([&] { answer(documentRequest()); });
        ASSERT_EQ(sink.ups.size(), 1u) << what;
        EXPECT_FALSE(sink.ups[0].documentError.empty()) << what;
        EXPECT_TRUE(sink.ups[0].elements.empty()) << what;
        run(1.0);
        EXPECT_TRUE(sink.values.empty()) << what;
    };
    check("a failed transfer", [&](auto id) { files.fail(id, "refused"); });
    check("a document cut short", [&](auto id) {
        files.serve(id, "<d><page name='p'><label refresh='1'>temp</label><label>");
    });
}

// The device is lost while its document is still on the way: the transfer
// is cancelled with the follower, and nothing reaches the sink afterwards.
TEST_F(FollowedDevice, LosingTheDeviceWhileItsDocumentIsOnTheWayTellsNobody)
{
    auto followed = std::make_unique<GatewayDevice>(client, sink);
    followed->start();
    const auto id = documentRequest();
    followed.reset();
    EXPECT_FALSE(files.serve(id, "<d><page name='p'><label>temp</label></page></d>"));
    run(GatewayDevice::kSettleSeconds + 1);
    EXPECT_TRUE(sink.ups.empty());
    EXPECT_TRUE(sink.links.empty());
}

} // namespace
} // namespace fieldmon::gateway
