#include "platform/TimeStamp.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace fieldmon::platform;

namespace {

struct ScopedTZ {
    std::string old;
    bool had;
    explicit ScopedTZ(const char* tz)
    {
        const char* o = std::getenv("TZ");
        had = o != nullptr;
        if (had)
            old = o;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTZ()
    {
        if (had)
            setenv("TZ", old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
};

// 2026-07-01 12:05:09 UTC and 2026-01-15 13:05:09 UTC
constexpr std::time_t kSummer = 1782907509;
constexpr std::time_t kWinter = 1768482309;

} // namespace

TEST(PresenceStamp, DaylightSavingTimeStampsTheHourBefore)
{
    ScopedTZ tz("CET-1CEST,M3.5.0,M10.5.0/3"); // UTC+2 in summer, UTC+1 in winter
    // Summer: local 14:05:09 CEST, stamped as 13:05:09.
    EXPECT_EQ(presenceStamp(kSummer), "13:05:09");
    // Winter: local 14:05:09 CET, stamped as it is.
    EXPECT_EQ(presenceStamp(kWinter), "14:05:09");
}

TEST(PresenceStamp, ZoneWithoutDaylightSavingAndZeroPadding)
{
    ScopedTZ tz("UTC");
    EXPECT_EQ(presenceStamp(kSummer), "12:05:09");
    EXPECT_EQ(presenceStamp(3 * 3600 + 4 * 60 + 5), "03:04:05");
}
