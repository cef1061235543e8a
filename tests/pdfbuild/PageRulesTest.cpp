#include <gtest/gtest.h>

#include "pdfbuild/PageRules.h"
#include "shared/pdf/PageGeometry.h"

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

TEST(PageRules, A4SheetIsUprightOrTurned) {
    SheetSize sheet = SheetSizeOf(PaperSize::A4, Orientation::Portrait);
    EXPECT_EQ(sheet.height, 841.9);
    EXPECT_EQ(sheet.width, 595.3);
    SheetSize turned = SheetSizeOf(PaperSize::A4, Orientation::Landscape);
    EXPECT_EQ(turned.height, 595.3);
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

namespace kvo::pdfbuild {
namespace {

TEST(KeptPageRules, ShownCornersLandOnTheirCornersOfTheBoxUnderEveryRotation) {
    const pdf::Box box{-50, -60, 450, 340};  // 500 x 400, origin off zero
    struct Case {
        int rotate;
        double userX, userY;  // where the shown page's top-left corner lies
    } cases[] = {{0, -50, 340}, {90, -50, -60}, {180, 450, -60}, {270, 450, 340}, {-90, 450, 340}, {45, -50, 340}};
    for (const Case& c : cases) {
        const pdf::ShownSize shown = pdf::ShownSizeOf(box, c.rotate);
        const pdf::Matrix m = pdf::ShownToUserSpace(box, c.rotate);
        // The shown top-left corner is (0, shown height) in the drawing's own space.
        const double x = 0, y = shown.height;
        EXPECT_DOUBLE_EQ(m[0] * x + m[2] * y + m[4], c.userX) << c.rotate;
        EXPECT_DOUBLE_EQ(m[1] * x + m[3] * y + m[5], c.userY) << c.rotate;
        EXPECT_DOUBLE_EQ(shown.width * shown.height, 500.0 * 400);
    }
    // A picture drawn as its file asks: where its stored top-left and top-right corners land.
    struct Turn {
        int clockwise;
        bool mirrored;
        double topLeftX, topLeftY, topRightX, topRightY;
    } turns[] = {{0, false, 10, 220, 110, 220},  {0, true, 110, 220, 10, 220},  {90, false, 110, 220, 110, 20},
                 {180, false, 110, 20, 10, 20},   {270, false, 10, 20, 10, 220},  {90, true, 110, 20, 110, 220},
                 {270, true, 10, 220, 10, 20}};
    for (const Turn& t : turns) {
        const pdf::Matrix m = pdf::PictureMatrix({10, 20, 110, 220}, t.clockwise, t.mirrored);
        const auto at = [&](double u, double v) { return std::pair{m[0] * u + m[2] * v + m[4], m[1] * u + m[3] * v + m[5]}; };
        EXPECT_EQ(at(0, 1), std::pair(t.topLeftX, t.topLeftY)) << t.clockwise << " " << t.mirrored;
        EXPECT_EQ(at(1, 1), std::pair(t.topRightX, t.topRightY)) << t.clockwise << " " << t.mirrored;
    }
    // The rendering's proportions tell whether the media box or the visible crop box was drawn.
    const pdf::PageFrame frame{box, {0, 0, 400, 300}, 90};
    EXPECT_EQ(pdf::RenderedBoxOf(frame, 400, 500).x1, 450);  // media box, turned
    EXPECT_EQ(pdf::RenderedBoxOf(frame, 300, 400).x1, 400);  // crop box, turned
    EXPECT_EQ(pdf::VisibleBox({box, {300, 200, 900, 900}, 0}).x1, 450) << "cut to the media box";
    EXPECT_EQ(pdf::VisibleBox({box, {600, 600, 900, 900}, 0}).x0, -50) << "outside it: the media box";
}

TEST(KeptPageRules, FrameTagsNameTheirFrameAndTextComesAsCharacters) {
    EXPECT_EQ(FrameIndexOf("/tmp/Scan000012.bmp"), 12);
    EXPECT_EQ(FrameIndexOf("Scan000000.BMP"), 0);
    EXPECT_EQ(FrameIndexOf("/tmp/Scan12.bmp"), std::nullopt);
    EXPECT_EQ(FrameIndexOf("/tmp/Scan00a012.bmp"), std::nullopt);
    EXPECT_EQ(CodePointsOf("a\xC3\xA9\xE2\x82\xAC\xFF"), std::u32string(U"a\u00E9\u20AC\uFFFD"));
    EXPECT_EQ(Utf8Of(U'\u20AC') + Utf8Of(U'\U0001F600'), "\xE2\x82\xAC\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace kvo::pdfbuild
