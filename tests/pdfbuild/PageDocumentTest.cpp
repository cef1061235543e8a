#include <gtest/gtest.h>

#include "pdfbuild/DocumentFile.h"
#include "pdfbuild/KvoEngine.h"
#include "pdfbuild/PageBuilder.h"
#include "pdfbuild/PdfBuildFixtures.h"
#include "shared/image/RasterImage.h"

namespace kvo::pdfbuild {
namespace {

using test::LayoutLine;

class PageDocumentTest : public ::testing::Test {
protected:
    // Builds the page document of a bitmap (and its layout, when lines are given) and reads it
    // back from its file.
    PageDocument Build(const std::string& name, const std::vector<LayoutLine>* lines) {
        std::string bitmap = (dir / name).string();
        if (!std::filesystem::exists(bitmap)) test::WriteBilevelPage(bitmap, 248, 351);
        if (lines) test::WriteLayout(bitmap + ".xml", *lines);
        BuildPageDocument(engine, bitmap, bitmap + ".xml", bitmap + ".doc");
        return engine.openPageDocument(bitmap + ".doc");
    }

    test::ScratchDir dir{"kvo-pagedoc"};
    KvoEngine engine;
};

TEST_F(PageDocumentTest, EachWordGetsATextBoxInPointsWhereItIsPrinted) {
    // The first line printed 3 degrees askew, as on a skewed scan; long enough that levelling
    // it would move its words too far.
    std::vector<LayoutLine> lines = {
        {300, 150, 340, 1750, "first line", "10.5", "Century", "bold", 3.0},
        {1000, 150, 1040, 1150, "second line"},
    };
    PageDocument page = Build("Geo000000.bmp", &lines);
    ASSERT_EQ(page.textBoxes.size(), 4u);
    // A4 at 300 layout units an inch: 0.24 points a unit, whatever the line's font.
    const TextBoxShape& first = page.textBoxes[0];
    EXPECT_EQ(first.text, "first ");
    EXPECT_NEAR(first.left, 36, 0.3);
    EXPECT_GT(page.textBoxes[1].top, first.top + 2) << "the line's second word lies lower, as printed";
    EXPECT_NEAR(first.height, 9.6, 0.05);
    const TextBoxShape& second = page.textBoxes[2];
    EXPECT_EQ(second.text, "second ");
    EXPECT_NEAR(second.left, 36, 0.05);
    EXPECT_NEAR(second.top, 240, 0.1);
    EXPECT_NEAR(second.height, 9.6, 0.05);
    EXPECT_EQ(page.textBoxes[3].text, "line");
    for (const TextBoxShape& box : page.textBoxes) {
        EXPECT_FALSE(box.fillVisible);
        EXPECT_FALSE(box.lineVisible);
        EXPECT_EQ(box.font.name, "Arial");
    }
    EXPECT_EQ(page.setup.paper, PaperSize::A4);
    EXPECT_EQ(page.setup.orientation, Orientation::Portrait);
    EXPECT_EQ(page.setup.topMargin + page.setup.bottomMargin + page.setup.leftMargin + page.setup.rightMargin, 0);
}

TEST_F(PageDocumentTest, PicturesSitAtTheTopLeftFittedToTheSheet) {
    // 600 x 1000 pixels at 300 dpi: narrower than A4 in proportion, so fitted to the height.
    test::WriteBilevelPage(dir / "Tall000000.bmp", 600, 1000);
    PageDocument tall = Build("Tall000000.bmp", nullptr);
    ASSERT_TRUE(tall.picture);
    EXPECT_EQ(tall.picture->left, 0);
    EXPECT_EQ(tall.picture->top, 0);
    EXPECT_DOUBLE_EQ(tall.picture->height, 841.9);
    EXPECT_NEAR(tall.picture->width, 841.9 * 0.6, 1e-9);
    EXPECT_TRUE(tall.textBoxes.empty());

    // A landscape scan is fitted to the width.
    test::WriteBilevelPage(dir / "Wide000000.bmp", 1000, 600);
    PageDocument wide = Build("Wide000000.bmp", nullptr);
    ASSERT_TRUE(wide.picture);
    EXPECT_DOUBLE_EQ(wide.picture->width, 595.3);
    EXPECT_NEAR(wide.picture->height, 595.3 * 0.6, 1e-9);
}

TEST_F(PageDocumentTest, PicturesAreKeptInTheEncodingTheirContentNeedsInsideTheDocument) {
    using Filter = image::EncodedPicture::Filter;
    using Colours = image::EncodedPicture::Colours;
    struct Case {
        const char* name;
        test::Rgb (*pixel)(int, int);
        Filter filter;
        Colours colours;
        int bits;
    } cases[] = {
        {"Bw000000.bmp", [](int x, int) { return x % 7 ? test::Rgb{255, 255, 255} : test::Rgb{0, 0, 0}; }, Filter::CcittFax, Colours::Grey, 1},
        {"Grey000000.bmp", [](int x, int y) { auto v = static_cast<unsigned char>(x * 3 + y); return test::Rgb{v, v, v}; }, Filter::Dct, Colours::Grey, 8},
        {"Colour000000.bmp", [](int x, int y) { return test::Rgb{static_cast<unsigned char>(x), static_cast<unsigned char>(y), 40}; }, Filter::Dct, Colours::Rgb, 8},
    };
    for (const Case& c : cases) {
        std::string bitmap = (dir / c.name).string();
        test::WriteBmp24(bitmap, 90, 70, c.pixel);
        BuildPageDocument(engine, bitmap, bitmap + ".xml", bitmap + ".doc");
        // The page document does not need its bitmap any more.
        std::filesystem::remove(bitmap);
        PageDocument page = engine.openPageDocument(bitmap + ".doc");
        ASSERT_TRUE(page.picture) << c.name;
        const image::EncodedPicture& stored = page.picture->encoded;
        EXPECT_EQ(stored.filter, c.filter) << c.name;
        EXPECT_EQ(stored.colours, c.colours) << c.name;
        EXPECT_EQ(stored.bitsPerComponent, c.bits) << c.name;
        EXPECT_EQ(stored.width, 90) << c.name;
        EXPECT_EQ(stored.height, 70) << c.name;
        EXPECT_FALSE(stored.data.empty()) << c.name;
    }
}

TEST_F(PageDocumentTest, MissingOrUnreadableLayoutGivesThePictureAlone) {
    PageDocument missing = Build("NoXml000000.bmp", nullptr);
    EXPECT_TRUE(missing.picture);
    EXPECT_TRUE(missing.textBoxes.empty());

    test::WriteBilevelPage(dir / "BadXml000000.bmp", 248, 351);
    test::WriteFile(dir / "BadXml000000.bmp.xml", "<pagewords><sections>");
    PageDocument broken = Build("BadXml000000.bmp", nullptr);
    EXPECT_TRUE(broken.picture);
    EXPECT_TRUE(broken.textBoxes.empty());
}

TEST_F(PageDocumentTest, DocumentFilesAreWrittenWholeAndDamagedOnesRefused) {
    std::vector<LayoutLine> lines = {{300, 150, 340, 1200, "Grüße & <Zeichen> \"€\""}};
    PageDocument page = Build("File000000.bmp", &lines);
    std::string text;
    for (const TextBoxShape& box : page.textBoxes) text += box.text;
    EXPECT_EQ(text, "Grüße & <Zeichen> \"€\"");
    // Nothing but the files themselves in the folder: no temporary left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 3);

    std::string content = test::ReadFile(dir / "File000000.bmp.doc");
    test::WriteFile(dir / "Cut.doc", content.substr(0, content.size() - 20));
    EXPECT_THROW(engine.openPageDocument((dir / "Cut.doc").string()), EngineError);
    test::WriteFile(dir / "Long.doc", content + "x");
    EXPECT_THROW(engine.openPageDocument((dir / "Long.doc").string()), EngineError);
    test::WriteFile(dir / "Other.doc", "{\\rtf1 something else}");
    EXPECT_THROW(engine.openPageDocument((dir / "Other.doc").string()), EngineError);
    EXPECT_THROW(engine.openPageDocument((dir / "Absent.doc").string()), EngineError);
    // A failed save leaves no file at all.
    EXPECT_THROW(engine.savePageDocument(page, (dir / "no-such-folder" / "x.doc").string()), EngineError);
}

TEST_F(PageDocumentTest, AssembledDocumentKeepsPagesAndBreaksAcrossSaveAndReopen) {
    PageDocument page = Build("Join000000.bmp", nullptr);
    std::string path = (dir / "KVOOCR.doc").string();
    AssembledDocument document = engine.newAssembledDocument(path);
    engine.appendPage(document, page);
    engine.save(document);
    engine.insertPageBreak(document);
    engine.appendPage(document, page);
    // Reopened before the second save: only what was saved is there.
    int items = 0;
    DocumentReader before(path);
    while (before.next()) ++items;
    EXPECT_EQ(items, 1);
    engine.save(document);
    AssembledDocument reopened = engine.openAssembledDocument(path);
    DocumentReader after(reopened.path);
    std::vector<bool> isBreak;
    while (auto item = after.next()) isBreak.push_back(std::holds_alternative<PageBreak>(*item));
    EXPECT_EQ(isBreak, (std::vector<bool>{false, true, false}));
}

}  // namespace
}  // namespace kvo::pdfbuild
