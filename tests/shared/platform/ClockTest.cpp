#include "shared/platform/Clock.h"

#include "support/TestSupport.h"

#include <ctime>
#include <gtest/gtest.h>

namespace kvo {
namespace {

using namespace std::chrono;

// Runs a test in a fixed time zone with daylight saving.
class ClockTest : public ::testing::Test {
protected:
    void SetUp() override { tzset(); }
    void TearDown() override {
        SetClockForTesting(nullptr);
        zone.reset();
        tzset();
    }
    std::optional<test::EnvVar> zone{std::in_place, "TZ", "Europe/London"};

    static TimePoint Local(int y, int mo, int d, int h, int mi, int s) {
        std::tm t{};
        t.tm_year = y - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_sec = s;
        t.tm_isdst = -1;
        return system_clock::from_time_t(mktime(&t));
    }
};

TEST_F(ClockTest, HourCountCountsClockBoundaries) {
    EXPECT_EQ(HourCount(Local(2024, 3, 5, 10, 59, 30), Local(2024, 3, 5, 12, 0, 0)), 2);
    EXPECT_EQ(HourCount(Local(2024, 3, 5, 10, 0, 0), Local(2024, 3, 5, 11, 59, 59)), 1);
    EXPECT_EQ(HourCount(Local(2024, 3, 5, 23, 59, 59), Local(2024, 3, 6, 0, 0, 0)), 1);
    EXPECT_EQ(HourCount(Local(2024, 2, 29, 23, 30, 0), Local(2024, 3, 1, 1, 0, 0)), 2);
    EXPECT_EQ(HourCount(Local(2023, 12, 31, 23, 0, 0), Local(2024, 1, 1, 0, 59, 0)), 1);
    EXPECT_EQ(HourCount(Local(2024, 3, 5, 10, 5, 0), Local(2024, 3, 5, 10, 55, 0)), 0);
    EXPECT_EQ(HourCount(Local(2024, 3, 5, 12, 0, 0), Local(2024, 3, 5, 10, 59, 30)), -2);
    // Counted on the local calendar: across the spring change 00:30 -> 02:30 is one hour of
    // elapsed time but two clock hours.
    TimePoint beforeChange = Local(2024, 3, 31, 0, 30, 0), afterChange = Local(2024, 3, 31, 2, 30, 0);
    ASSERT_EQ(afterChange - beforeChange, hours(1)) << "time zone data missing?";
    EXPECT_EQ(HourCount(beforeChange, afterChange), 2);
    EXPECT_EQ(SecondCount(beforeChange, afterChange), 7200);
}

TEST_F(ClockTest, SecondCountCountsSecondBoundaries) {
    TimePoint start = Local(2024, 1, 31, 23, 59, 59);
    EXPECT_EQ(SecondCount(start + milliseconds(900), Local(2024, 2, 1, 0, 0, 0)), 1);
    EXPECT_EQ(SecondCount(start, start + milliseconds(999)), 0);
    EXPECT_EQ(SecondCount(start, Local(2024, 2, 1, 0, 1, 1)), 62);
    EXPECT_EQ(LocalHour(Local(2024, 7, 1, 18, 0, 0)), 18);
    EXPECT_EQ(LocalHour(Local(2024, 1, 1, 0, 0, 0)), 0);
}

TEST_F(ClockTest, AReplacedClockIsAdvancedBySleeping) {
    TimePoint fixed = Local(2024, 5, 1, 17, 59, 0);
    SetClockForTesting([fixed] { return fixed; });
    EXPECT_EQ(Now(), fixed);
    auto before = steady_clock::now();
    SleepMs(60 * 1000);
    EXPECT_LT(steady_clock::now() - before, seconds(5));
    EXPECT_EQ(Now(), fixed + minutes(1));
    EXPECT_EQ(LocalHour(Now()), 18);

    SetClockForTesting(nullptr);
    EXPECT_LT(abs(duration_cast<seconds>(Now() - system_clock::now()).count()), 5);
}

// The limit takes the time left to the second clock-hour boundary from the wall clock at the
// start, then counts elapsed time: the clocks going forward one hour (London, 30 March 2025,
// 01:00 -> 02:00) neither fires it one second after a start at 00:59:59 nor later.
TEST_F(ClockTest, TheHourLimitCountsElapsedTimeFromTheStartsPlaceInTheHour) {
    struct Case {
        TimePoint start;
        double elapsedSeconds;
        bool reached;
    } cases[] = {
        {Local(2024, 3, 5, 10, 59, 30), 3629.9, false},
        {Local(2024, 3, 5, 10, 59, 30), 3630.0, true},
        {Local(2024, 3, 5, 10, 0, 0), 7199.9, false},
        {Local(2024, 3, 5, 10, 0, 0), 7200.0, true},
        {Local(2025, 3, 30, 0, 59, 59), 1.0, false},
        {Local(2025, 3, 30, 0, 59, 59), 3600.9, false},
        {Local(2025, 3, 30, 0, 59, 59), 3601.0, true},
    };
    for (const Case& c : cases) {
        SteadyPoint steady{};
        SetClockForTesting([&] { return c.start; }, [&] { return steady; });
        const HourLimit limit;
        steady += duration_cast<SteadyPoint::duration>(duration<double>(c.elapsedSeconds));
        EXPECT_EQ(limit.reached(), c.reached) << c.elapsedSeconds << " s after a start at " << system_clock::to_time_t(c.start);
    }
}

}  // namespace
}  // namespace kvo
