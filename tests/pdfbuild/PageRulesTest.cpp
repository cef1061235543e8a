#include <gtest/gtest.h>

#include "pdfbuild/PageRules.h"

namespace kvo::pdfbuild {
namespace {

TEST(PageRules, ReadsAttributeNumbersInTheCLocaleAndUnreadableOnesAsZero) {
    EXPECT_EQ(ReadNumber("10.25"), 10.25);
    EXPECT_EQ(ReadNumber(" -3"), -3);
    EXPECT_EQ(ReadNumber("+7"), 7);
    EXPECT_EQ(ReadNumber("12pt"), 12);
    EXPECT_EQ(ReadNumber("10,5"), 10);
    EXPECT_EQ(ReadNumber(""), 0);
    EXPECT_EQ(ReadNumber("abc"), 0);
    EXPECT_EQ(ReadNumber("nan"), 0);
    EXPECT_EQ(ReadNumber("-inf"), 0);
    EXPECT_EQ(ReadNumber("1e999"), 0);
}

TEST(PageRules, A4SheetGivesSeventyTwoPointsPerInch) {
    SheetSize sheet = SheetSizeOf(PaperSize::A4, Orientation::Portrait);
    EXPECT_EQ(sheet.height, 841.9);
    EXPECT_EQ(sheet.width, 595.3);
    EXPECT_EQ(PointsPerInch(sheet.height), 72);
    SheetSize turned = SheetSizeOf(PaperSize::A4, Orientation::Landscape);
    EXPECT_EQ(turned.height, 595.3);
    EXPECT_EQ(PointsPerInch(turned.height), 51);
}

TEST(PageRules, LineFramesAreRoundedFromLayoutUnitsAndBoxesAreTenPercentLarger) {
    LineFrame frame = LineFrameOf({1000, 150, 1040, 1150, 10}, 72);
    EXPECT_EQ(frame.top, 240);
    EXPECT_EQ(frame.left, 36);
    EXPECT_EQ(frame.height, 10);  // round(249.6 - 240)
    EXPECT_EQ(frame.width, 240);  // round(276 - 36)
    BoxFrame box = TextBoxFrameOf(frame);
    EXPECT_EQ(box.left, 36);
    EXPECT_EQ(box.top, 240);
    EXPECT_DOUBLE_EQ(box.height, 11);
    EXPECT_DOUBLE_EQ(box.width, 264);
}

TEST(PageRules, BoxFontSizeIsTheRoundedLineSizeTimesNineTenths) {
    EXPECT_EQ(LineSizeOf(10.5), 10);
    EXPECT_DOUBLE_EQ(BoxFontSizeOf(10.5), 9);
    EXPECT_EQ(LineSizeOf(11.5), 12);
    EXPECT_DOUBLE_EQ(BoxFontSizeOf(11.5), 10.8);
    EXPECT_DOUBLE_EQ(BoxFontSizeOf(10.25), 9);
}

TEST(PageRules, FontTableFollowsTheCurrentSizeUnrounded) {
    EXPECT_EQ(FontFor("Helvetica", 9).name, "Arial");
    EXPECT_EQ(FontFor("Times", 9).name, "Times New Roman");
    EXPECT_EQ(FontFor("Times", 9).size, 9);
    FontChoice small = FontFor("Century", 10.8);
    EXPECT_EQ(small.name, "Lucida Console");
    EXPECT_DOUBLE_EQ(small.size, 14.04);
    FontChoice large = FontFor("TimesCentury", 27);
    EXPECT_EQ(large.name, "Century");
    EXPECT_DOUBLE_EQ(large.size, 24.3);
    EXPECT_EQ(FontFor("HelveticaCentury", 19.99).name, "Lucida Console");
    EXPECT_EQ(FontFor("HelveticaCentury", 20).name, "Century");
    EXPECT_DOUBLE_EQ(FontFor("Century", 100).size, 100);
    EXPECT_DOUBLE_EQ(FontFor("Century", 99.9).size, 99.9 * 0.9);
    for (const char* other : {"Default", "", "helvetica", "Courier"}) {
        EXPECT_EQ(FontFor(other, 9).name, "Arial") << other;
        EXPECT_EQ(FontFor(other, 9).size, 9) << other;
    }
}

TEST(PageRules, FaceStylesSetBoldAndItalicOnlyForKnownNames) {
    EXPECT_EQ(FaceStyleFor("normal").bold, false);
    EXPECT_EQ(FaceStyleFor("normal").italic, false);
    EXPECT_EQ(FaceStyleFor("bold").bold, true);
    EXPECT_EQ(FaceStyleFor("bold").italic, false);
    EXPECT_EQ(FaceStyleFor("italic").italic, true);
    EXPECT_EQ(FaceStyleFor("bolditalic").bold, true);
    EXPECT_EQ(FaceStyleFor("bolditalic").italic, true);
    for (const char* other : {"", "Bold", "oblique"}) {
        EXPECT_FALSE(FaceStyleFor(other).bold.has_value()) << other;
        EXPECT_FALSE(FaceStyleFor(other).italic.has_value()) << other;
    }
}

TEST(PageRules, PicturesFitTheSheetKeepingTheirProportions) {
    SheetSize a4{841.9, 595.3};
    // A full A4 scan at 300 dpi (2480 x 3508 pixels) fills the sheet's width.
    PictureSize whole = FitPicture(a4, {595.2, 841.92});
    EXPECT_NEAR(whole.height, 841.9, 0.1);
    // Narrower than A4 in proportion: fitted to the sheet height.
    PictureSize narrow = FitPicture(a4, {400, 800});
    EXPECT_DOUBLE_EQ(narrow.height, 841.9);
    EXPECT_DOUBLE_EQ(narrow.width, 420.95);
    // Landscape: fitted to the width, the lower part of the sheet stays empty.
    PictureSize wide = FitPicture(a4, {800, 600});
    EXPECT_DOUBLE_EQ(wide.width, 595.3);
    EXPECT_DOUBLE_EQ(wide.height, 595.3 * 0.75);
    // Equal proportions take the height branch.
    PictureSize same = FitPicture(a4, {595.3 / 2, 841.9 / 2});
    EXPECT_DOUBLE_EQ(same.height, 841.9);
}

TEST(PageRules, NarrowsOnlyLinesWiderThanTheirBoxAndAtMostByHalf) {
    EXPECT_EQ(NarrowingOf(90, 100), 1);
    EXPECT_DOUBLE_EQ(NarrowingOf(125, 100), 0.8);
    EXPECT_EQ(NarrowingOf(1000, 100), kLeastNarrowing);
    EXPECT_EQ(NarrowingOf(50, 0), 1);
}

TEST(PageRules, MajorVersionIsTheTextBeforeTheFirstPoint) {
    EXPECT_EQ(MajorVersion("11.0"), 11);
    EXPECT_EQ(MajorVersion("12.0"), 12);
    EXPECT_EQ(MajorVersion("14.0.4762"), 14);
    EXPECT_EQ(MajorVersion("15"), 15);
    EXPECT_EQ(MajorVersion(""), 0);
    EXPECT_LT(MajorVersion("11.0"), kDirectExportVersion);
    EXPECT_GE(MajorVersion("12.0"), kDirectExportVersion);
}

}  // namespace
}  // namespace kvo::pdfbuild
