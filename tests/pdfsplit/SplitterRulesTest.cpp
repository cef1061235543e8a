// The PDF splitter's pure rules: the Ghostscript command line, the size test, the page order,
// what makes a rendering whole.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "pdfsplit/KVOPDFSplitterMod.h"
#include "shared/platform/CommandLine.h"

namespace kvo::KVOPDFSplitterMod {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(GhostscriptCommandLine, RendersEveryPageAt300DpiInGrey) {
    EXPECT_THAT(SplitCommandLine(GhostscriptCommandLine("/usr/bin", "/tmp/work", "Scan", "/docs/Scan.pdf")),
                ElementsAre("/usr/bin/gs", "-dNOPAUSE", "-dBATCH", "-sDEVICE=bmpgray", "-sOutputFile=/tmp/work/Scan%d.bmp",
                            "-r300", "/docs/Scan.pdf"));
}

TEST(GhostscriptCommandLine, ChosenPagesAndOnePageAtItsOwnResolution) {
    EXPECT_THAT(SplitCommandLine(GhostscriptCommandLine("/usr/bin", "/t", "Scan", "/d/Scan.pdf", "1-3,5")),
                ElementsAre("/usr/bin/gs", "-dNOPAUSE", "-dBATCH", "-sDEVICE=bmpgray", "-sOutputFile=/t/Scan%d.bmp",
                            "-r300", "-sPageList=1-3,5", "/d/Scan.pdf"));
    EXPECT_THAT(SplitCommandLine(OnePageCommandLine("/usr/bin", "/t", "50%", "/d/50%.pdf", 12, 17)),
                ElementsAre("/usr/bin/gs", "-dNOPAUSE", "-dBATCH", "-sDEVICE=bmpgray", "-sOutputFile=/t/50%%12.bmp",
                            "-r17", "-dFirstPage=12", "-dLastPage=12", "/d/50%.pdf"));
    EXPECT_EQ(PageListOf({1, 2, 3, 5, 7, 8, 10}), "1-3,5,7-8,10");
    EXPECT_EQ(PageListOf({4}), "4");
}

TEST(RenderResolution, ThreeHundredDpiUnlessThePageWouldExceedFortyMegapixels) {
    struct Case {
        double width, height;
        int dpi;
    } cases[] = {
        {8.27, 11.69, 300},   // A4
        {0, 0, 300},          // size unknown
        {20, 20, 300},        // 36 MP
        {22, 22, 287},        // 6600 x 6600 would be 43.6 MP
        {250, 500, 17},       // a poster: 4250 x 8500
        {20000, 20000, 0},    // not even 1 dpi fits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const int dpi = RenderResolution(c.width, c.height);
        EXPECT_EQ(dpi, c.dpi);
        if (dpi > 0) {
            EXPECT_LE(std::ceil(c.width * dpi) * std::ceil(c.height * dpi), kMostPixelsPerPage);
        }
    }
    // Rows padded to four bytes, after the headers and the 256 grey levels.
    EXPECT_EQ(GreyBitmapBytes(8.5, 11, 300), 1078u + 2552u * 3300u);
    EXPECT_EQ(GreyBitmapBytes(250, 500, 17), 1078u + 4252u * 8500u);
}

TEST(GhostscriptCommandLine, AwkwardNamesStaySingleIntactArguments) {
    const std::string folder = "/opt/Ghost Script \"10\"";
    const std::string temp = "/tmp/it's a \"work\" folder\\";
    const std::string base = "-Brief 50%d an Müller's \"Büro\"";
    const std::string pdf = "/my docs/" + base + ".pdf";
    EXPECT_THAT(SplitCommandLine(GhostscriptCommandLine(folder, temp, base, pdf)),
                ElementsAre(folder + "/gs", "-dNOPAUSE", "-dBATCH", "-sDEVICE=bmpgray",
                            "-sOutputFile=/tmp/it's a \"work\" folder\\/-Brief 50%%d an Müller's \"Büro\"%d.bmp",
                            "-r300", pdf));
}

TEST(GhostscriptCommandLine, ARelativeNameIsNeverTakenForASwitchOrADevice) {
    const std::vector<std::string> dash = SplitCommandLine(GhostscriptCommandLine("/usr/bin", "/t", "-dSAFER", "-dSAFER.pdf"));
    EXPECT_EQ(dash.back(), "./-dSAFER.pdf");
    const std::vector<std::string> device = SplitCommandLine(GhostscriptCommandLine("/usr/bin", "/t", "x", "%pipe%x.pdf"));
    EXPECT_EQ(device.back(), "./%pipe%x.pdf");
}

TEST(EscapePercent, DoublesEveryPercentSign) {
    EXPECT_EQ(EscapePercent(""), "");
    EXPECT_EQ(EscapePercent("plain"), "plain");
    EXPECT_EQ(EscapePercent("%d%%x%"), "%%d%%%%x%%");
}

TEST(RenderedPageNumbers, OnlyGhostscriptsNamesCountInNumericOrder) {
    EXPECT_THAT(RenderedPageNumbers({"Scan10.bmp", "Scan2.bmp", "Scan1.bmp", "SCAN3.BMP", "Scan12.bmp", "Scan11.bmp"}, "Scan"),
                ElementsAre(1, 2, 3, 10, 11, 12));
    // Another attachment's pages, layout copies, leading zeros, no number, an impossible number.
    EXPECT_THAT(RenderedPageNumbers({"Scanner1.bmp", "Scan1.bmp.xml", "Scan01.bmp", "Scan.bmp", "Scan1x.bmp",
                                     "Scan-1.bmp", "Scan99999999999.bmp", "Sca1.bmp", "x.bmp"},
                                    "Scan"),
                IsEmpty());
    EXPECT_THAT(RenderedPageNumbers({"a*b7.bmp", "50%d1.bmp"}, "a*b"), ElementsAre(7));
}

TEST(WholeRendering, EveryPageOfTheDocumentAndEachFileAsLongAsItsHeaderSays) {
    EXPECT_TRUE(RenderedEveryPage({1, 2, 3}, 3));
    EXPECT_TRUE(RenderedEveryPage({}, 0));
    EXPECT_FALSE(RenderedEveryPage({1, 2}, 3));
    EXPECT_FALSE(RenderedEveryPage({1, 3, 4}, 3));
    EXPECT_FALSE(RenderedEveryPage({2, 3}, 2));
    EXPECT_FALSE(RenderedEveryPage({1, 2, 3, 4}, 3));

    const std::string header("BM\x36\x04\x01\x00", 6);  // 66614 bytes
    EXPECT_TRUE(IsWholeBitmap(header, 66614));
    EXPECT_FALSE(IsWholeBitmap(header, 33307));
    EXPECT_FALSE(IsWholeBitmap(header, 66615));
    EXPECT_FALSE(IsWholeBitmap(header.substr(0, 5), 66614));
    EXPECT_FALSE(IsWholeBitmap("", 0));
    EXPECT_FALSE(IsWholeBitmap(std::string("PK\x36\x04\x01\x00", 6), 66614));
}

}  // namespace
}  // namespace kvo::KVOPDFSplitterMod
