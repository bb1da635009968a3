#include "gateway/MetricsModel.h"

#include "GatewayFixtures.h"
#include "PromParser.h"

#include <gtest/gtest.h>

#include <map>

namespace fieldmon::gateway {
namespace {

using testing::parseWithPrometheus;
using testing::pumpDevice;

// Samples by "name{label=value,...}" as the reference parser read them.
std::map<std::string, nlohmann::json> samplesOf(const nlohmann::json& parsed)
{
    std::map<std::string, nlohmann::json> out;
    for (const auto& sample : parsed["samples"]) {
        std::string key = sample[0].get<std::string>();
        for (const auto& [label, value] : sample[1].items())
            key += "," + label + "=" + value.get<std::string>();
        out[key] = sample[2];
    }
    return out;
}

TEST(Metrics, TheReferenceParserReadsHostileLabelsBack)
{
    MetricsModel model(1000, "0.1.0");
    ExportedDevice pump = pumpDevice();
    pump.name = "North \"well\"\\2\nnew line \xFF";
    pump.elements[0].page = "pa\"ge\\";
    model.deviceUp(pump);
    ElementValue values[] = {{0, "1234", 1234.0}, {1, "2.5", 2.5}, {5, "AUTO", std::nullopt}, {99, "x", 1.0}};
    model.valuesChanged("1207", values);
    LinkFigures link;
    link.rttP50 = 0.012;
    link.rttP99 = 0.25;
    link.rttSum = 1.5;
    link.rttCount = 40;
    link.lossRatio = 0.025;
    link.requests = 41;
    link.replies = 40;
    model.linkFigures("1207", link);
    model.deviceUp(pumpDevice("1208"));
    model.deviceDown("1208");

    testing::Parsed parsed = parseWithPrometheus(model.render());
    if (parsed.exitCode == 77)
        GTEST_SKIP() << parsed.error;
    ASSERT_EQ(parsed.exitCode, 0) << parsed.error << model.render();
    const nlohmann::json& families = parsed.result["families"];
    EXPECT_EQ(families["fieldmon_requests"], "counter");
    EXPECT_EQ(families["fieldmon_link_rtt_seconds"], "summary");
    EXPECT_EQ(families["fieldmon_value"], "gauge");

    auto samples = samplesOf(parsed.result);
    EXPECT_EQ(samples["fieldmon_gateway_info,version=0.1.0"], 1.0);
    EXPECT_EQ(samples["fieldmon_device_up,name=North \"well\"\\2\nnew line \xEF\xBF\xBD,serial=1207,type=PUMP"], 1.0);
    EXPECT_EQ(samples["fieldmon_device_up,name=North well,serial=1208,type=PUMP"], 0.0);
    EXPECT_EQ(samples["fieldmon_value,element=label0,page=pa\"ge\\,serial=1207"], 1234.0);
    EXPECT_EQ(samples["fieldmon_value,element=gauge1,page=main,serial=1207"], 2.5);
    EXPECT_EQ(samples["fieldmon_link_rtt_seconds,quantile=0.5,serial=1207"], 0.012);
    EXPECT_TRUE(samples["fieldmon_link_rtt_seconds,quantile=0.9,serial=1207"].is_null()); // NaN: not measured
    EXPECT_EQ(samples["fieldmon_link_rtt_seconds_count,serial=1207"], 40.0);
    EXPECT_EQ(samples["fieldmon_link_loss_ratio,serial=1207"], 0.025);
    EXPECT_EQ(samples["fieldmon_requests_total,serial=1207"], 41.0);
    EXPECT_EQ(samples["fieldmon_replies_total,serial=1207"], 40.0);
    // Two devices of nine series, two numeric values, the info and the dropped counter.
    EXPECT_EQ(parsed.result["samples"].size(), 2u * 9 + 2 + 2);
    EXPECT_EQ(model.seriesCount(), 2u * 9 + 2);
}

TEST(Metrics, TheSeriesCapDropsAndCountsOnce)
{
    MetricsModel model(20, "0.1.0");
    for (const char* serial : {"1", "2", "3"})
        model.deviceUp(pumpDevice(serial));
    EXPECT_EQ(model.seriesCount(), 18u);
    EXPECT_EQ(model.seriesDropped(), 9u); // the third device, all or nothing
    ElementValue values[] = {{0, "1", 1.0}, {1, "2", 2.0}};
    for (int round = 0; round < 3; ++round) {
        model.valuesChanged("1", values);
        model.valuesChanged("2", values);
        model.valuesChanged("3", values); // not admitted: ignored, not counted again
    }
    EXPECT_EQ(model.seriesCount(), 20u);
    EXPECT_EQ(model.seriesDropped(), 11u); // two values of device 2, once each
    // A device that comes up again with another document keeps what it
    // still has and frees what it lost.
    ExportedDevice fewer = pumpDevice("1");
    fewer.elements.erase(fewer.elements.begin());
    model.deviceUp(fewer);
    EXPECT_EQ(model.seriesCount(), 19u);

    testing::Parsed parsed = parseWithPrometheus(model.render());
    if (parsed.exitCode == 77)
        GTEST_SKIP() << parsed.error;
    ASSERT_EQ(parsed.exitCode, 0) << parsed.error;
    auto samples = samplesOf(parsed.result);
    EXPECT_EQ(samples["fieldmon_series_dropped_total"], 11.0);
    EXPECT_EQ(samples.count("fieldmon_device_up,name=North well,serial=3,type=PUMP"), 0u);
    EXPECT_EQ(parsed.result["samples"].size(), 19u + 2);
}

} // namespace
} // namespace fieldmon::gateway
