#include "ocrsave/LayoutRules.h"
#include "shared/xml/LayoutUnits.h"

#include <gtest/gtest.h>

namespace kvo::ocrsave {
namespace {

using handoff::PageScale;

TEST(PageScale, FitsTheImageIntoTheA4Box) {
    EXPECT_DOUBLE_EQ(PageScale(2480, 3507), 1.0);
    EXPECT_DOUBLE_EQ(PageScale(1240, 1754), 3507.0 / 1754);  // 1.99943 beats 2
    EXPECT_NEAR(PageScale(1240, 1754), 1.99943, 1e-5);
    EXPECT_DOUBLE_EQ(PageScale(4960, 3507), 0.5);
    EXPECT_DOUBLE_EQ(PageScale(2550, 3300), 2480.0 / 2550);
}

TEST(PageScale, IsOneWhenASizeIsUnknownOrZero) {
    EXPECT_DOUBLE_EQ(PageScale(std::nullopt, 3507), 1.0);
    EXPECT_DOUBLE_EQ(PageScale(1240, std::nullopt), 1.0);
    EXPECT_DOUBLE_EQ(PageScale(0, 1754), 1.0);
    EXPECT_DOUBLE_EQ(PageScale(1240, 0), 1.0);
}

TEST(EdgeText, ScalesAndRoundsEngineEdges) {
    EXPECT_EQ(EdgeText(101, 0.5), "50");
    EXPECT_EQ(EdgeText(103, 0.5), "52");
    EXPECT_EQ(EdgeText(100, 3507.0 / 1754), "200");   // 199.943
    EXPECT_EQ(EdgeText(1754, 3507.0 / 1754), "3507");
    EXPECT_EQ(EdgeText(0, 0.5), "0");
    EXPECT_EQ(EdgeText(-1, 0.5), "0") << "-0.5 goes to the even 0, written without a sign";
    EXPECT_EQ(EdgeText(-3, 1), "-3");
}

TEST(FontSizeText, WholeQuarterPointsAsTheShortestDecimal) {
    EXPECT_EQ(FontSizeText(10.1, 1), "10");      // 40.4 quarters -> 40
    EXPECT_EQ(FontSizeText(10.125, 1), "10");    // 40.5 -> 40, the even one
    EXPECT_EQ(FontSizeText(10.375, 1), "10.5");  // 41.5 -> 42
    EXPECT_EQ(FontSizeText(10.25, 1), "10.25");
    EXPECT_EQ(FontSizeText(10.8, 1), "10.75");
    EXPECT_EQ(FontSizeText(10, 0.5), "5");
    EXPECT_EQ(FontSizeText(9.12, 2480.0 / 2550), "8.75");  // 35.48 quarters
    EXPECT_EQ(FontSizeText(0, 1), "0");
}

TEST(FontClassNames, FollowTheTablesAndLeaveOtherCodesEmpty) {
    EXPECT_EQ(FaceStyleName(1), "normal");
    EXPECT_EQ(FaceStyleName(2), "italic");
    EXPECT_EQ(FaceStyleName(3), "bold");
    EXPECT_EQ(FaceStyleName(4), "bolditalic");
    EXPECT_EQ(FontFamilyName(1), "Helvetica");
    EXPECT_EQ(FontFamilyName(2), "Times");
    EXPECT_EQ(FontFamilyName(3), "Century");
    EXPECT_EQ(FontFamilyName(4), "TimesCentury");
    EXPECT_EQ(FontFamilyName(5), "HelveticaCentury");
    EXPECT_EQ(FontFamilyName(6), "Default");
    EXPECT_EQ(FontSerifName(1), "sans");
    EXPECT_EQ(FontSerifName(2), "thin");
    EXPECT_EQ(FontSerifName(3), "square");
    EXPECT_EQ(FontSerifName(4), "round");
    EXPECT_EQ(FontSerifName(5), "unknown");
    for (int outside : {0, -1, 7, 1000}) {
        EXPECT_EQ(FaceStyleName(outside == 7 ? 5 : outside), "");
        EXPECT_EQ(FontFamilyName(outside), "");
        EXPECT_EQ(FontSerifName(outside == 7 ? 6 : outside), "");
    }
}

}  // namespace
}  // namespace kvo::ocrsave
