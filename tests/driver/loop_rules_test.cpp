#include <gtest/gtest.h>

#include "driver/LoopRules.h"

namespace kvo::driver {
namespace {

TEST(LoopRules, TypeGroupsCompareTheUpperCaseTypeExactly) {
    EXPECT_EQ(GroupOfType("PDF"), TypeGroup::Pdf);
    for (const char* image : {"BMP", "JPG", "JPEG", "GIF", "PNG", "PCX", "TIF", "TIFF", "G3N"})
        EXPECT_EQ(GroupOfType(image), TypeGroup::Image) << image;
    for (const char* other : {"pdf", "tif", "DOC", "", "TIF "}) EXPECT_EQ(GroupOfType(other), TypeGroup::Other) << other;
}

TEST(LoopRules, EveryDotTypeIsReplacedWithoutRegardToCase) {
    EXPECT_EQ(ResultName("Scan.tif", "TIF"), "Scan.PDF");
    EXPECT_EQ(ResultName("a.tif.tif", "TIF"), "a.PDF.PDF");
    EXPECT_EQ(ResultName("Letter.Pdf", "PDF"), "Letter.PDF");
    EXPECT_EQ(ResultName("Scan", "TIF"), "Scan");
    // The queue stores TIFF as TIF and JPEG as JPG: the four-letter suffix goes whole.
    EXPECT_EQ(ResultName("Scan.tiff", "TIF"), "Scan.PDF");
    EXPECT_EQ(ResultName("a.TIF.Tiff", "TIF"), "a.PDF.PDF");
    EXPECT_EQ(ResultName("Photo.jpeg", "JPG"), "Photo.PDF");
    EXPECT_EQ(ResultName("Photo.jpeg", "JPEG"), "Photo.PDF");
    EXPECT_EQ(ResultName("x.gifs", "GIF"), "x.PDFs");
    EXPECT_EQ(ReplaceTypeSuffix("a.b", "", ".PDF"), "a.b");
}

TEST(LoopRules, DestinationsFollowTheGroup) {
    EXPECT_EQ(DestinationPath("/docs/Letter.pdf", "PDF", TypeGroup::Pdf), "/docs/Letter.PDF.PDF");
    EXPECT_EQ(DestinationPath("/docs/Scan.tif", "TIF", TypeGroup::Image), "/docs/Scan.PDF");
    EXPECT_EQ(DestinationPath("/docs/Photo.jpeg", "JPEG", TypeGroup::Image), "/docs/Photo.PDF");
    EXPECT_EQ(DestinationPath("/docs/Old.pdf/Letter.pdf", "PDF", TypeGroup::Pdf), "/docs/Old.PDF.PDF/Letter.PDF.PDF");
    // Without "." + type the destination is the attachment itself; the loop refuses that copy.
    EXPECT_EQ(DestinationPath("/docs/Scan.pdf", "TIF", TypeGroup::Image), "/docs/Scan.pdf");
}

TEST(LoopRules, RowTextAndReportLine) {
    EXPECT_EQ(StartOfRowText(1234, 7, "D:\\Docs\\O'Brien.tif"),
              "Pellmoor OCR utility.\r\n\r\n1234 files Found.\r\n\r\nProcessing file 7 of 1234:\r\nD:\\Docs\\O'Brien.tif");
    EXPECT_EQ(StartOfRowText(0, 1, ""), "Pellmoor OCR utility.\r\n\r\n0 files Found.\r\n\r\nProcessing file 1 of 0:\r\n");
    EXPECT_EQ(RowReportLine("12", "D:\\Docs\\Scan.tif", "status 2, not found", 3.46),
              "12 D:\\Docs\\Scan.tif: status 2, not found (3.5 s)");
    EXPECT_EQ(RowReportLine("7", "/x", "left pending, type 'DOC' is not converted", 0),
              "7 /x: left pending, type 'DOC' is not converted (0.0 s)");
    EXPECT_EQ(RowReportLine("9", "/d/a.tif", "status 2, converted to /d/a.PDF", 4.06, 3.94),
              "9 /d/a.tif: status 2, converted to /d/a.PDF (4.1 s, pipeline 3.9 s)");
}

}  // namespace
}  // namespace kvo::driver
