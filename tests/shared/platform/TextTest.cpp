// The shared text rules: one case-blind comparison, trimming, and UTF-8 cuts.
#include <gtest/gtest.h>

#include <string>

#include "shared/platform/Text.h"

namespace kvo {
namespace {

TEST(Text, OneComparisonIgnoresCaseBeyondAsciiAndMatchesForeignBytesOnlyThemselves) {
    const struct {
        const char* a;
        const char* b;
        bool equal;
    } cases[] = {
        {"Müller.TIF", "MÜLLER.tif", true}, {"sqlite", "SQLite", true}, {"FreeTDS", "freetds", true},
        {"a\xff", "A\xff", true},           {"a\xff", "A\xfe", false},  {"Scan", "Scan ", false},
        {"", "", true},
    };
    for (const auto& c : cases) EXPECT_EQ(EqualsIgnoringCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
}

TEST(Text, FindIgnoringCaseGivesTheBytePositionFromWhereItLooks) {
    EXPECT_EQ(FindIgnoringCase("Filename: Brief.PdF and more", ".pdf"), 15u);
    EXPECT_EQ(FindIgnoringCase("Zoë.pdf x.PDF", ".pdf", 8), 10u);
    EXPECT_EQ(FindIgnoringCase("ÄKTE", "äkte"), 0u);
    EXPECT_EQ(FindIgnoringCase("no match", ".pdf"), std::string::npos);
}

TEST(Text, TrimsBlanksAndTabsAtBothEndsOnly) {
    EXPECT_EQ(Trim(" \t key = value\t "), "key = value");
    EXPECT_EQ(Trim(" \t "), "");
    EXPECT_EQ(Trim("\r\n"), "\r\n");
}

TEST(Text, CutsAndCountsWholeUtf8Characters) {
    EXPECT_EQ(WholeCharactersWithin("abé", 3), "ab");  // é takes two bytes
    EXPECT_EQ(WholeCharactersWithin("abé", 4), "abé");
    EXPECT_EQ(WholeCharactersWithin("€", 2), "");
    EXPECT_EQ(CharacterCount("Zoë €"), 5u);
    EXPECT_EQ(CharacterCount(""), 0u);
}

}  // namespace
}  // namespace kvo
