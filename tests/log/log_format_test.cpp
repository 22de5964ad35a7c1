#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "log/log_format.h"
#include "log/log_time.h"
#include "log_test_support.h"

namespace {

// The front's tests cover the formats through the files; these are the edges they miss.

TEST(LogFormat, SixteenValuesEndTheirRowWithALineFeed) {
    const std::vector<std::uint8_t> bytes(16, 0xAB);
    EXPECT_EQ(RenderBytes(bytes, kDumpHex).size(), 16U * 3 + 1);
    EXPECT_TRUE(RenderBytes(bytes, kDumpDecimal).ends_with("171 \n"));
}

TEST(LogTime, PlausibleOnlyWithinADay) {
    LogTime t = FixedTime();
    t.hour = 23;
    t.minute = 59;
    t.second = 59;
    EXPECT_TRUE(IsPlausible(t));
    for (auto field : {&LogTime::hour, &LogTime::minute, &LogTime::second}) {
        LogTime bad = t;
        bad.*field = static_cast<std::uint16_t>(bad.*field + 1);
        EXPECT_FALSE(IsPlausible(bad));
    }
    EXPECT_TRUE(IsPlausible(LocalTimeNow()));
}

}  // namespace
