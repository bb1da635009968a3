#include "device/Client.h"
#include "platform/Diagnostics.h"

#include "support/TestServices.h"

#include <gtest/gtest.h>

using namespace fieldmon;
using fieldmon::test::TestServices;

namespace {

struct EventFixture : testing::Test {
    TestServices s;
    std::shared_ptr<Client> c = Client::create(false, s.services);
    std::vector<std::string> posted;
    platform::Subscription sub;

    void SetUp() override
    {
        c->setSerialNumber(1207);
        sub = s.notifications.subscribe("eventFrom1207", [this](const platform::Notification& n) {
            ASSERT_NE(n.text(), nullptr);
            posted.push_back(*n.text());
        });
    }
};

} // namespace

TEST_F(EventFixture, NotificationCarriesTheTextWithoutItsStamp)
{
    struct Case {
        std::string line;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"08:15:00 PUMP STARTED", "PUMP STARTED"},
        {"PUMP STARTED", "PUMP STARTED"},
        {"1:2", "1:2"},             // short line: the stamp test must not look past it
        {"", ""},                   // empty lines are logged and announced too
        {"12:00:01 ", ""},          // stamp with an empty text
        {"12:00:01", "12:00:01"},   // eight characters: no blank at 8, so no stamp
        {"ab:cd:ef X", "X"},        // only positions 2, 5 and 8 are tested
    };
    for (const auto& k : cases) {
        posted.clear();
        c->broadcastEvent(k.line);
        ASSERT_EQ(posted.size(), 1u) << k.line;
        EXPECT_EQ(posted[0], k.text) << k.line;
        EXPECT_EQ(c->eventLog().back(), k.line) << "the log keeps the whole line";
    }
}

TEST_F(EventFixture, ServiceEventsNeedAStampAndAnExactText)
{
    struct Case {
        std::string line;
        bool serviceAfter;
    };
    const std::vector<Case> cases = {
        {"EVENTSYS_SVC_MODE_ON", false},
        {"12:00:01 EVENTSYS_SVC_MODE_ON", true},
        {"12:00:02 EVENTSYS_SVC_MODE_ON ", true}, // not exact: no change
        {"12:00:03 EVENTSYS_SVC_MODE_OFF", false},
        {"12:00:04 eventsys_svc_mode_on", false},
        {"12:00:05 EVENTSYS_SVC_MODE_ON", true},
        {"EVENTSYS_SVC_MODE_OFF", true},
    };
    for (const auto& k : cases) {
        c->broadcastEvent(k.line);
        EXPECT_EQ(c->service(), k.serviceAfter) << k.line;
    }
    EXPECT_EQ(c->eventLog().size(), cases.size());
}

TEST_F(EventFixture, LogKeepsTheLast100LinesAndTheNumberCountsAll)
{
    for (int i = 1; i <= 101; ++i)
        c->broadcastEvent("line " + std::to_string(i));
    ASSERT_EQ(c->eventLog().size(), 100u);
    EXPECT_EQ(c->eventLog().front(), "line 2");
    EXPECT_EQ(c->eventLog().back(), "line 101");
    EXPECT_EQ(c->eventNumber(), 101);
    // Row r holds event number E - n + r (events counted from 0).
    const int n = static_cast<int>(c->eventLog().size());
    for (int r = 0; r < n; ++r)
        EXPECT_EQ(c->eventLog()[static_cast<std::size_t>(r)], "line " + std::to_string(c->eventNumber() - n + r + 1));
    EXPECT_EQ(posted.size(), 101u);
}

TEST_F(EventFixture, ObserversRunAfterTheLineIsLoggedAndCounted)
{
    std::size_t logSize = 0;
    int number = 0;
    auto probe = s.notifications.subscribe("eventFrom1207", [&](const platform::Notification&) {
        logSize = c->eventLog().size();
        number = c->eventNumber();
    });
    c->broadcastEvent("12:00:00 X");
    EXPECT_EQ(logSize, 1u);
    EXPECT_EQ(number, 1);
}

TEST_F(EventFixture, PrintsSerialAndLine)
{
    platform::DiagnosticCapture diagnostics;
    c->broadcastEvent("08:15:00 PUMP STARTED");
    EXPECT_EQ(diagnostics.take(), "1207: 08:15:00 PUMP STARTED\n");
}
