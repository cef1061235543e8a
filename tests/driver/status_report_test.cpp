// The pure parts of the operator's status report.
#include <gtest/gtest.h>

#include "driver/StatusReport.h"

namespace kvo::test {
namespace {

TEST(StatusReport, TextIsEscapedForJsonAndTheRateGivesTheTimeToEmpty) {
    EXPECT_EQ(driver::JsonString("a\"b\\c\nd\x01"), "\"a\\\"b\\\\c\\u000ad\\u0001\"");
    EXPECT_EQ(driver::JsonString("Müller"), "\"Müller\"");
    struct Case {
        long long pending, perHour;
        std::optional<double> hours;
    };
    for (const Case& c : {Case{0, 0, 0.0}, Case{10, 0, std::nullopt}, Case{10, 4, 2.5}})
        EXPECT_EQ(driver::HoursToEmpty(c.pending, c.perHour), c.hours) << c.pending << " " << c.perHour;
}

}  // namespace
}  // namespace kvo::test
