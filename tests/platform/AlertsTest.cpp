#include "support/RecordingAlerts.h"

#include <gtest/gtest.h>

using namespace fieldmon::platform;

TEST(RecordingAlerts, PressCallsTheCallbackOnceDismissNever)
{
    RecordingAlerts alerts;
    std::vector<int> pressed;
    auto first = alerts.show({"Lost client", "Client 1207 disappeared", {"Ok"}, [&](int i) { pressed.push_back(i); }});
    auto second = alerts.show({"Network Error", "Can't access local WiFi", {"Ok"}, [&](int i) { pressed.push_back(10 + i); }});
    EXPECT_EQ(alerts.openCount(), 2u);

    alerts.dismiss(first, 0, true);
    EXPECT_FALSE(alerts.press(first, 0));
    EXPECT_TRUE(alerts.press(second, 0));
    EXPECT_FALSE(alerts.press(second, 0));
    EXPECT_EQ(pressed, (std::vector<int>{10}));

    ASSERT_EQ(alerts.history().size(), 2u);
    EXPECT_EQ(alerts.history()[0].dismissedWith, 0);
    EXPECT_TRUE(alerts.history()[0].dismissedAnimated);
    EXPECT_EQ(alerts.openCount(), 0u);
    EXPECT_EQ(alerts.lastOpen(), nullptr);
}
