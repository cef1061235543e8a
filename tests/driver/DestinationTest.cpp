// Where a searchable PDF goes, and when it may not go there.
#include <gtest/gtest.h>

#include <climits>

#include "driver/Destination.h"

namespace kvo::driver {
namespace {

// Only the file name's final extension is touched: images get ".PDF" in its place, PDFs
// ".PDF.PDF"; a name without one gets the suffix appended; folders are never changed.
TEST(Destination, ReplacesOnlyTheFinalExtensionOfTheHostsPath) {
    const struct {
        const char* attachment;
        TypeGroup group;
        const char* destination;
    } cases[] = {
        {"/docs/Letter.pdf", TypeGroup::Pdf, "/docs/Letter.PDF.PDF"},
        {"/docs/Scan.tif", TypeGroup::Image, "/docs/Scan.PDF"},
        {"/docs/Scan.tiff", TypeGroup::Image, "/docs/Scan.PDF"},
        {"/docs/x.jpg", TypeGroup::Image, "/docs/x.PDF"},
        {"/docs/a.tif.tif", TypeGroup::Image, "/docs/a.tif.PDF"},
        {"/docs/Letter.pdf.tif", TypeGroup::Image, "/docs/Letter.pdf.PDF"},
        {"D:\\Old.pdf\\Letter.pdf", TypeGroup::Pdf, "D:\\Old.pdf\\Letter.PDF.PDF"},
        {"D:\\Old.pdf\\Letter", TypeGroup::Pdf, "D:\\Old.pdf\\Letter.PDF.PDF"},
        {"/docs/Old.tif/Scan", TypeGroup::Image, "/docs/Old.tif/Scan.PDF"},
        {"/docs/Scan.", TypeGroup::Image, "/docs/Scan.PDF"},
        {"/docs/.tif", TypeGroup::Image, "/docs/.tif.PDF"},
        {"Scan.Tif", TypeGroup::Image, "Scan.PDF"},
        {"/docs/Typed.pdf", TypeGroup::Image, "/docs/Typed.PDF"},  // the attachment itself: the copy refuses it
    };
    for (const auto& c : cases) EXPECT_EQ(DestinationPath(c.attachment, c.group), c.destination) << c.attachment;
}

// The host keeps its own spelling; the copy goes beside the attachment as it really lies.
TEST(Destination, TheHostGetsItsOwnSpellingAndTheCopyLiesBesideTheAttachmentFound) {
    const PathMapEntries shares{{"D:\\Docs", "/mnt/docs"}};
    const Destination mapped = DestinationOf("d:\\docs\\Akte\\scan.tif", "/mnt/docs/AKTE/Scan.TIF", TypeGroup::Image, shares);
    EXPECT_EQ(mapped.host, "d:\\docs\\Akte\\scan.PDF");
    EXPECT_EQ(mapped.local, "/mnt/docs/AKTE/scan.PDF");
    const Destination local = DestinationOf("/docs/Letter.pdf", "/docs/letter.PDF", TypeGroup::Pdf, {});
    EXPECT_EQ(local.host, "/docs/Letter.PDF.PDF");
    EXPECT_EQ(local.local, "/docs/Letter.PDF.PDF");
}

// The queue could never record a destination wider than FilePath, nor the file system make one
// whose name is too long.
TEST(Destination, OneTheQueueOrTheFileSystemCannotTakeIsRefused) {
    EXPECT_TRUE(FitsFilePath(std::string(255, 'a')));
    EXPECT_FALSE(FitsFilePath(std::string(256, 'a')));
    std::string accented;
    for (int i = 0; i < 255; ++i) accented += "é";  // two bytes each, one character
    EXPECT_TRUE(FitsFilePath(accented));
    EXPECT_FALSE(FitsFilePath(accented + "x"));

    EXPECT_EQ(DestinationProblem({"/d/a.PDF", "/d/a.PDF"}), "");
    EXPECT_EQ(DestinationProblem({"/d/" + std::string(260, 'a'), "/d/a.PDF"}),
              "the destination /d/" + std::string(260, 'a') + " does not fit FilePath");
    const std::string longName(NAME_MAX - 3, 'x');
    EXPECT_EQ(DestinationProblem({"/d/x.PDF", "/d/" + longName + ".PDF"}),
              "the destination's name is longer than the file system's " + std::to_string(NAME_MAX) + " bytes");
}

}  // namespace
}  // namespace kvo::driver
