// The result shows the attachment itself: a PDF's own pages with the text laid over them, and
// an image attachment's own picture data.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "pdfbuild/KVOOCRWrdMod.h"
#include "pdfbuild/KvoEngine.h"
#include "pdfbuild/PdfBuildFixtures.h"
#include "shared/image/RasterImage.h"
#include "shared/platform/FileSearch.h"
#include "shared/xml/LayoutUnits.h"
#include "shared/xml/XmlDocument.h"
#include "support/PdfAssembly.h"

namespace kvo::pdfbuild {
namespace {

namespace fs = std::filesystem;
using test::CommandOutput;
using test::ShellQuoted;

struct WordBox {
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

// Where poppler finds `word` on `page`, in points from the shown page's top-left corner.
std::optional<WordBox> WordBoxOf(const fs::path& pdf, int page, const std::string& word) {
    const std::string html = CommandOutput("pdftotext -bbox -f " + std::to_string(page) + " -l " + std::to_string(page) + " " +
                                           ShellQuoted(pdf.string()) + " - 2>/dev/null");
    static const std::regex kWord(R"re(<word xMin="([-0-9.]+)" yMin="([-0-9.]+)" xMax="([-0-9.]+)" yMax="([-0-9.]+)">([^<]*)</word>)re");
    for (std::sregex_iterator it(html.begin(), html.end(), kWord), end; it != end; ++it)
        if ((*it)[5] == word) return WordBox{std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4])};
    return std::nullopt;
}

// A PDF written by hand: each page its boxes, rotation, content and an optional grey JPEG /Im0.
struct PageSpec {
    std::string mediaBox;
    std::string cropBox;  // "" for none
    int rotate = 0;
    std::string content;
    std::string jpeg = "";  // a grey JPEG the content may draw as /Im0
    int jpegWidth = 0, jpegHeight = 0;
};

void WritePdf(const fs::path& file, const std::vector<PageSpec>& pages) {
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    std::string kids;
    for (const PageSpec& page : pages) {
        const int pageObject = static_cast<int>(objects.size()) + 1;
        std::string resources = "/Font << /F1 3 0 R >>";
        if (!page.jpeg.empty()) resources += " /XObject << /Im0 " + std::to_string(pageObject + 2) + " 0 R >>";
        std::string dict = "<< /Type /Page /Parent 2 0 R /MediaBox [" + page.mediaBox + "]";
        if (!page.cropBox.empty()) dict += " /CropBox [" + page.cropBox + "]";
        dict += " /Rotate " + std::to_string(page.rotate) + " /Resources << " + resources + " >> /Contents " +
                std::to_string(pageObject + 1) + " 0 R >>";
        objects.push_back(dict);
        objects.push_back("<< /Length " + std::to_string(page.content.size()) + " >>\nstream\n" + page.content + "\nendstream");
        if (!page.jpeg.empty())
            objects.push_back("<< /Type /XObject /Subtype /Image /Width " + std::to_string(page.jpegWidth) + " /Height " +
                              std::to_string(page.jpegHeight) + " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode /Length " +
                              std::to_string(page.jpeg.size()) + " >>\nstream\n" + page.jpeg + "\nendstream");
        kids += std::to_string(pageObject) + " 0 R ";
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
    test::WriteFile(file, test::AssemblePdf(objects));
}

class OwnPagesTest : public ::testing::Test {
protected:
    // Renders every page of the attachment as the PDF splitter does and lists it with its page
    // number; with `recognise`, the OCR program reads each page, else `layout` is used.
    void SplitPdf(const fs::path& attachment, int pageCount, bool recognise, const std::vector<test::LayoutLine>& layout = {}) {
        std::vector<std::string> bitmaps;
        for (int n = 1; n <= pageCount; ++n) {
            const fs::path bitmap = dir / ("Doc" + std::to_string(n) + ".bmp");
            CommandOutput("gs -q -dNOPAUSE -dBATCH -sDEVICE=bmpgray -r" + std::string(recognise ? "200" : "36") + " -dFirstPage=" +
                          std::to_string(n) + " -dLastPage=" + std::to_string(n) + " -sOutputFile=" + ShellQuoted(bitmap.string()) +
                          " " + ShellQuoted(attachment.string()));
            if (recognise) {
                fs::copy_file(bitmap, dir / "KVOOCR.bmp", fs::copy_options::overwrite_existing);
                CommandOutput(ShellQuoted((test::BinDir() / "KVOOCR").string()) + " 2>/dev/null");
                fs::copy_file(dir / "KVOOCR.mdi.xml", bitmap.string() + ".xml", fs::copy_options::overwrite_existing);
            } else {
                test::WriteLayout(bitmap.string() + ".xml", layout);
            }
            bitmaps.push_back(bitmap.string());
        }
        WriteOrder(attachment, bitmaps, true);
    }

    void WriteOrder(const fs::path& attachment, const std::vector<std::string>& bitmaps, bool numbered) {
        xml::Document doc;
        xml::Node file = doc.appendElement("File");
        file.setAttribute("name", attachment.string());
        file.setAttribute("processed", "1");
        for (std::size_t i = 0; i < bitmaps.size(); ++i) {
            xml::Node image = file.appendElement("image");
            image.setAttribute("path", bitmaps[i]);
            image.setAttribute("processed", "0");
            if (numbered) image.setAttribute("page", std::to_string(i + 1));
        }
        doc.save((dir / "KVOCurr.xml").string());
    }

    fs::path Build() {
        KVOOCRWrdMod::Run(StartKvoEngine);
        return dir / "KVOOCR.pdf";
    }

    image::Raster Render(const fs::path& pdf, const std::string& name) {
        CommandOutput("pdftoppm -r 50 -f 1 -l 1 -singlefile " + ShellQuoted(pdf.string()) + " " + ShellQuoted((dir / name).string()));
        auto raster = image::ReadRaster((dir / (name + ".ppm")).string());
        return raster ? image::ToRgb24(*raster) : image::Raster{};
    }

    test::ScratchDir dir{"kvo-ownpages"};
    test::EnvVar temp{"TEMP", dir.str()};
};

TEST_F(OwnPagesTest, PdfPagesKeepTheirColourSizeAndVectorDrawingUnderTheTextLayer) {
    for (const char* name : {"graph.pdf", "vector.pdf"}) {
        SCOPED_TRACE(name);
        const fs::path attachment = dir / name;
        fs::copy_file(test::CorpusDir() / name, attachment, fs::copy_options::overwrite_existing);
        SplitPdf(attachment, 1, false, {{300, 200, 360, 1200, "searchable overlay words"}});
        const fs::path result = Build();
        ASSERT_TRUE(fs::exists(result));
        EXPECT_NE(test::PdfText(result).find("searchable overlay words"), std::string::npos);

        const auto size = [](const fs::path& pdf) {
            const std::string info = CommandOutput("pdfinfo " + ShellQuoted(pdf.string()));
            return info.substr(info.find("Page size:"), info.find('\n', info.find("Page size:")) - info.find("Page size:"));
        };
        EXPECT_EQ(size(result), size(attachment));
        const image::Raster before = Render(attachment, "before"), after = Render(result, "after");
        ASSERT_FALSE(before.empty());
        ASSERT_EQ(after.width, before.width);
        ASSERT_EQ(after.height, before.height);
        double difference = 0;
        for (int y = 0; y < before.height; ++y)
            for (int i = 0; i < 3 * before.width; ++i)
                difference += std::abs(int(before.pixels[y * before.stride + i]) - int(after.pixels[y * after.stride + i]));
        EXPECT_LT(difference / (3.0 * before.width * before.height), 2.0);
        // The page is drawn as before, not as a picture of itself.
        EXPECT_EQ(CommandOutput("pdfimages -list " + ShellQuoted(result.string()) + " | tail -n +3 | wc -l"),
                  CommandOutput("pdfimages -list " + ShellQuoted(attachment.string()) + " | tail -n +3 | wc -l"));
        for (const auto& leftover : fs::directory_iterator(dir.path()))
            if (leftover.path().extension() == ".doc") fs::remove(leftover.path());
    }
}

TEST_F(OwnPagesTest, TextLayerLandsOnThePrintedWordsWhateverTheRotationAndCropBox) {
    // Each page prints "Invoice 4711" in user space so that it reads upright as shown.
    const std::string upright = "BT /F1 28 Tf 40 200 Td (Invoice 4711) Tj ET";
    const std::vector<PageSpec> printed = {
        {"0 0 400 300", "", 0, upright},
        {"0 0 300 400", "", 90, "BT /F1 28 Tf 0 1 -1 0 100 40 Tm (Invoice 4711) Tj ET"},
        {"0 0 400 300", "", 180, "BT /F1 28 Tf -1 0 0 -1 360 100 Tm (Invoice 4711) Tj ET"},
        {"-50 -60 450 340", "0 0 400 300", 0, upright},
    };
    // The attachment is a scan of those pages: each page's user space as one picture.
    std::vector<PageSpec> scanned;
    for (std::size_t i = 0; i < printed.size(); ++i) {
        PageSpec flat = printed[i];
        flat.cropBox.clear();
        flat.rotate = 0;
        const fs::path flatPdf = dir / ("flat" + std::to_string(i) + ".pdf");
        WritePdf(flatPdf, {flat});
        CommandOutput("pdftoppm -r 150 -gray -singlefile " + ShellQuoted(flatPdf.string()) + " " + ShellQuoted((dir / "flat").string()));
        auto raster = image::ReadRaster((dir / "flat.pgm").string());
        ASSERT_TRUE(raster);
        image::WriteRasterFile(*raster, (dir / "flat.jpg").string(), image::FileFormat::Jpeg);
        PageSpec scan = printed[i];
        double x0, y0, x1, y1;
        std::sscanf(scan.mediaBox.c_str(), "%lf %lf %lf %lf", &x0, &y0, &x1, &y1);
        char cm[128];
        std::snprintf(cm, sizeof cm, "q %g 0 0 %g %g %g cm /Im0 Do Q", x1 - x0, y1 - y0, x0, y0);
        scan.content = cm;
        scan.jpeg = test::ReadFile(dir / "flat.jpg");
        scan.jpegWidth = raster->width;
        scan.jpegHeight = raster->height;
        scanned.push_back(scan);
    }
    const fs::path reference = dir / "reference.pdf", attachment = dir / "Scan 'é'.pdf";
    WritePdf(reference, printed);
    WritePdf(attachment, scanned);
    ASSERT_FALSE(WordBoxOf(attachment, 1, "Invoice")) << "the scan carries no text of its own";

    SplitPdf(attachment, static_cast<int>(printed.size()), true);
    const fs::path result = Build();
    ASSERT_TRUE(fs::exists(result));
    for (int page = 1; page <= static_cast<int>(printed.size()); ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        const std::optional<WordBox> expected = WordBoxOf(reference, page, "Invoice");
        const std::optional<WordBox> found = WordBoxOf(result, page, "Invoice");
        ASSERT_TRUE(expected && found);
        // Recognised boxes hug the ink; poppler's start at the glyph's origin, a side bearing away.
        EXPECT_NEAR(found->xMin, expected->xMin, 4);
        EXPECT_NEAR(found->xMax, expected->xMax, 4);
        EXPECT_NEAR(found->yMin, expected->yMin, 6);
        EXPECT_NEAR(found->yMax, expected->yMax, 6);
    }
    const auto boxes = [](const fs::path& pdf) {
        return CommandOutput("pdfinfo -f 1 -l 4 -box " + ShellQuoted(pdf.string()) + " | grep '^Page '");
    };
    EXPECT_EQ(boxes(result), boxes(attachment));
}

TEST_F(OwnPagesTest, AScanPrinted3DegreesAskewIsReadInOrderWithItsWordsOnThePrintAlsoUnderRotate) {
    const std::vector<std::string> lines = {"Invoice number 4711 of March", "payable within thirty days", "to the account below"};
    // As shown, each page is the same scan, 3 degrees askew; the page carrying /Rotate 90 holds
    // it in its user space turned back a quarter, as a scanner that stored it so would.
    const image::Raster shown = image::Rotated(image::ReduceLossless(test::PrintedPage(lines)), 3);
    std::vector<PageSpec> pages;
    for (int rotate : {0, 90}) {
        const image::Raster stored = image::Turned(shown, (360 - rotate) % 360);
        image::WriteRasterFile(stored, (dir / "scan.jpg").string(), image::FileFormat::Jpeg);
        const double width = stored.width * 72.0 / 300, height = stored.height * 72.0 / 300;
        char box[64], draw[96];
        std::snprintf(box, sizeof box, "0 0 %.2f %.2f", width, height);
        std::snprintf(draw, sizeof draw, "q %.2f 0 0 %.2f 0 0 cm /Im0 Do Q", width, height);
        pages.push_back({box, "", rotate, draw, test::ReadFile(dir / "scan.jpg"), stored.width, stored.height});
    }
    const fs::path attachment = dir / "Askew.pdf";
    WritePdf(attachment, pages);
    SplitPdf(attachment, 2, true);
    const fs::path result = Build();
    ASSERT_TRUE(fs::exists(result));

    for (int page = 1; page <= 2; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        std::string text = test::PdfText(result, page);
        text = std::regex_replace(text.substr(0, text.find_last_not_of("\n\f") + 1), std::regex("\n+"), "\n");
        EXPECT_EQ(text, lines[0] + "\n" + lines[1] + "\n" + lines[2]);
        // Each word's highlight, as poppler finds it, is centred on the word as recognised.
        xml::Document layout;
        ASSERT_TRUE(layout.load((dir / ("Doc" + std::to_string(page) + ".bmp.xml")).string()));
        const std::string info = CommandOutput("pdfinfo -f " + std::to_string(page) + " -l " + std::to_string(page) + " " +
                                               ShellQuoted(result.string()));
        double width = 0, height = 0;
        int rotate = 0;
        ASSERT_EQ(std::sscanf(info.c_str() + info.find("size:") + 5, "%lf x %lf", &width, &height), 2);
        ASSERT_EQ(std::sscanf(info.c_str() + info.find("rot:") + 4, "%d", &rotate), 1);
        EXPECT_EQ(rotate, page == 1 ? 0 : 90);
        const pdf::ShownSize shown = pdf::ShownSizeOf({0, 0, width, height}, rotate);
        const double pointsPerUnit = 1 / handoff::PageScale(shown.width, shown.height);
        for (const xml::Node& word : layout.selectNodes("pagewords/word")) {
            const std::string name = word.attribute("text").value_or("");
            const std::optional<WordBox> found = WordBoxOf(result, page, name);
            ASSERT_TRUE(found) << name;
            const xml::Node rect = word.selectSingleNode("RECT");
            const auto edge = [&](const char* side) { return std::stod(*rect.attribute(side)) * pointsPerUnit; };
            EXPECT_GT((found->xMin + found->xMax) / 2, edge("left")) << name;
            EXPECT_LT((found->xMin + found->xMax) / 2, edge("right")) << name;
            EXPECT_GT((found->yMin + found->yMax) / 2, edge("top")) << name;
            EXPECT_LT((found->yMin + found->yMax) / 2, edge("bottom")) << name;
        }
    }
}

TEST_F(OwnPagesTest, AnAttachmentThatCannotBeReadAnyMoreGivesNoPdf) {
    const fs::path attachment = dir / "Letter.pdf";
    fs::copy_file(test::CorpusDir() / "graph.pdf", attachment);
    SplitPdf(attachment, 1, false, {{300, 200, 360, 1200, "words"}});
    test::WriteFile(dir / "KVOOCR.pdf", "an earlier result");
    // Damaged between the splitter and the builder: its pages cannot be kept, and a picture
    // of them would not be the document.
    test::WriteFile(attachment, test::ReadFile(test::CorpusDir() / "invalid.pdf"));
    EXPECT_FALSE(fs::exists(Build()));
}

TEST_F(OwnPagesTest, ImageAttachmentsEmbedTheirOwnDataWhereItsEncodingAllows) {
    const auto colour = image::ReadRaster((test::CorpusDir() / "baiona.png").string());
    const auto scan = image::ReadRaster((test::CorpusDir() / "linn.png").string());
    ASSERT_TRUE(colour && scan);
    struct Case {
        const char* name;
        const image::Raster& raster;
        image::FileFormat format;
        const char* listed;  // pdfimages' colour space and encoding
        bool sameBytes;      // the file's own bytes are the image stream
    } cases[] = {
        {"Photo.jpg", *colour, image::FileFormat::Jpeg, "rgb     3   8  jpeg", true},
        {"Fax4.tif", image::ReduceLossless(*scan), image::FileFormat::TiffG4, "gray    1   1  ccitt", false},
        {"Fax3.tif", image::ReduceLossless(*scan), image::FileFormat::TiffG3, "gray    1   1  ccitt", false},
        {"Map.gif", *colour, image::FileFormat::Gif, "index   1   8  image", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path attachment = dir / c.name;
        image::WriteRasterFile(c.raster, attachment.string(), c.format);
        const auto frame = image::ReadRaster(attachment.string());
        ASSERT_TRUE(frame);
        const fs::path bitmap = dir / (attachment.stem().string() + "000000.bmp");
        image::WriteRasterFile(image::ToRgb24(*frame), bitmap.string(), image::FileFormat::Bmp);
        test::WriteLayout(bitmap.string() + ".xml", {{300, 150, 340, 1500, "words of the picture"}});
        WriteOrder(attachment, {bitmap.string()}, false);
        const fs::path result = Build();
        ASSERT_TRUE(fs::exists(result));
        EXPECT_NE(test::PdfText(result).find("words of the picture"), std::string::npos);
        const std::string list = CommandOutput("pdfimages -list " + ShellQuoted(result.string()));
        EXPECT_NE(list.find(c.listed), std::string::npos) << list;

        const std::string prefix = (dir / attachment.stem()).string();
        CommandOutput("pdfimages -all " + ShellQuoted(result.string()) + " " + ShellQuoted(prefix + "-raw"));
        CommandOutput("pdfimages -png " + ShellQuoted(result.string()) + " " + ShellQuoted(prefix + "-png"));
        if (c.sameBytes) EXPECT_TRUE(test::ReadFile(prefix + "-raw-000.jpg") == test::ReadFile(attachment)) << "byte for byte";
        else EXPECT_TRUE(image::ToRgb24(*image::ReadRaster(prefix + "-png-000.png")).pixels == image::ToRgb24(*frame).pixels);
        fs::remove(dir / "KVOOCR.pdf");
    }
}

}  // namespace
}  // namespace kvo::pdfbuild
