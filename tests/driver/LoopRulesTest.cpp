#include <gtest/gtest.h>

#include "driver/LoopRules.h"

namespace kvo::driver {
namespace {

TEST(LoopRules, APathWithAParentComponentIsRefused) {
    for (const char* path : {"..", "D:\\Docs\\..\\Windows\\x.pdf", "/docs/../etc/x.tif", "../x.pdf", "/docs/.."})
        EXPECT_TRUE(ClimbsOutOfItsFolder(path)) << path;
    for (const char* path : {"D:\\Docs\\x..pdf", "/docs/...tif", "/docs/..x/y.pdf", "/docs/x.pdf", ""})
        EXPECT_FALSE(ClimbsOutOfItsFolder(path)) << path;
}

TEST(LoopRules, RowTextAndReportLine) {
    EXPECT_EQ(StartOfRowText(1234, 7, "D:\\Docs\\O'Brien.tif"),
              "Pellmoor OCR utility.\r\n\r\n1234 files Found.\r\n\r\nProcessing file 7 of 1234:\r\nD:\\Docs\\O'Brien.tif");
    EXPECT_EQ(StartOfRowText(0, 1, ""), "Pellmoor OCR utility.\r\n\r\n0 files Found.\r\n\r\nProcessing file 1 of 0:\r\n");
    EXPECT_EQ(RowReportLine("12", "D:\\Docs\\Scan.tif", "status 2, not found", 3.46),
              "12 D:\\Docs\\Scan.tif: status 2, not found (3.5 s)");
    EXPECT_EQ(RowReportLine("7", "/x", "status 5, the type 'DOC' is not converted", 0),
              "7 /x: status 5, the type 'DOC' is not converted (0.0 s)");
    // A host path with a line break cannot forge a line of its own.
    EXPECT_EQ(RowReportLine("1", "/d/x\n1 /d/y: status 2, converted to FORGED.tif", "status 2, not found\x1b[2K", 1),
              "1 /d/x<0A>1 /d/y: status 2, converted to FORGED.tif: status 2, not found<1B>[2K (1.0 s)");
    EXPECT_EQ(StartOfRowText(1, 1, "/d/a\r\nb\x7f"),
              "Pellmoor OCR utility.\r\n\r\n1 files Found.\r\n\r\nProcessing file 1 of 1:\r\n/d/a<0D><0A>b<7F>");
    EXPECT_EQ(RowReportLine("9", "/d/a.tif", "status 2, converted to /d/a.PDF", 4.06, 3.94),
              "9 /d/a.tif: status 2, converted to /d/a.PDF (4.1 s, pipeline 3.9 s)");
}

}  // namespace
}  // namespace kvo::driver
