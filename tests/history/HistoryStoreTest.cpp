// The history's memory tiers through the store: values that are not
// numbers, one-sample series, texts, a wall clock set back, silences,
// decimation and the bounds on series and memory.

#include "history/HistoryStore.h"
#include "support/ManualLoop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace fieldmon;
using namespace fieldmon::history;

namespace {

constexpr double kWall = 1'700'000'000.0; // 2023-11-14T22:13:20Z
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Rig {
    platform::ManualLoop loop{100.0};
    HistoryStore store;
    explicit Rig(HistoryOptions o = {}) : store(loop, nullptr, std::move(o), {100.0, kWall}) {}
    // mono and wall move together unless a test says otherwise
    bool add(SeriesId id, double dt, const Value& v) { return store.append(id, 100.0 + dt, kWall + dt, v); }
    double t(double dt) const { return store.timeline(100.0 + dt); }
};

std::size_t breaks(const TraceData& d)
{
    std::size_t n = 0;
    for (const TracePoint& p : d.points)
        n += std::isnan(p.v);
    return n;
}

// A store whose raw tier is one chunk, so that windows older than a few
// seconds read the one-second aggregates: the same checks run on both tiers.
HistoryOptions tinyRaw()
{
    HistoryOptions o;
    o.rawSamples = 128;
    o.rawSeconds = 5;
    return o;
}

TEST(HistoryStore, ValuesThatAreNotNumbersAreKeptApart)
{
    for (bool seconds : {false, true}) {
        SCOPED_TRACE(seconds ? "second tier" : "raw tier");
        Rig rig(seconds ? tinyRaw() : HistoryOptions{});
        auto id = rig.store.series(7, "p");
        const Value values[] = {Value::real(1.5),
                                Value::real(std::nan("")),
                                Value::real(kInf),
                                Value::real(-kInf),
                                Value::real(9.9e37), // an instrument's over-range
                                Value::error(),
                                Value::real(-2.5),
                                Value()}; // nothing: not a sample at all
        double dt = 0;
        for (const Value& v : values)
            ASSERT_TRUE(rig.add(id, dt += 1, v));
        if (seconds) // pushes the samples out of the one raw chunk
            for (int i = 0; i < 200; ++i)
                rig.add(id, 100 + i * 0.01, Value::real(0));

        TraceData d;
        rig.store.query(id, rig.t(0), rig.t(7.5), 320, d);
        EXPECT_EQ(d.tier, seconds ? Tier::Seconds : Tier::Raw);
        std::vector<double> numbers;
        for (const TracePoint& p : d.points)
            if (!std::isnan(p.v))
                numbers.push_back(p.v);
        EXPECT_EQ(numbers, (std::vector<double>{1.5, -2.5}));
        EXPECT_EQ(breaks(d), 1u) << "the line must not join 1.5 to -2.5 across the non-numbers";
        std::vector<SampleKind> kinds;
        for (const TraceMark& m : d.marks)
            kinds.push_back(m.kind);
        EXPECT_EQ(kinds, (std::vector<SampleKind>{SampleKind::NaN, SampleKind::PlusInfinity,
                                                  SampleKind::MinusInfinity, SampleKind::Huge, SampleKind::Error}));
    }
}

TEST(HistoryStore, OneSampleSeries)
{
    Rig rig;
    auto id = rig.store.series(7, "once");
    rig.add(id, 3, Value::integer(42));
    TraceData d;
    rig.store.query(id, rig.t(0), rig.t(60), 320, d);
    ASSERT_EQ(d.points.size(), 1u);
    EXPECT_EQ(d.points[0].v, 42);
    EXPECT_DOUBLE_EQ(d.points[0].t, rig.t(3));
    rig.store.query(id, rig.t(10), rig.t(60), 320, d); // a window after it: nothing to draw
    EXPECT_TRUE(d.points.empty());
    auto last = rig.store.latest(id);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->number, 42);
    auto infos = rig.store.seriesOf(7);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].first, infos[0].last);
}

TEST(HistoryStore, TextsAreKeptWhenTheyChange)
{
    Rig rig;
    auto id = rig.store.series(7, "mode");
    const char* received[] = {"auto", "auto", "manual", "manual", "auto"};
    for (int i = 0; i < 5; ++i)
        rig.add(id, i, Value::text(received[i]));
    TraceData d;
    rig.store.query(id, rig.t(0), rig.t(10), 320, d);
    std::vector<std::string> texts;
    for (const TraceText& x : d.texts)
        texts.push_back(x.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"auto", "manual", "auto"}));
    EXPECT_TRUE(d.points.empty()) << "texts are not drawn as numbers";
    // A window that starts after a change still knows the text in force.
    rig.store.query(id, rig.t(3), rig.t(3.5), 320, d);
    ASSERT_EQ(d.texts.size(), 1u);
    EXPECT_EQ(d.texts[0].text, "manual");
    EXPECT_EQ(rig.store.latest(id)->text, "auto");
}

TEST(HistoryStore, WallClockSetBackAnHourKeepsOrderAndEverySample)
{
    // Someone sets the clock back an hour during a minute of 1 Hz samples:
    // the timeline goes on, the labels follow the wall clock.
    Rig rig;
    auto id = rig.store.series(7, "p");
    for (int i = 0; i < 60; ++i) {
        const double wall = kWall + i - (i >= 30 ? 3600 : 0);
        rig.store.append(id, 100.0 + i, wall, Value::integer(i));
    }
    TraceData d;
    rig.store.query(id, rig.t(0), rig.t(59), 320, d);
    ASSERT_EQ(d.points.size(), 60u);
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(d.points[i].v, i);
        EXPECT_DOUBLE_EQ(d.points[i].t, rig.t(i));
    }
    EXPECT_NEAR(rig.store.wallAt(rig.t(29)), kWall + 29, 1e-3);
    EXPECT_NEAR(rig.store.wallAt(rig.t(30)), kWall + 30 - 3600, 1e-3);
    std::vector<ExportSample> samples;
    std::vector<std::string> texts;
    rig.store.exportSamples(id, rig.t(0), rig.t(59), samples, texts);
    ASSERT_EQ(samples.size(), 60u);
    EXPECT_EQ(samples[30].wallMs - samples[29].wallMs, 1000 - 3'600'000);
}

TEST(HistoryStore, SilenceOfAnHourIsAGap)
{
    for (bool seconds : {false, true}) {
        SCOPED_TRACE(seconds ? "second tier" : "raw tier");
        HistoryOptions o = tinyRaw();
        if (!seconds) { // raw samples kept for longer than the silence
            o.rawSamples = 10'000;
            o.rawSeconds = 7200;
        }
        Rig rig(o);
        auto id = rig.store.series(7, "p");
        for (int i = 0; i < 120; ++i)
            rig.add(id, i, Value::real(10));
        for (int i = 0; i < 120; ++i)
            rig.add(id, 3720 + i, Value::real(20));
        TraceData d;
        rig.store.query(id, rig.t(0), rig.t(3840), 320, d);
        EXPECT_EQ(d.tier, seconds ? Tier::Seconds : Tier::Raw);
        ASSERT_EQ(breaks(d), 1u);
        auto gap = std::find_if(d.points.begin(), d.points.end(), [](auto& p) { return std::isnan(p.v); });
        ASSERT_NE(gap, d.points.begin());
        EXPECT_EQ((gap - 1)->v, 10);
        EXPECT_EQ((gap + 1)->v, 20);
        EXPECT_GE(gap->t, rig.t(119));
        // A slower rate is not a silence: 10 s samples join up after a few.
        for (int i = 1; i <= 20; ++i)
            rig.add(id, 3840 + 10 * i, Value::real(30));
        rig.store.query(id, rig.t(3900), rig.t(4040), 320, d);
        EXPECT_EQ(breaks(d), 0u);
    }
}

TEST(HistoryStore, QueriesDrawAtMostTwoPointsPerColumnAndKeepPeaks)
{
    // A day at 1 Hz with a one-second spike; every span must show the spike
    // when it is in the window, with at most two points per column.
    Rig rig;
    auto id = rig.store.series(7, "p");
    const int day = 86'400;
    const int spikeAt = day - 30;
    for (int i = 0; i <= day; ++i)
        rig.add(id, i, Value::real(i == spikeAt ? 1000.0 : std::sin(i / 100.0)));
    struct Span {
        double seconds;
        Tier tier;
    };
    for (const Span span : {Span{60, Tier::Raw}, Span{600, Tier::Raw}, Span{3600, Tier::Seconds},
                            Span{86'400, Tier::Seconds}}) {
        SCOPED_TRACE(span.seconds);
        TraceData d;
        rig.store.query(id, rig.t(day - span.seconds), rig.t(day), 320, d);
        EXPECT_EQ(d.tier, span.tier);
        EXPECT_LE(d.points.size(), 2u * 320 + 2);
        EXPECT_GE(d.points.size(), std::min<std::size_t>(span.seconds, 320));
        double top = -1;
        for (const TracePoint& p : d.points)
            top = std::max(top, p.v);
        EXPECT_NEAR(top, 1000.0, 0.02);
        EXPECT_EQ(breaks(d), 0u);
        for (std::size_t i = 1; i < d.points.size(); ++i)
            ASSERT_LE(d.points[i - 1].t, d.points[i].t);
    }
}

TEST(HistoryStore, AggregatesKeepWholeNumbersExactAndFractionsClose)
{
    HistoryOptions o = tinyRaw();
    Rig rig(o);
    auto whole = rig.store.series(7, "count");
    auto real = rig.store.series(7, "level");
    for (int i = 0; i < 600; ++i) {
        rig.add(whole, i, Value::integer(1'000'000 + i * 7));
        rig.add(real, i, Value::real(3.0 + 0.001 * i));
    }
    std::vector<ExportSample> samples;
    std::vector<std::string> texts;
    rig.store.exportSamples(whole, rig.t(0), rig.t(500), samples, texts);
    ASSERT_EQ(samples.size(), 501u);
    for (int i = 0; i <= 500; ++i)
        ASSERT_EQ(samples[i].value, 1'000'000 + i * 7) << i;
    samples.clear();
    rig.store.exportSamples(real, rig.t(0), rig.t(500), samples, texts);
    ASSERT_EQ(samples.size(), 501u);
    for (int i = 0; i <= 500; ++i)
        ASSERT_NEAR(samples[i].value, 3.0 + 0.001 * i, 1e-4) << i;
}

TEST(HistoryStore, ExportingEverythingKeepsTheRawSamplesItHolds)
{
    // An export of everything kept read only the one-second means as soon
    // as the raw tier no longer reached back to the series' start: a CSV of
    // a 10 Hz value had one row a second even for the last minutes, whose
    // every sample memory still held.
    Rig rig(tinyRaw());
    auto id = rig.store.series(7, "flow");
    for (int i = 0; i < 300; ++i) // 30 s at 10 Hz; the raw tier keeps the last 128
        rig.add(id, i * 0.1, Value::real(i));
    std::vector<ExportSample> samples;
    std::vector<std::string> texts;
    rig.store.exportSamples(id, -1e15, 1e15, samples, texts);
    ASSERT_FALSE(samples.empty());
    auto ms = [&](double dt) { return static_cast<std::int64_t>(std::llround(rig.t(dt) * 1000)); };
    std::size_t lastFour = 0, firstTwenty = 0;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        if (k > 0) {
            ASSERT_LT(samples[k - 1].tMs, samples[k].tMs) << k; // in order, no time twice
        }
        lastFour += samples[k].tMs >= ms(25.95);
        firstTwenty += samples[k].tMs < ms(19.95);
    }
    // The last seconds (raw in memory): every sample. Long before: a mean a second.
    EXPECT_EQ(lastFour, 40u);
    EXPECT_DOUBLE_EQ(samples.back().value, 299);
    EXPECT_GE(firstTwenty, 19u);
    EXPECT_LE(firstTwenty, 21u);
}

TEST(HistoryStore, TenThousandSeriesOnOneDeviceStayBounded)
{
    HistoryOptions o;
    o.maxSeriesPerDevice = 1000;
    Rig rig(o);
    std::vector<SeriesId> ids;
    for (int i = 0; i < 10'000; ++i) {
        ids.push_back(rig.store.series(7, "v" + std::to_string(i)));
        for (int k = 0; k < 3; ++k)
            rig.add(ids.back(), i * 0.01 + k * 0.001, Value::integer(i));
    }
    auto st = rig.store.stats();
    EXPECT_EQ(st.series, 1000u);
    EXPECT_EQ(st.evicted, 9000u);
    // The oldest went first.
    EXPECT_FALSE(rig.store.find(7, "v0"));
    EXPECT_FALSE(rig.store.find(7, "v8999"));
    EXPECT_TRUE(rig.store.find(7, "v9000"));
    EXPECT_FALSE(rig.store.append(ids[0], 1000, kWall + 1000, Value::integer(1))) << "a stale handle";
    EXPECT_EQ(rig.store.seriesOf(7).size(), 1000u);
    // Each survivor holds a raw chunk, a staging block and its bookkeeping.
    EXPECT_LT(st.memoryBytes, 1000u * 8 * 1024);
}

TEST(HistoryStore, MemoryBudgetHoldsUnderLoad)
{
    // 50 series at 10 Hz for twenty minutes into a 2 MiB budget: the store
    // stays within it, and every series still takes samples.
    HistoryOptions o;
    o.memoryBudget = 2u << 20;
    Rig rig(o);
    std::vector<SeriesId> ids;
    for (int s = 0; s < 50; ++s)
        ids.push_back(rig.store.series(7, "v" + std::to_string(s)));
    std::size_t refused = 0;
    for (int step = 0; step < 12'000; ++step)
        for (auto id : ids)
            refused += !rig.add(id, step * 0.1, Value::real(step));
    auto st = rig.store.stats();
    EXPECT_EQ(refused, 0u);
    EXPECT_EQ(st.series, 50u);
    EXPECT_LE(st.memoryBytes, (2u << 20) + 200u * 1024);
    TraceData d;
    rig.store.query(ids[0], rig.t(1199), rig.t(1200), 320, d);
    ASSERT_FALSE(d.points.empty());
    EXPECT_EQ(d.points.back().v, 11'999);
}

} // namespace
