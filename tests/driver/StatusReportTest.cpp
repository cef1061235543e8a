// The pure parts of the operator's status report.
#include <gtest/gtest.h>

#include "driver/StatusReport.h"

namespace kvo::test {
namespace {

TEST(StatusReport, TextIsEscapedForJsonAndTheRateGivesTheTimeToEmpty) {
    EXPECT_EQ(driver::JsonString("a\"b\\c\nd\x01"), "\"a\\\"b\\\\c\\u000ad\\u0001\"");
    EXPECT_EQ(driver::JsonString("Müller"), "\"Müller\"");
    // A path that is not UTF-8 (written in Latin-1, say) still gives valid JSON: each byte that is
    // not part of a well-formed sequence becomes U+FFFD.
    struct Bytes {
        std::string text, json;
    };
    const Bytes bytes[] = {
        {"M\xfcller.tif", "M\\ufffdller.tif"},          // Latin-1 ü
        {"a\xc3", "a\\ufffd"},                          // cut short
        {"\xc0\xaf", "\\ufffd\\ufffd"},                 // overlong "/"
        {"\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd"},      // a surrogate
        {"\xf4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // beyond U+10FFFF
        {"\xe2\x82\xac \xf0\x9f\x93\x84", "\xe2\x82\xac \xf0\x9f\x93\x84"},  // € and a page emoji stay
    };
    for (const Bytes& b : bytes) EXPECT_EQ(driver::JsonString(b.text), "\"" + b.json + "\"") << b.json;
    struct Case {
        long long pending, perHour;
        std::optional<double> hours;
    };
    for (const Case& c : {Case{0, 0, 0.0}, Case{10, 0, std::nullopt}, Case{10, 4, 2.5}})
        EXPECT_EQ(driver::HoursToEmpty(c.pending, c.perHour), c.hours) << c.pending << " " << c.perHour;
}

// A path or a reason with a line break in it stays on its own line of the report.
TEST(StatusReport, TheTextKeepsEachRowOnOneLine) {
    driver::StatusReport report;
    report.claimed.push_back({"h:1:0:b:1:2", "7", "/d/a\nb.tif", "2026-12-08 09:00:00"});
    report.failures.push_back({"8", "/d/c\r\n8 /d/forged.tif: no result file", "gone\n"});
    const std::string text = driver::StatusText(report);
    EXPECT_NE(text.find("  h:1:0:b:1:2 7 /d/a<0A>b.tif since 2026-12-08 09:00:00 UTC\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  8 /d/c<0D><0A>8 /d/forged.tif: no result file: gone<0A>\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace kvo::test
