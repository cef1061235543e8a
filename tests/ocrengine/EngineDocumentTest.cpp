#include "ocrengine/EngineDocument.h"

#include "ocrengine/EngineFile.h"
#include "ocrengine/FontCodes.h"
#include "shared/image/RasterImage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kvo::ocr {
namespace {

namespace fs = std::filesystem;
using kvo::test::ReadFile;
using kvo::test::ScratchDir;
using kvo::test::WriteFile;

// A word standing on a baseline that falls by a tenth of its width.
Word MakeWord(std::string text, int lineId, WordRect rect, WordFont font = {1, 2, 10.5, 2}) {
    Word word;
    word.text = std::move(text);
    word.lineId = lineId;
    word.rect = rect;
    word.font = font;
    word.baseStart = {rect.left, rect.bottom - 5};
    word.baseEnd = {rect.right, rect.bottom - 5 + (rect.right - rect.left) / 10};
    return word;
}

// Two blocks: the first with lines 0 and 1 in one paragraph, the second with line 2.
PageLayout SamplePage() {
    PageLayout page;
    page.pixelWidth = 2550;
    page.pixelHeight = 3300;
    page.resolution = 300;
    page.lines = {{0, 0, 24, 6.5}, {0, 0, 24, 6.5}, {1, 1, 20, 0}};
    page.words = {MakeWord("The", 0, {100, 50, 130, 120}), MakeWord("a<b&\"c\"", 0, {101, 130, 131, 300.5}),
                  MakeWord("second", 1, {150, 50, 180, 200}, {3, 6, 9.75, 5}),
                  MakeWord("third", 2, {250, 50, 280, 200}, {0, 0, 0, 0})};
    return page;
}

bool SameWord(const Word& a, const Word& b) {
    return a.text == b.text && a.lineId == b.lineId && a.rect.top == b.rect.top && a.rect.left == b.rect.left &&
           a.rect.bottom == b.rect.bottom && a.rect.right == b.rect.right && a.font.faceStyle == b.font.faceStyle &&
           a.font.family == b.font.family && a.font.fontSize == b.font.fontSize && a.font.serif == b.font.serif &&
           a.baseStart.x == b.baseStart.x && a.baseStart.y == b.baseStart.y && a.baseEnd.x == b.baseEnd.x &&
           a.baseEnd.y == b.baseEnd.y;
}

TEST(EngineDocument, ReadsBackTheRecognitionItSaved) {
    ScratchDir dir;
    const std::string path = (dir / "KVOOCR.mdi").string();
    const PageLayout page = SamplePage();
    WriteEngineFile(page, path);

    EngineDocument document;
    document.Create(path);
    EXPECT_EQ(document.NumberOfLines(), 3);
    EXPECT_EQ(document.PixelWidth(), 2550);
    EXPECT_EQ(document.PixelHeight(), 3300);
    ASSERT_EQ(document.WordCount(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(SameWord(document.WordAt(i), page.words[i])) << i;
    for (int i = 0; i < 3; ++i) {
        const TextLine& line = document.LineAt(i);
        EXPECT_EQ(line.block, page.lines[i].block) << i;
        EXPECT_EQ(line.paragraph, page.lines[i].paragraph) << i;
        EXPECT_EQ(line.ascent, page.lines[i].ascent) << i;
        EXPECT_EQ(line.descent, page.lines[i].descent) << i;
    }
    EXPECT_THROW(document.LineAt(3), EngineError);
    EXPECT_EQ(document.LayoutText(), "The a<b&\"c\"\nsecond\n\nthird\n\n");
    EXPECT_THROW(document.WordAt(4), EngineError);
    EXPECT_THROW(document.SaveAs((dir / "copy.tif").string(), kFileFormatTiff, 1), EngineError)
        << "an engine document file holds no page image";

    document.Close();
    EXPECT_THROW(document.NumberOfLines(), EngineError);
}

TEST(EngineDocument, AWordOnNoLineIsNotSaved) {
    ScratchDir dir;
    PageLayout page = SamplePage();
    page.words.push_back(MakeWord("stray", 7, {}));
    EXPECT_THROW(WriteEngineFile(page, (dir / "KVOOCR.mdi").string()), EngineError);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(EngineDocument, AnUnreadableWordListStillTellsTheLines) {
    ScratchDir dir;
    WriteFile(dir / "KVOOCR.mdi",
              "<html><body><div class=\"ocr_page\" title=\"ppageno 0\">"
              "<span class=\"ocr_line\"><span class=\"ocrx_word\" title=\"bbox 1 2 3\" data-text=\"x\"/></span>"
              "</div></body></html>");
    EngineDocument document;
    document.Create((dir / "KVOOCR.mdi").string());
    EXPECT_EQ(document.NumberOfLines(), 1);
    EXPECT_THROW(document.WordCount(), EngineError);
    EXPECT_THROW(document.LayoutText(), EngineError);
    EXPECT_THROW(document.PixelWidth(), EngineError) << "the page has no bbox";
}

TEST(EngineDocument, FilesThatAreNeitherFailToOpen) {
    ScratchDir dir;
    WriteFile(dir / "noise.bmp", "BM this is not a bitmap");
    WriteFile(dir / "other.xml", "<KVO><File/></KVO>");
    EngineDocument document;
    for (const char* name : {"missing.mdi", "noise.bmp", "other.xml"}) {
        EXPECT_THROW(document.Create((dir / name).string()), EngineError) << name;
        EXPECT_THROW(document.NumberOfLines(), EngineError) << name;
    }
}

TEST(EngineDocument, OverARasterImageOffersItsSizeAndATiffCopy) {
    ScratchDir dir;
    image::Raster first{300, 400, 8, 300, 300, 300, std::vector<std::uint8_t>(300 * 400, 255)};
    image::Raster second{200, 100, 1, 200, 200, 25, std::vector<std::uint8_t>(25 * 100, 0)};
    image::WriteMultiPageTiff({first, second}, (dir / "two.tif").string());

    EngineDocument document;
    document.Create((dir / "two.tif").string());
    EXPECT_EQ(document.NumberOfLines(), std::nullopt) << "no recognition result";
    EXPECT_EQ(document.PixelWidth(), 300);
    EXPECT_EQ(document.PixelHeight(), 400);
    EXPECT_THROW(document.WordCount(), EngineError);
    EXPECT_THROW(document.SaveAs((dir / "x.mdi").string(), kFileFormatEngineDocument, 0), EngineError);
    EXPECT_THROW(document.SaveAs((dir / "x.bmp").string(), 3, 0), EngineError);

    document.SaveAs((dir / "copy.TIFF").string(), kFileFormatTiff, 1);
    document.Close();
    image::RasterFile copy((dir / "copy.TIFF").string());
    ASSERT_EQ(copy.frameCount(), 2);
    EXPECT_EQ(copy.frame(1)->width, 200);
    EXPECT_EQ(copy.frame(1)->height, 100);
}

TEST(EngineDocument, OcrNeedsAPageImage) {
    ScratchDir dir;
    WriteEngineFile(SamplePage(), (dir / "KVOOCR.mdi").string());
    EngineDocument document;
    EXPECT_THROW(document.OCR("eng"), EngineError);
    document.Create((dir / "KVOOCR.mdi").string());
    EXPECT_THROW(document.OCR("eng"), EngineError);
}

TEST(FontCodes, MapTesseractsAttributesAndNeverGuessAnUnknownFont) {
    struct Case {
        FontFacts facts;
        int style, family, serif;
    };
    const Case cases[] = {
        {{false, true, true, true, true}, 0, 6, 5},  // no font: the flags say nothing
        {{true, false, false, false, false}, 1, 1, 1},
        {{true, false, true, true, false}, 2, 2, 2},
        {{true, true, false, true, false}, 3, 2, 2},
        {{true, true, true, false, false}, 4, 1, 1},
        {{true, false, false, true, true}, 1, 6, 3},
        {{true, false, false, false, true}, 1, 6, 1},
    };
    for (const Case& c : cases) {
        const WordFont font = FontCodesFor(c.facts, 11.5);
        EXPECT_EQ(font.faceStyle, c.style);
        EXPECT_EQ(font.family, c.family);
        EXPECT_EQ(font.serif, c.serif);
        EXPECT_EQ(font.fontSize, 11.5);
    }
}

}  // namespace
}  // namespace kvo::ocr
