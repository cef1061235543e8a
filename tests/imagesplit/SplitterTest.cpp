// KVOTiffSplitter run as a program, with the stand-in KVOOCR beside it in a private
// application folder and a private TEMP.
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "imagesplit/KVOTiffSplitterMod.h"
#include "imagesplit/TestImages.h"
#include "shared/ChildProcess.h"
#include "shared/ExitStatus.h"
#include "shared/platform/CommandLine.h"
#include "shared/xml/HandOff.h"
#include "shared/xml/XmlDocument.h"
#include "support/TestSupport.h"

namespace kvo {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

// A bilevel A4 page at 1 bit: headers, two colours, 3508 rows of 312 bytes.
constexpr std::uintmax_t kA4BitmapSize = 54 + 8 + 312 * 3508;
const char* const kLayout = "<page>recognised text</page>";

TEST(SplitterRules, SizeBounds) {
    EXPECT_TRUE(KVOTiffSplitterMod::IsRecognisable(251, 351));
    EXPECT_FALSE(KVOTiffSplitterMod::IsRecognisable(250, 2000));
    EXPECT_FALSE(KVOTiffSplitterMod::IsRecognisable(2000, 350));
    EXPECT_TRUE(KVOTiffSplitterMod::WantsTiffCopy(250, 351));
    EXPECT_FALSE(KVOTiffSplitterMod::WantsTiffCopy(249, 2000));
    EXPECT_FALSE(KVOTiffSplitterMod::WantsTiffCopy(2000, 350));
}

class Splitter : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(temp);
        fs::create_directories(docs);
        test::InstallProgram(test::BinDir() / "KVOTiffSplitter", app, "KVOTiffSplitter");
        test::InstallProgram(test::HelperDir() / "stand_in_ocr", app, "KVOOCR");
        WriteFile(layout, kLayout);
    }

    void WriteOrder(const fs::path& source, const std::optional<std::string>& processed = "0") {
        xml::Document order;
        xml::Node file = order.appendElement("File");
        file.setAttribute("name", source.string());
        if (processed) file.setAttribute("processed", *processed);
        order.save((temp / "KVOCurr.xml").string());
    }

    ChildEnd Run() { return RunChild({.arguments = {(app / "KVOTiffSplitter").string()}}, TimeLimit::Seconds(600)); }

    xml::Document Order() const {
        xml::Document order;
        order.load((temp / "KVOCurr.xml").string());
        return order;
    }

    std::optional<std::string> Processed() const { return Order().selectSingleNode("File").attribute("processed"); }

    std::vector<std::string> ImagePaths() const {
        std::vector<std::string> paths;
        for (const xml::Node& image : Order().selectNodes("File/image")) {
            EXPECT_EQ(image.attribute("processed"), "0");
            paths.push_back(image.attribute("path").value_or("?"));
        }
        return paths;
    }

    std::string Page(const std::string& name) const { return (temp / name).string(); }

    // The sizes of TEMP/KVOOCR.bmp, one per OCR run.
    std::vector<std::string> OcrRuns() const {
        std::vector<std::string> runs;
        std::istringstream lines(ReadFile(ocrLog));
        for (std::string line; std::getline(lines, line);) runs.push_back(line);
        return runs;
    }

    // Names of the folder's entries, hidden ones included.
    static std::vector<std::string> Entries(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::ScratchDir scratch{"kvo-tiffsplit"};
    fs::path app = scratch / "app folder";
    fs::path temp = scratch / "temp";
    fs::path docs = scratch / "docs.v2";
    fs::path layout = scratch / "layout.xml";
    fs::path ocrLog = scratch / "ocr.log";
    test::EnvVar tempVar{"TEMP", temp.string()};
    test::EnvVar layoutVar{"KVO_STANDIN_LAYOUT", layout.string()};
    test::EnvVar logVar{"KVO_STANDIN_OCR_LOG", ocrLog.string()};
};

TEST_F(Splitter, AThreePageFaxTiffGivesThreeRecognisedPagesInOrder) {
    const fs::path source = docs / "Scan.page.tif";
    image::WriteMultiPageTiff({test::BilevelPage(2480, 3508, 100), test::BilevelPage(2480, 3508, 200),
                               test::BilevelPage(2480, 3508, 300)},
                              source.string());
    WriteOrder(source);
    Run();

    EXPECT_EQ(Processed(), "1");
    const std::vector<std::string> pages = {Page("Scan.page000000.bmp"), Page("Scan.page000001.bmp"),
                                            Page("Scan.page000002.bmp")};
    EXPECT_EQ(ImagePaths(), pages);
    EXPECT_NE(ReadFile(temp / "KVOCurr.xml").find("<image path=\"" + pages[0] + "\" processed=\"0\""), std::string::npos);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const test::BmpFile bmp = test::ReadBmp(pages[i]);
        EXPECT_EQ(bmp.bytes.size(), kA4BitmapSize);
        EXPECT_EQ(bmp.xPelsPerMeter, 11811);
        // Each page carries its own band: black at its rows, white just above.
        const int band = 100 * (i + 1);
        EXPECT_EQ(bmp.Pixel(1000, band + 5)[0], 0);
        EXPECT_EQ(bmp.Pixel(1000, band - 5)[0], 255);
        EXPECT_EQ(ReadFile(pages[i] + ".xml"), kLayout);
    }
    EXPECT_EQ(OcrRuns(), std::vector<std::string>(3, std::to_string(kA4BitmapSize)));
    EXPECT_EQ(ReadFile(temp / "KVOOCR.bmp"), ReadFile(pages[2]));
    for (const std::string& name : Entries(temp)) EXPECT_NE(name[0], '.') << name;  // no half-written leftovers
}

TEST_F(Splitter, FramesAtTheSizeBoundAreListedButNotRecognised) {
    const fs::path source = docs / "bounds.tif";
    image::WriteMultiPageTiff({test::BilevelPage(250, 400, 0), test::BilevelPage(400, 350, 0),
                               test::BilevelPage(251, 351, 0)},
                              source.string());
    WriteOrder(source);
    Run();

    EXPECT_EQ(Processed(), "1");
    EXPECT_EQ(ImagePaths(), (std::vector<std::string>{Page("bounds000000.bmp"), Page("bounds000001.bmp"),
                                                       Page("bounds000002.bmp")}));
    EXPECT_EQ(test::ReadBmp(Page("bounds000000.bmp")).width, 250);
    EXPECT_EQ(test::ReadBmp(Page("bounds000001.bmp")).height, 350);
    EXPECT_FALSE(fs::exists(Page("bounds000000.bmp.xml")));
    EXPECT_FALSE(fs::exists(Page("bounds000001.bmp.xml")));
    EXPECT_TRUE(fs::exists(Page("bounds000002.bmp.xml")));
    EXPECT_EQ(OcrRuns(), std::vector<std::string>{std::to_string(54 + 8 + 32 * 351)});
}

TEST_F(Splitter, BmpJpegAndGifAttachmentsGiveOnePageEach) {
    image::Raster colour = test::BlankRaster(600, 800, 24);
    for (int y = 0; y < 800; ++y)
        for (int x = 0; x < 600; ++x) test::SetPixel(colour, x, y, x % 256, y % 256, 40);
    image::Raster grey = test::BlankRaster(600, 800, 8);
    for (int y = 300; y < 400; ++y)
        for (int x = 0; x < 600; ++x) test::SetPixel(grey, x, y, 0, 0, 0);
    image::WriteRasterFile(colour, (docs / "colour.bmp").string(), image::FileFormat::Bmp);
    image::WriteRasterFile(grey, (docs / "grey.JPG").string(), image::FileFormat::Jpeg);
    image::WriteRasterFile(test::BilevelPage(600, 800, 350), (docs / "fax.gif").string(), image::FileFormat::Gif);

    for (const char* name : {"colour.bmp", "grey.JPG", "fax.gif"}) {
        SCOPED_TRACE(name);
        WriteOrder(docs / name);
        Run();
        EXPECT_EQ(Processed(), "1");
        const std::string base = fs::path(name).stem().string();
        ASSERT_EQ(ImagePaths(), std::vector<std::string>{Page(base + "000000.bmp")});
        EXPECT_EQ(ReadFile(Page(base + "000000.bmp.xml")), kLayout);
    }
    const test::BmpFile bmp = test::ReadBmp(Page("colour000000.bmp"));
    EXPECT_EQ(bmp.Pixel(123, 45)[2], 123);  // red
    EXPECT_EQ(bmp.Pixel(123, 45)[1], 45);   // green
    EXPECT_EQ(bmp.Pixel(123, 45)[0], 40);   // blue
    // Grey and bilevel sources give equal channels.
    const test::BmpFile jpeg = test::ReadBmp(Page("grey000000.bmp"));
    const test::BmpFile gif = test::ReadBmp(Page("fax000000.bmp"));
    for (int y = 0; y < 800; y += 7)
        for (int x = 0; x < 600; x += 7) {
            for (const test::BmpFile* page : {&jpeg, &gif}) {
                const std::array<std::uint8_t, 3> p = page->Pixel(x, y);
                ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]) << x << "," << y;
            }
        }
    EXPECT_EQ(gif.Pixel(10, 360)[0], 0);
    EXPECT_EQ(gif.Pixel(10, 340)[0], 255);
    EXPECT_EQ(OcrRuns().size(), 3u);
}

TEST_F(Splitter, AFileNoLibraryCanReadEndsDoneWithoutPagesAndSaysSo) {
    for (const std::string content : {"this is no image at all", ""}) {
        SCOPED_TRACE(content.size());
        const fs::path source = docs / "broken.tif";
        WriteFile(source, content);
        WriteFile(temp / "broken000000.bmp", "stale page of another run");
        WriteOrder(source);
        EXPECT_TRUE(Run().exitedWith(kExitNoReadablePage));

        EXPECT_EQ(Processed(), "1");
        EXPECT_TRUE(ImagePaths().empty());
        EXPECT_FALSE(fs::exists(temp / "broken000000.bmp"));
        EXPECT_TRUE(OcrRuns().empty());
        // The failed copy leaves nothing beside the attachment.
        EXPECT_EQ(Entries(docs), std::vector<std::string>{"broken.tif"});
    }
}

// Neither a user's file named like a copy beside the attachment nor another row's copy left in
// the work folder is taken for this attachment's pages.
TEST_F(Splitter, NoCopyButTheRunsOwnIsSplit) {
    const fs::path source = docs / "fax.g3n";
    WriteFile(source, "unreadable fax");
    image::WriteMultiPageTiff({test::BilevelPage(600, 800, 20)}, (docs / "fax.g3n.TIFF").string());
    const std::string usersFile = ReadFile(docs / "fax.g3n.TIFF");
    image::WriteMultiPageTiff({test::BilevelPage(600, 800, 20)}, (temp / "KVOOCR.tif").string());
    WriteOrder(source);
    Run();

    EXPECT_EQ(Processed(), "1");
    EXPECT_TRUE(ImagePaths().empty());
    EXPECT_EQ(ReadFile(docs / "fax.g3n.TIFF"), usersFile);
    EXPECT_EQ(Entries(docs), (std::vector<std::string>{"fax.g3n", "fax.g3n.TIFF"}));
    EXPECT_FALSE(fs::exists(temp / "KVOOCR.tif"));
}

// The engine's copy goes into the work folder: a user's own file of the copy's old name beside
// the attachment stays as it was.
TEST_F(Splitter, PagesWithoutAnyOcrResultAreSplitAgainFromTheEngineCopyAndListedOnce) {
    fs::remove(layout);  // the OCR program leaves no layout document
    const fs::path source = docs / "nolayout.tif";
    image::WriteMultiPageTiff({test::BilevelPage(600, 800, 20), test::BilevelPage(700, 900, 40)}, source.string());
    WriteFile(docs / "nolayout.tif.TIFF", "a user's own file");
    WriteOrder(source);
    Run();

    EXPECT_EQ(Processed(), "1");
    const std::string first = Page("nolayout000000.bmp"), second = Page("nolayout000001.bmp");
    // The second pass's pages replace the first pass's: two pages, not four.
    EXPECT_EQ(ImagePaths(), (std::vector<std::string>{first, second}));
    EXPECT_EQ(OcrRuns().size(), 4u);
    EXPECT_EQ(test::ReadBmp(second).width, 700);
    EXPECT_FALSE(fs::exists(first + ".xml"));
    EXPECT_EQ(Entries(docs), (std::vector<std::string>{"nolayout.tif", "nolayout.tif.TIFF"}));
    EXPECT_EQ(ReadFile(docs / "nolayout.tif.TIFF"), "a user's own file");
    EXPECT_TRUE(fs::exists(temp / "KVOOCR.tif"));
}

TEST_F(Splitter, AnOrderAlreadyDoneOrWithoutMarkIsLeftAlone) {
    const fs::path source = docs / "done.tif";
    image::WriteMultiPageTiff({test::BilevelPage(600, 800, 20)}, source.string());
    WriteFile(temp / "done_old.bmp", "stale");
    for (const std::optional<std::string>& processed : {std::optional<std::string>("1"),
                                                        std::optional<std::string>(" 0"), std::optional<std::string>()}) {
        SCOPED_TRACE(processed.value_or("(none)"));
        WriteOrder(source, processed);
        const std::string before = ReadFile(temp / "KVOCurr.xml");
        Run();
        EXPECT_EQ(ReadFile(temp / "KVOCurr.xml"), before);
        EXPECT_EQ(Entries(temp), (std::vector<std::string>{"KVOCurr.xml", "done_old.bmp"}));
    }
    fs::remove(temp / "KVOCurr.xml");
    Run();
    EXPECT_EQ(Entries(temp), std::vector<std::string>{"done_old.bmp"});
    EXPECT_TRUE(OcrRuns().empty());
}

TEST_F(Splitter, StalePagesAreRemovedByTheLiteralBaseNameAndAPageLabel) {
    // A name without a dot, with a wildcard character and an apostrophe, in a folder with dots.
    const fs::path source = docs / "it's a*b";
    image::WriteMultiPageTiff({test::BilevelPage(600, 800, 20)}, source.string());
    for (const char* stale : {"it's a*bold.bmp", "IT'S A*B9.BMP", "it's a*b.bmp.xml", "it's axb1.bmp", "other.bmp"})
        WriteFile(temp / stale, "stale");
    WriteOrder(source);
    Run();

    EXPECT_EQ(ImagePaths(), std::vector<std::string>{Page("it's a*b000000.bmp")});
    // "it's a*bold.bmp" only shares the prefix: it is no page of this attachment.
    EXPECT_EQ(Entries(temp), (std::vector<std::string>{"KVOCurr.xml", "KVOOCR.bmp", "KVOOCR.mdi.xml", "KVORoom.txt",
                                                       "it's a*b.bmp.xml", "it's a*b000000.bmp", "it's a*b000000.bmp.xml",
                                                       "it's a*bold.bmp", "it's axb1.bmp", "other.bmp"}));
}

TEST_F(Splitter, AnAttachmentInTempUnderTheBaseNameIsNotTakenForAStaleBitmap) {
    const fs::path source = temp / "Scan.bmp";
    image::WriteRasterFile(test::BilevelPage(600, 800, 20), source.string(), image::FileFormat::Bmp);
    const std::string attachment = ReadFile(source);
    WriteFile(temp / "Scan000007.bmp", "stale page of an earlier run");
    WriteFile(temp / "Scan-2019.bmp", "another attachment sharing the prefix");
    WriteOrder(source);
    Run();

    EXPECT_TRUE(fs::exists(source) && ReadFile(source) == attachment);  // the input is kept, unchanged
    EXPECT_FALSE(fs::exists(temp / "Scan000007.bmp"));
    EXPECT_EQ(ReadFile(temp / "Scan-2019.bmp"), "another attachment sharing the prefix");
    EXPECT_EQ(Processed(), "1");
    EXPECT_EQ(ImagePaths(), std::vector<std::string>{Page("Scan000000.bmp")});
    EXPECT_EQ(ReadFile(Page("Scan000000.bmp.xml")), kLayout);
}

// A 249-byte name: the page files' names keep its first bytes and a digest, within 255 bytes.
TEST_F(Splitter, ANameNearTheFileSystemLimitStillGivesItsPages) {
    std::string base;
    while (base.size() < 243) base += "Ä";
    base += "n";
    const fs::path source = docs / (base + ".tif");
    ASSERT_EQ(source.filename().string().size(), 249u);
    image::WriteMultiPageTiff({test::BilevelPage(600, 800, 20), test::BilevelPage(600, 800, 40)}, source.string());
    WriteOrder(source);
    Run();

    const std::string workBase = handoff::BaseName(source.string());
    EXPECT_EQ(ImagePaths(), (std::vector<std::string>{Page(workBase + "000000.bmp"), Page(workBase + "000001.bmp")}));
    EXPECT_EQ(ReadFile(Page(workBase + "000001.bmp.xml")), kLayout);
    for (const std::string& name : Entries(temp)) EXPECT_LE(name.size(), 255u) << name;
}

TEST_F(Splitter, APageThatCannotBeWrittenEndsTheRunWithoutAPageList) {
    const fs::path source = docs / "stop.tif";
    image::WriteMultiPageTiff({test::BilevelPage(600, 800, 20), test::BilevelPage(600, 800, 40)}, source.string());
    fs::create_directory(temp / "stop000001.bmp");  // no file can take this name
    WriteOrder(source);
    const std::string before = ReadFile(temp / "KVOCurr.xml");
    Run();

    EXPECT_EQ(ReadFile(temp / "KVOCurr.xml"), before);
    EXPECT_TRUE(fs::exists(temp / "stop000000.bmp.xml"));
    EXPECT_EQ(OcrRuns().size(), 1u);
    EXPECT_FALSE(fs::exists(temp / "KVOOCR.tif"));  // no fallback
    for (const std::string& name : Entries(temp)) EXPECT_NE(name[0], '.') << name;
}

}  // namespace
}  // namespace kvo
