#include <gtest/gtest.h>

#include <sstream>

#include "pdfbuild/FaceMetrics.h"
#include "pdfbuild/KVOOCRWrdMod.h"
#include "pdfbuild/KvoEngine.h"
#include "pdfbuild/PageBuilder.h"
#include "pdfbuild/PdfBuildFixtures.h"
#include "shared/image/RasterImage.h"
#include "shared/xml/XmlDocument.h"

namespace kvo::pdfbuild {
namespace {

namespace fs = std::filesystem;
using test::LayoutLine;
using test::Rgb;

Rgb BilevelPixel(int x, int y) { return ((x / 9 + y / 13) % 4 == 0) ? Rgb{0, 0, 0} : Rgb{255, 255, 255}; }
Rgb GreyPixel(int x, int y) {
    auto v = static_cast<unsigned char>((x * 7 + y * 3) % 256);
    return {v, v, v};
}
Rgb ColourPixel(int x, int y) {
    return {static_cast<unsigned char>(x % 256), static_cast<unsigned char>(y % 256), static_cast<unsigned char>((x + y) % 256)};
}

class PdfOutputTest : public ::testing::Test {
protected:
    std::string Page(const std::string& name, int width, int height, Rgb (*pixel)(int, int),
                     const std::vector<LayoutLine>& lines) {
        fs::path bitmap = dir / name;
        test::WriteBmp24(bitmap, width, height, pixel);
        test::WriteLayout(bitmap.string() + ".xml", lines);
        return bitmap.string();
    }

    // Runs the builder over the pages and gives the path of its PDF.
    fs::path BuildPdf(const std::vector<std::string>& pages) {
        test::WritePageList(dir.path(), pages);
        KVOOCRWrdMod::Run(StartKvoEngine);
        return dir / "KVOOCR.pdf";
    }

    // The same pages exported without their text boxes.
    fs::path BuildPdfWithoutText(const std::vector<std::string>& pages) {
        KvoEngine engine;
        fs::path docPath = dir / "bare.doc";
        AssembledDocument bare = engine.newAssembledDocument(docPath.string());
        for (std::size_t i = 0; i < pages.size(); ++i) {
            PageDocument page = engine.openPageDocument(pages[i] + ".doc");
            page.textBoxes.clear();
            if (i > 0) engine.insertPageBreak(bare);
            engine.appendPage(bare, page);
        }
        engine.save(bare);
        fs::path pdf = dir / "bare.pdf";
        engine.exportPdf(bare, pdf.string(), ExportRoute::MappedFaces);
        return pdf;
    }

    std::string Render(const fs::path& pdf, int page) {
        fs::path out = dir / ("render-" + pdf.stem().string() + "-" + std::to_string(page));
        test::CommandOutput("pdftoppm -r 40 -f " + std::to_string(page) + " -l " + std::to_string(page) +
                            " -singlefile '" + pdf.string() + "' '" + out.string() + "'");
        return test::ReadFile(out.string() + ".ppm");
    }


    test::ScratchDir dir{"kvo-pdfout"};
    test::EnvVar temp{"TEMP", dir.str()};
};

TEST_F(PdfOutputTest, EveryLineOfEveryPageIsExtractableOnA4PagesInOrder) {
    std::vector<std::vector<LayoutLine>> layouts = {
        {{300, 150, 340, 675, "Rechnung für Herrn Müller", "10", "Helvetica", "normal"},
         {400, 150, 440, 612, "Straße 12, café résumé", "11.5", "Times", "bold"},
         {500, 150, 540, 528, "Betrag: 1.250,00 €", "12", "Century", ""}},
        {{300, 150, 420, 1158, "Überschrift groß", "30", "Century", "italic"},
         {600, 150, 640, 654, "plain & <escaped> \"text\"", "9", "Default", "bolditalic"}},
        {{300, 150, 340, 465, "third page line", "10", "HelveticaCentury", "bold"}},
    };
    std::vector<std::string> pages;
    for (std::size_t i = 0; i < layouts.size(); ++i)
        pages.push_back(Page("Doc00000" + std::to_string(i) + ".bmp", 620, 877, BilevelPixel, layouts[i]));
    fs::path pdf = BuildPdf(pages);

    ASSERT_EQ(test::PdfPageCount(pdf), 3);
    std::string info = test::CommandOutput("pdfinfo -f 1 -l 3 '" + pdf.string() + "'");
    for (int page = 1; page <= 3; ++page)
        EXPECT_NE(info.find("Page    " + std::to_string(page) + " size:  595.3 x 841.9 pts (A4)"), std::string::npos) << info;
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        std::string text = test::PdfText(pdf, static_cast<int>(i) + 1);
        for (const LayoutLine& line : layouts[i]) EXPECT_NE(text.find(line.text), std::string::npos) << line.text << "\n" << text;
    }
}

TEST_F(PdfOutputTest, TextLayerIsInvisibleOnEveryKindOfPage) {
    std::vector<LayoutLine> lines = {{300, 150, 340, 507, "hidden words here", "10", "Helvetica", "normal"},
                                     {2500, 150, 2540, 675, "below a landscape picture", "10", "Times", "bold"}};
    std::vector<std::string> pages = {
        Page("Ink000000.bmp", 620, 877, BilevelPixel, lines),
        Page("Ink000001.bmp", 620, 877, GreyPixel, lines),
        Page("Ink000002.bmp", 877, 620, ColourPixel, lines),  // landscape: the lower sheet is empty
    };
    fs::path withText = BuildPdf(pages);
    fs::path withoutText = BuildPdfWithoutText(pages);
    ASSERT_NE(test::PdfText(withText, 3).find("below a landscape picture"), std::string::npos);
    for (int page = 1; page <= 3; ++page) {
        std::string shown = Render(withText, page);
        ASSERT_FALSE(shown.empty());
        EXPECT_TRUE(shown == Render(withoutText, page)) << "page " << page;
    }
}

// Mean difference per channel, 0..255, of two rasters of the same size.
double MeanDifference(const image::Raster& a, const image::Raster& b) {
    const image::Raster x = image::ToRgb24(a), y = image::ToRgb24(b);
    if (x.width != y.width || x.height != y.height) return 255;
    double sum = 0;
    for (int row = 0; row < x.height; ++row)
        for (int i = 0; i < 3 * x.width; ++i)
            sum += std::abs(int(x.pixels[row * x.stride + i]) - int(y.pixels[row * y.stride + i]));
    return sum / (3.0 * x.width * x.height);
}

TEST_F(PdfOutputTest, BilevelPicturesStayExactCcittAndTheOthersKeepTheirColourAsJpeg) {
    std::vector<std::string> pages = {
        Page("Kind000000.bmp", 300, 200, BilevelPixel, {}),
        Page("Kind000001.bmp", 300, 200, GreyPixel, {}),
        Page("Kind000002.bmp", 300, 200, ColourPixel, {}),
    };
    fs::path pdf = BuildPdf(pages);
    std::string list = test::CommandOutput("pdfimages -list '" + pdf.string() + "'");
    EXPECT_NE(list.find("gray    1   1  ccitt"), std::string::npos) << list;
    EXPECT_NE(list.find("gray    1   8  jpeg"), std::string::npos) << list;
    EXPECT_NE(list.find("rgb     3   8  jpeg"), std::string::npos) << list;

    test::CommandOutput("pdfimages -png '" + pdf.string() + "' '" + (dir / "extracted").string() + "'");
    const double allowed[] = {0, 2, 4};  // bilevel exact; JPEG close
    for (int i = 0; i < 3; ++i) {
        auto extracted = image::ReadRaster((dir / ("extracted-00" + std::to_string(i) + ".png")).string());
        auto original = image::ReadRaster(pages[i]);
        ASSERT_TRUE(extracted && original) << i;
        EXPECT_LE(MeanDifference(*extracted, *original), allowed[i]) << "page " << i + 1;
    }
}

TEST_F(PdfOutputTest, LineWiderThanItsBoxIsNarrowedAndStillWhollyExtractable) {
    std::vector<LayoutLine> lines = {
        // A box about two thirds as wide as the text needs.
        {300, 150, 340, 900, "This recognised line is rather wider than its box", "12", "Helvetica", "normal"},
        // Far too narrow: narrowed as far as allowed, then written smaller; no letter is lost.
        {500, 150, 540, 300, "A very long line in a tiny box with all letters kept", "12", "Century", ""},
    };
    fs::path pdf = BuildPdf({Page("Wide000000.bmp", 620, 877, BilevelPixel, lines)});
    std::string text = test::PdfText(pdf);
    EXPECT_NE(text.find(lines[0].text), std::string::npos) << text;
    std::istringstream words(lines[1].text), found(text.substr(text.find(lines[0].text) + lines[0].text.size()));
    for (std::string word, next; words >> word;) EXPECT_TRUE(found >> next && next == word) << word << "\n" << text;
}

TEST_F(PdfOutputTest, AbsurdLineValuesCostOnlyTheirOwnLine) {
    std::vector<LayoutLine> lines = {
        {300, 150, 340, 570, "before the odd lines", "10", "Helvetica", "normal"},
        {400, 150, 440, 339, "huge size", "1e308", "Helvetica", "normal"},
        {500, 150, 540, 297, "no size", "nan", "Times", "bold"},
        {600, 150, 640, 423, "infinite size", "-inf", "Century", ""},
        {-400000000, -900000000, 2000000000, 2100000000, "far away", "10", "Helvetica", "normal"},
        {700, 150, 740, 906, std::string("control \x01\x02 bytes and \xff\xfe broken UTF-8"), "10", "Helvetica", "normal"},
        {800, 150, 840, 549, "after the odd lines", "10", "Helvetica", "normal"},
    };
    fs::path pdf = BuildPdf({Page("Odd000000.bmp", 620, 877, BilevelPixel, lines)});
    std::string text = test::PdfText(pdf);
    EXPECT_NE(text.find("before the odd lines"), std::string::npos) << text;
    EXPECT_NE(text.find("after the odd lines"), std::string::npos) << text;
    EXPECT_NE(text.find("broken UTF-8"), std::string::npos) << text;
}

TEST_F(PdfOutputTest, FontNamesMapToInstalledFacesAndPicturePagesEmbedNoFont) {
    // None of the named faces is installed here: URW's faces of the same widths stand in.
    EXPECT_NE(InstalledFaceOf("Arial", false, false).find("Nimbus Sans Regular"), std::string::npos);
    EXPECT_NE(InstalledFaceOf("Arial", true, false).find("Nimbus Sans Bold"), std::string::npos);
    EXPECT_NE(InstalledFaceOf("Times New Roman", false, true).find("Nimbus Roman Italic"), std::string::npos);
    EXPECT_NE(InstalledFaceOf("Lucida Console", false, false).find("Nimbus Mono PS"), std::string::npos);
    EXPECT_NE(InstalledFaceOf("Century", false, false).find("C059"), std::string::npos);
    // An installed face is used under its own name.
    EXPECT_NE(InstalledFaceOf("DejaVu Sans", false, false).find("DejaVu Sans"), std::string::npos);

    std::vector<LayoutLine> lines = {{300, 150, 340, 234, "sans", "10", "Helvetica", "normal"},
                                     {400, 150, 440, 255, "serif", "10", "Times", "bold"},
                                     {500, 150, 540, 234, "mono", "12", "Century", ""},
                                     {600, 150, 640, 360, "Łódź Ωmega", "10", "Helvetica", "normal"}};
    fs::path pdf = BuildPdf({Page("Fonts000000.bmp", 620, 877, BilevelPixel, lines)});
    std::string fonts = test::CommandOutput("pdffonts '" + pdf.string() + "'");
    // The invisible text needs only the widths of a standard face, not its glyphs: no font file
    // is embedded; characters of the standard Windows encoding need no map of their own, the
    // others are mapped back to characters.
    std::istringstream table(fonts);
    int fontCount = 0;
    for (std::string row; std::getline(table, row);) {
        std::vector<std::string> fields;
        std::istringstream words(row);
        for (std::string word; words >> word;) fields.push_back(word);
        if (fields.size() < 7 || fields[0] == "name" || fields[0].starts_with("---")) continue;
        ++fontCount;
        EXPECT_EQ(fields[fields.size() - 5], "no") << row;   // embedded
        EXPECT_TRUE(fields[fields.size() - 6] == "WinAnsi" || fields[fields.size() - 3] == "yes") << row;  // ToUnicode
    }
    EXPECT_EQ(fontCount, 2) << fonts;
    const std::string text = test::PdfText(pdf);
    EXPECT_NE(text.find("serif"), std::string::npos) << text;
    EXPECT_NE(text.find("Łódź Ωmega"), std::string::npos) << text;
}

TEST_F(PdfOutputTest, LinesOfAPageScannedAskewAreExtractedWholeInOrderAndHighlightedOnTheirWords) {
    for (const double degrees : {3.0, 5.0, -5.0}) {
        SCOPED_TRACE(degrees);
        // A page of its own each time: the builder keeps a page's document once made.
        // Two lines a little more than a line height apart, as on a letter: their upright boxes
        // overlap, and each line's words rise by more than extractors take for one line.
        const std::vector<LayoutLine> lines = {
            {600, 200, 650, 1100, "yet amazingly simple to learn", "10", "Helvetica", "normal", degrees},
            {662, 200, 712, 1100, "for feature rich songs in", "10", "Helvetica", "normal", degrees},
        };
        const std::string bitmap = Page("Skew" + std::to_string(static_cast<int>(degrees + 10)) + "000000.bmp", 620, 877,
                                        BilevelPixel, lines);
        const fs::path pdf = BuildPdf({bitmap});
        const std::string text = test::PdfText(pdf);
        EXPECT_EQ(text.substr(0, text.find_last_not_of("\n\f") + 1), lines[0].text + "\n" + lines[1].text);

        // Each word's box as poppler reports it lies over the word's own box in the layout: as
        // wide, and centred within its height.
        xml::Document layout;
        ASSERT_TRUE(layout.load(bitmap + ".xml"));
        const std::string boxes = test::CommandOutput("pdftotext -bbox " + test::ShellQuoted(pdf.string()) + " -");
        for (const xml::Node& word : layout.selectNodes("pagewords/word")) {
            const std::string text = word.attribute("text").value_or("");
            SCOPED_TRACE(text);
            const std::size_t at = boxes.find(">" + text + "</word>");
            ASSERT_NE(at, std::string::npos);
            double xMin, yMin, xMax, yMax;
            const std::size_t open = boxes.rfind("<word", at);
            ASSERT_EQ(std::sscanf(boxes.c_str() + open, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &xMin,
                                  &yMin, &xMax, &yMax), 4);
            const xml::Node rect = word.selectSingleNode("RECT");
            const auto edge = [&](const char* name) { return std::stod(rect.attribute(name).value_or("0")) * 841.9 / 3507; };
            const double across = std::min(xMax, edge("right")) - std::max(xMin, edge("left"));
            EXPECT_GT(across / (edge("right") - edge("left")), 0.9);
            EXPECT_GT((yMin + yMax) / 2, edge("top"));
            EXPECT_LT((yMin + yMax) / 2, edge("bottom"));
        }
    }
}

TEST_F(PdfOutputTest, LettersBeyondWesternEuropeComeBackOutOfTheTextLayerUnchanged) {
    // One printed page per language, each recognised in its own language as a firm would
    // configure it, then built into one PDF.
    const std::vector<std::pair<std::string, std::string>> pages = {
        {"pol", "Łódź"}, {"ces", "Dvořák"}, {"ell", "Ελλάδα"}, {"rus", "Москва"}};
    test::EnvVar windir{"windir", dir.str()};
    std::vector<std::string> bitmaps;
    for (const auto& [language, word] : pages) {
        test::WriteFile(dir / "console.ini", "[OCR]\nLanguages=" + language + "\n");
        const fs::path bitmap = dir / ("Names00000" + std::to_string(bitmaps.size()) + ".bmp");
        image::WriteRasterFile(test::PrintedPage({word + " " + word}), bitmap.string(), image::FileFormat::Bmp);
        fs::copy_file(bitmap, dir / "KVOOCR.bmp", fs::copy_options::overwrite_existing);
        test::CommandOutput(test::ShellQuoted((test::BinDir() / "KVOOCR").string()) + " 2>&1");
        ASSERT_TRUE(fs::exists(dir / "KVOOCR.mdi.xml")) << language << " is installed by scripts/install-deps";
        fs::copy_file(dir / "KVOOCR.mdi.xml", bitmap.string() + ".xml");
        bitmaps.push_back(bitmap.string());
    }
    const fs::path pdf = BuildPdf(bitmaps);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const std::string& word = pages[i].second;
        EXPECT_EQ(test::PdfText(pdf, static_cast<int>(i) + 1).substr(0, 2 * word.size() + 1), word + " " + word);
    }
}

TEST_F(PdfOutputTest, PlainerRouteStillCarriesEveryWord) {
    std::vector<LayoutLine> lines = {{300, 150, 340, 633, "Grüße aus Köln für 20 €", "10", "Helvetica", "bold"}};
    std::string bitmap = Page("Plain000000.bmp", 620, 877, BilevelPixel, lines);
    KvoEngine engine;
    BuildPageDocument(engine, bitmap, bitmap + ".xml", bitmap + ".doc");
    AssembledDocument document = engine.newAssembledDocument((dir / "plain.doc").string());
    engine.appendPage(document, engine.openPageDocument(bitmap + ".doc"));
    engine.save(document);
    engine.exportPdf(document, (dir / "plain.pdf").string(), ExportRoute::BuiltInFace);
    EXPECT_NE(test::PdfText(dir / "plain.pdf").find(lines[0].text), std::string::npos);
}

TEST_F(PdfOutputTest, ProgramWritesThePdfSilentlyAndExitsZero) {
    const std::string program = (test::BinDir() / "KVOOCRWrd").string();
    EXPECT_EQ(test::CommandOutput("TEMP='" + dir.str() + "' '" + program + "'; echo \"exit $?\""), "exit 0\n");
    EXPECT_FALSE(fs::exists(dir / "KVOOCR.pdf"));

    std::vector<LayoutLine> lines = {{300, 150, 340, 486, "from the program", "10", "Helvetica", "normal"}};
    test::WritePageList(dir.path(), {Page("Prog000000.bmp", 620, 877, BilevelPixel, lines)});
    EXPECT_EQ(test::CommandOutput("TEMP='" + dir.str() + "' '" + program + "'; echo \"exit $?\""), "exit 0\n");
    EXPECT_NE(test::PdfText(dir / "KVOOCR.pdf").find("from the program"), std::string::npos);
}

TEST_F(PdfOutputTest, EmptyDocumentGivesNoPdf) {
    KvoEngine engine;
    AssembledDocument document = engine.newAssembledDocument((dir / "empty.doc").string());
    EXPECT_THROW(engine.exportPdf(document, (dir / "empty.pdf").string(), ExportRoute::MappedFaces), EngineError);
    EXPECT_FALSE(fs::exists(dir / "empty.pdf"));
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1);  // no temporary left
}

}  // namespace
}  // namespace kvo::pdfbuild
