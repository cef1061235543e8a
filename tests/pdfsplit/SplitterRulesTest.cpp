// The PDF splitter's pure rules: the Ghostscript command line, the size test, the page order,
// what makes a rendering whole.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
