// The history fed from the reply path: what a reply stores in a device's
// variables reaches the store under the value's own name, and nothing else
// is asked of the device.

#include "history/HistoryFeed.h"
#include "support/ManualLoop.h"
#include "variables/RemoteData.h"
#include "variables/VariableStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using namespace fieldmon;
using namespace fieldmon::history;

namespace {

constexpr double kWall = 1'700'000'000.0;
constexpr std::int32_t kSerial = 4711;

struct Rig {
    platform::ManualLoop loop{50.0};
    std::vector<std::string> sent;
    char nextId = 'b';
    VariableStore vars{VariableStore::Link{
        [] { return false; },
        [this](std::string_view text) {
            sent.emplace_back(text);
            return 0;
        },
        [this] { return nextId++; },
        [this] { return loop.now(); },
        {},
        {},
    }};
    HistoryStore store;
    HistoryFeed feed;

    explicit Rig(HistoryOptions o = {})
        : store(loop, nullptr, std::move(o), {50.0, kWall}),
          feed(store, kSerial, [this] { return kWall + loop.now() - 50.0; })
    {
        vars.setValueObserver(&feed);
    }

    // Asks for `v`'s value and answers it with `payload`.
    void read(const std::shared_ptr<RemoteData>& v, std::string payload)
    {
        vars.requests().queue(v->varRequest());
        ASSERT_TRUE(vars.requests().submitRequests());
        const char id = sent.back()[1];
        std::string reply = "A";
        reply += id;
        reply += payload;
        reply += '\0';
        vars.requests().handleValueReply(reply);
    }

    std::optional<LatestSample> latest(const std::string& name) const
    {
        auto id = store.find(kSerial, name);
        return id ? store.latest(*id) : std::nullopt;
    }
};

std::string le16(int v)
{
    return {static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff)};
}

} // namespace

TEST(HistoryFeed, RepliesFeedScalarsMembersAndElementsUnderTheirOwnNames)
{
    Rig rig;
    rig.vars.parseVariableDeclaration("(struct) pt { (WORD) x = 0; (WORD) y = 2; }; (pt) p = 1; (WORD) flow = 2; "
                                      "(WORD) level = 3;");
    auto flow = rig.vars.variableNamed("flow");
    auto p = rig.vars.variableNamed("p");
    auto level = rig.vars.variableNamed("level");
    flow->setRealAddress(0x10);
    p->setRealAddress(0x20);
    level->setRealAddress(0x40);

    rig.loop.advance(1.0);
    rig.read(flow, le16(1234));
    rig.read(p->structureElement("y"), le16(7));
    rig.read(level->arrayElement(3), le16(300));
    const std::size_t requests = rig.sent.size();

    struct Case {
        const char* name;
        double value;
    };
    for (const Case& c : {Case{"flow", 1234}, Case{"p.y", 7}, Case{"level[3]", 300}}) {
        SCOPED_TRACE(c.name);
        auto s = rig.latest(c.name);
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(s->kind, SampleKind::Number);
        EXPECT_DOUBLE_EQ(s->number, c.value);
        EXPECT_DOUBLE_EQ(s->t, rig.store.timeline(51.0));
    }
    // A member's parent and an element's array are not series of their own
    // unless they were read themselves.
    EXPECT_FALSE(rig.store.find(kSerial, "p").has_value());
    EXPECT_FALSE(rig.store.find(kSerial, "level").has_value());
    // Recording asked the device for nothing.
    EXPECT_EQ(rig.sent.size(), requests);
    EXPECT_EQ(rig.feed.appended(), 3u);
    // The stamp the staleness rule reads.
    EXPECT_DOUBLE_EQ(flow->storedAt(), 51.0);
}

TEST(HistoryFeed, EnumerationsAreTextsKeptWhenTheyChange)
{
    Rig rig;
    rig.vars.parseVariableDeclaration("(enum) mode { OFF; ON; }; (mode) m = 1;");
    auto m = rig.vars.variableNamed("m");
    m->setRealAddress(0x30);
    for (int v : {0, 0, 1, 1, 0}) {
        rig.loop.advance(0.5);
        rig.read(m, std::string(1, static_cast<char>(v)));
    }
    auto id = rig.store.find(kSerial, "m");
    ASSERT_TRUE(id.has_value());
    TraceData data;
    rig.store.query(*id, rig.store.timeline(50), rig.store.timeline(60), 320, data);
    ASSERT_EQ(data.texts.size(), 3u);
    EXPECT_EQ(data.texts[0].text, "OFF");
    EXPECT_EQ(data.texts[1].text, "ON");
    EXPECT_EQ(data.texts[2].text, "OFF");
    EXPECT_TRUE(data.points.empty() || std::all_of(data.points.begin(), data.points.end(),
                                                   [](const TracePoint& p) { return std::isnan(p.v); }));
}

TEST(HistoryFeed, EvictedSeriesAreFoundAgainWithoutLosingSamples)
{
    // The feed caches a handle per variable. With room for one series per
    // device, each of two variables evicts the other's series: a cached
    // handle is stale at every reply, and a feed that trusted it would drop
    // every sample after the first two.
    HistoryOptions o;
    o.maxSeriesPerDevice = 1;
    Rig rig(o);
    rig.vars.parseVariableDeclaration("(WORD) a = 1; (WORD) b = 2;");
    auto a = rig.vars.variableNamed("a");
    auto b = rig.vars.variableNamed("b");
    a->setRealAddress(0x10);
    b->setRealAddress(0x12);
    for (int i = 1; i <= 5; ++i) {
        rig.loop.advance(0.2);
        rig.read(a, le16(i));
        rig.read(b, le16(100 + i));
    }
    EXPECT_EQ(rig.feed.appended(), 10u);
    auto s = rig.latest("b");
    ASSERT_TRUE(s.has_value());
    EXPECT_DOUBLE_EQ(s->number, 105);
}

TEST(HistoryFeed, AnObserverTakenAwayHearsNothingMore)
{
    Rig rig;
    rig.vars.parseVariableDeclaration("(WORD) a = 1;");
    auto a = rig.vars.variableNamed("a");
    a->setRealAddress(0x10);
    rig.read(a, le16(1));
    rig.vars.setValueObserver(nullptr);
    rig.loop.advance(1);
    rig.read(a, le16(2));
    EXPECT_EQ(rig.feed.appended(), 1u);
    EXPECT_DOUBLE_EQ(rig.latest("a")->number, 1);
    // The variable still knows when it was last stored.
    EXPECT_DOUBLE_EQ(a->storedAt(), 51.0);
}
