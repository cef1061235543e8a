// The whole system on real documents: one batch cycle of the real driver over an embedded host
// database, with the real pipeline, splitters, Tesseract, Ghostscript and PDF builder.
#include <gtest/gtest.h>

#include "E2eWorld.h"

#include <cmath>
#include <sstream>

#include "shared/image/RasterImage.h"

namespace kvo::test {
namespace {

constexpr int kFax = 1, kJpeg = 2, kScannedPdf = 3, kSearchablePdf = 4, kDamagedPdf = 5, kEmptyTiff = 6,
              kMissing = 7, kPng = 8, kStandardFax = 9, kTurnedPhoto = 10, kUpsideDownScan = 11, kSidewaysPdf = 12,
              kPartlySearchablePdf = 13, kFaxWithBlankBack = 14;

// linn.png, the corpus's letter-size page at 300 dpi.
image::Raster LinnPage() {
    image::Raster page = *image::ReadRaster((CorpusDir() / "linn.png").string());
    page.xDpi = page.yDpi = 300;
    return page;
}

// A JPEG whose pixels lie a quarter turn anticlockwise and whose Exif orientation (6) asks for
// the quarter turn back: a phone photo of a letter.
void WriteTurnedPhoto(const fs::path& target) {
    image::WriteRasterFile(image::Turned(LinnPage(), 270), target.string(), image::FileFormat::Jpeg);
    WriteFile(target, WithExifOrientation(ReadFile(target), 6));
}

// ccitt.pdf with /Rotate 90 in its page, so that it is shown lying on its side; written over
// its media box's own bytes, so every offset stays.
void WriteSidewaysPdf(const fs::path& target) {
    std::string pdf = ReadFile(CorpusDir() / "ccitt.pdf");
    const std::string mediaBox = "/MediaBox [0.0000 0.0000 612.0000 792.0000]";
    std::string turned = "/Rotate 90 /MediaBox [0 0 612 792]";
    turned.resize(mediaBox.size(), ' ');
    pdf.replace(pdf.find(mediaBox), mediaBox.size(), turned);
    WriteFile(target, pdf);
}

// One cycle over every kind of attachment, shared by the tests below: the chain takes minutes
// of recognition, the checks take none.
class Chain : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        world_ = new E2eWorld("kvo-e2e");
        E2eWorld& w = *world_;
        // The road of one attachment: a three-page fax in a folder with blanks, an apostrophe and
        // letters beyond ASCII, listed by both host tables.
        const fs::path fax = w.makeG4Tiff("Dossier Müller/O'Brien fax.tif", {"ccitt.pdf", "francais.pdf", "ccitt.pdf"});
        w.addAttachment("DiaryAttachments", kFax, "tif", fax);
        w.addAttachment("CloseDiaryAttachments", kFax, "TIF", fax);
        // A sheet scanned on both sides, its back blank.
        w.addAttachment("DiaryAttachments", kFaxWithBlankBack, "TIF",
                        w.makeG4Tiff("Both sides.tif", {"ccitt.pdf", "trivial.pdf"}));
        w.addAttachment("CloseDiaryAttachments", kJpeg, "JPEG", w.makeJpeg("Photo of letter.jpeg", "francais.pdf"));
        w.addAttachment("DiaryAttachments", kScannedPdf, "PDF", w.copyDocument("Product sheet.pdf", "ccitt.pdf"));
        w.addAttachment("DiaryAttachments", kSearchablePdf, "PDF", w.copyDocument("Chart.pdf", "graph_ocred.pdf"));
        // A scanned page, a page with a text layer of its own, a scanned page.
        w.addAttachment("DiaryAttachments", kPartlySearchablePdf, "PDF",
                        w.makeJoinedPdf("Filing with exhibits.pdf", {"ccitt.pdf", "graph_ocred.pdf", "ccitt.pdf"}));
        w.addAttachment("DiaryAttachments", kDamagedPdf, "PDF", w.copyDocument("Damaged.pdf", "invalid.pdf"));
        WriteFile(w.docPath("Empty.tif"), "");
        w.addAttachment("DiaryAttachments", kEmptyTiff, "TIF", w.docPath("Empty.tif"));
        w.addAttachment("DiaryAttachments", kMissing, "TIF", w.docPath("Lost.tif"));
        w.addAttachment("DiaryAttachments", kPng, "PNG", w.copyDocument("Scan.png", "linn.png"));
        // Pages lying otherwise than upright, or on coarser rows than columns.
        const image::Raster standardFax = image::Scaled(LinnPage(), 204.0 / 300, 98.0 / 300);
        image::WriteRasterFile(standardFax, w.docPath("Standard fax.tif").string(), image::FileFormat::TiffG3);
        w.addAttachment("DiaryAttachments", kStandardFax, "TIF", w.docPath("Standard fax.tif"));
        WriteTurnedPhoto(w.docPath("Turned photo.jpg"));
        w.addAttachment("DiaryAttachments", kTurnedPhoto, "JPG", w.docPath("Turned photo.jpg"));
        image::WriteRasterFile(image::Turned(LinnPage(), 180), w.docPath("Upside down.tif").string(), image::FileFormat::TiffG4);
        w.addAttachment("DiaryAttachments", kUpsideDownScan, "TIF", w.docPath("Upside down.tif"));
        WriteSidewaysPdf(w.docPath("Sideways.pdf"));
        w.addAttachment("DiaryAttachments", kSidewaysPdf, "PDF", w.docPath("Sideways.pdf"));
        originals_ = new std::map<std::string, std::string>;
        for (const char* name : {"Dossier Müller/O'Brien fax.tif", "Chart.pdf", "Damaged.pdf", "Empty.tif"})
            (*originals_)[name] = ReadFile(w.docPath(name));
        exitStatus_ = w.runOnce(&report_);
    }
    static void TearDownTestSuite() {
        delete world_;
        delete originals_;
    }

    static const E2eWorld& world() { return *world_; }
    static std::optional<int> status(int id) {
        auto rows = world_->rows();
        return rows.count(id) ? rows[id].processed : std::nullopt;
    }
    static bool unchanged(const std::string& name) { return ReadFile(world_->docPath(name)) == originals_->at(name); }
    // How much more the first page of `pdf` looks like linn.png upright than upside down: the
    // mean difference from an upside-down copy over that from an upright one, on a rendering at
    // 20 dpi whose full width the picture spans from the top.
    static double UprightLikeness(const fs::path& pdf) {
        const fs::path rendered = world_->docs / "rendered";
        CommandOutput("pdftoppm -r 20 -gray -f 1 -l 1 -singlefile " + ShellQuoted(pdf.string()) + " " +
                      ShellQuoted(rendered.string()));
        const image::Raster page = *image::ReadRaster(rendered.string() + ".pgm");
        const image::Raster upright = image::Reduced(LinnPage(), page.width / 2550.0);
        const image::Raster upsideDown = image::Turned(upright, 180);
        const auto difference = [&](const image::Raster& reference) {
            double sum = 0;
            const int rows = std::min(page.height, reference.height), columns = std::min(page.width, reference.width);
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < columns; ++x)
                    sum += std::abs(int(page.pixels[y * page.stride + x]) - int(reference.pixels[y * reference.stride + x]));
            return sum / (rows * columns);
        };
        return difference(upsideDown) / difference(upright);
    }
    static double LinnRecall(const std::string& text) {
        return Recall(WordsOf(ReadFile(CorpusDir() / "linn.txt")), text);
    }

    static E2eWorld* world_;
    static std::map<std::string, std::string>* originals_;
    static std::string report_;
    static int exitStatus_;
};

E2eWorld* Chain::world_ = nullptr;
std::map<std::string, std::string>* Chain::originals_ = nullptr;
std::string Chain::report_;
int Chain::exitStatus_ = -1;

TEST_F(Chain, TheCycleEndsNormallyAndReportsEveryRow) {
    EXPECT_EQ(exitStatus_, 0) << report_;
    for (int id : {kFax, kJpeg, kScannedPdf, kSearchablePdf, kDamagedPdf, kEmptyTiff, kMissing})
        EXPECT_NE(report_.find(std::to_string(id) + " "), std::string::npos) << id << " missing in\n" << report_;
}

TEST_F(Chain, AFaxBecomesAThreePageSearchablePdfBesideItAndBothHostTablesPointAtIt) {
    const fs::path result = world().docPath("Dossier Müller/O'Brien fax.PDF");
    ASSERT_TRUE(fs::exists(result)) << report_;
    EXPECT_EQ(status(kFax), 2);
    EXPECT_TRUE(unchanged("Dossier Müller/O'Brien fax.tif"));
    for (const char* table : {"DiaryAttachments", "CloseDiaryAttachments", "DASearchable"}) {
        HostRow row = world().rows(table).at(kFax);
        EXPECT_EQ(row.type, "PDF") << table;
        EXPECT_EQ(row.filePath.value_or(""), result.string()) << table;
    }

    ASSERT_EQ(PdfPageCount(result), 3);
    const std::string sizes = CommandOutput("pdfinfo -f 1 -l 3 " + ShellQuoted(result.string()));
    std::size_t a4Pages = 0;
    for (std::size_t at = sizes.find("(A4)"); at != std::string::npos; at = sizes.find("(A4)", at + 1)) ++a4Pages;
    EXPECT_EQ(a4Pages, 3u) << sizes;
    // The pages keep their order: the product sheet, the French letter, the product sheet.
    EXPECT_GE(LinnRecall(PdfText(result, 1)), 0.95);
    EXPECT_LT(LinnRecall(PdfText(result, 2)), 0.2);
    EXPECT_NE(PdfText(result, 2).find("whisky"), std::string::npos);
    EXPECT_GE(LinnRecall(PdfText(result, 3)), 0.95);
}

// A blank page is recognised like any other and rightly gives no text; the document's other
// pages carry it.
TEST_F(Chain, AScanWithABlankPageIsConvertedWhole) {
    const fs::path result = world().docPath("Both sides.PDF");
    ASSERT_TRUE(fs::exists(result)) << report_;
    EXPECT_EQ(status(kFaxWithBlankBack), 2);
    ASSERT_EQ(PdfPageCount(result), 2);
    EXPECT_GE(LinnRecall(PdfText(result, 1)), 0.95);
}

TEST_F(Chain, AScannedPdfGetsItsTextLayerAsADoubleSuffixedCopy) {
    const fs::path result = world().docPath("Product sheet.PDF.PDF");
    ASSERT_TRUE(fs::exists(result)) << report_;
    EXPECT_EQ(status(kScannedPdf), 2);
    EXPECT_EQ(world().rows("DiaryAttachments").at(kScannedPdf).filePath.value_or(""), result.string());
    EXPECT_TRUE(fs::exists(world().docPath("Product sheet.pdf")));
    EXPECT_EQ(PdfPageCount(result), 1);
    EXPECT_GE(LinnRecall(PdfText(result)), 0.95);
}

TEST_F(Chain, APartlySearchablePdfGetsTextOnItsScannedPagesOnly) {
    const fs::path result = world().docPath("Filing with exhibits.PDF.PDF");
    ASSERT_TRUE(fs::exists(result)) << report_;
    EXPECT_EQ(status(kPartlySearchablePdf), 2);
    ASSERT_EQ(PdfPageCount(result), 3);
    EXPECT_GE(LinnRecall(PdfText(result, 1)), 0.95);
    EXPECT_GE(LinnRecall(PdfText(result, 3)), 0.95);
    // The page with text of its own is kept as it is: its text once, not recognised again.
    const std::string own = PdfText(world().docPath("Filing with exhibits.pdf"), 2);
    EXPECT_FALSE(own.empty());
    EXPECT_EQ(PdfText(result, 2), own);
}

TEST_F(Chain, AJpegIsConverted) {
    const fs::path result = world().docPath("Photo of letter.PDF");
    ASSERT_TRUE(fs::exists(result)) << report_;
    EXPECT_EQ(status(kJpeg), 2);
    EXPECT_EQ(world().rows("CloseDiaryAttachments").at(kJpeg).filePath.value_or(""), result.string());
    EXPECT_NE(PdfText(result).find("whisky"), std::string::npos) << PdfText(result);
}

TEST_F(Chain, AStandardFaxPageKeepsItsPapersShape) {
    const fs::path result = world().docPath("Standard fax.PDF");
    ASSERT_TRUE(fs::exists(result)) << report_;
    // pdfimages: page num type width height color comp bpc enc interp object ID x-ppi y-ppi ...
    std::istringstream listing(CommandOutput("pdfimages -list " + ShellQuoted(result.string()) + " | tail -n +3"));
    std::string page, num, type, color, comp, bpc, encoding, interp, object, id;
    double width = 0, height = 0, xPpi = 0, yPpi = 0;
    listing >> page >> num >> type >> width >> height >> color >> comp >> bpc >> encoding >> interp >> object >> id >> xPpi >> yPpi;
    EXPECT_EQ(encoding, "ccitt");  // the fax's own data
    ASSERT_GT(xPpi * yPpi, 0);
    EXPECT_NEAR((width / xPpi) / (height / yPpi), 8.5 / 11, 0.02 * 8.5 / 11);
    EXPECT_GT(UprightLikeness(result), 1.5);
    EXPECT_GE(LinnRecall(PdfText(result)), 0.5);
}

TEST_F(Chain, PagesLyingTurnedAreRecognisedAndShownUpright) {
    const double uprightRecall = LinnRecall(PdfText(world().docPath("Product sheet.PDF.PDF")));
    for (const char* name : {"Turned photo.PDF", "Upside down.PDF"}) {
        const fs::path result = world().docPath(name);
        ASSERT_TRUE(fs::exists(result)) << name << "\n" << report_;
        EXPECT_GE(LinnRecall(PdfText(result)), 0.95 * uprightRecall) << name;
        EXPECT_GT(UprightLikeness(result), 1.5) << name;
    }
    // The photo is shown from its own data, turned by the drawing.
    const std::string photo = ReadFile(world().docPath("Turned photo.jpg"));
    EXPECT_NE(ReadFile(world().docPath("Turned photo.PDF")).find(photo.substr(photo.size() / 2, 4096)), std::string::npos);
}

TEST_F(Chain, AKeptPageLyingSidewaysIsGivenTheRotationThatShowsItUpright) {
    const fs::path result = world().docPath("Sideways.PDF.PDF");
    ASSERT_TRUE(fs::exists(result)) << report_;
    EXPECT_NE(CommandOutput("pdfinfo " + ShellQuoted(result.string())).find("Page rot:        0"), std::string::npos);
    EXPECT_GE(LinnRecall(PdfText(result)), 0.95 * LinnRecall(PdfText(world().docPath("Product sheet.PDF.PDF"))));
}

TEST_F(Chain, AnAlreadySearchablePdfIsLeftAsItIs) {
    EXPECT_EQ(status(kSearchablePdf), 3);
    EXPECT_TRUE(unchanged("Chart.pdf"));
    EXPECT_FALSE(fs::exists(world().docPath("Chart.PDF.PDF")));
    EXPECT_EQ(world().rows("DiaryAttachments").at(kSearchablePdf).type, "PDF");
}

TEST_F(Chain, DamagedInputGetsAClearOutcomeAndIsNeverTouched) {
    EXPECT_EQ(status(kDamagedPdf), 5);
    EXPECT_EQ(status(kEmptyTiff), 5);
    EXPECT_TRUE(unchanged("Damaged.pdf"));
    EXPECT_TRUE(unchanged("Empty.tif"));
    EXPECT_NE(report_.find("Empty.tif: status 5, none of its pages can be read"), std::string::npos) << report_;
    for (const char* name : {"Damaged.PDF.PDF", "Empty.PDF", "Empty.tif.TIFF"})
        EXPECT_FALSE(fs::exists(world().docPath(name))) << name;
    EXPECT_EQ(world().rows("DiaryAttachments").at(kDamagedPdf).filePath.value_or(""),
              world().docPath("Damaged.pdf").string());
}

TEST_F(Chain, AMissingAttachmentIsFinishedAndAPngIsNeverQueued) {
    EXPECT_EQ(status(kMissing), 2);
    EXPECT_EQ(world().rows("DiaryAttachments").at(kMissing).type, "TIF");
    EXPECT_EQ(status(kPng), 5);
    EXPECT_FALSE(fs::exists(world().docPath("Scan.PDF")));
}

// Nothing of a client's pages: no page picture (the last one's KVOOCR.bmp neither), no
// Ghostscript rewrite of a document, no result.
TEST_F(Chain, TheWorkFolderKeepsNoPageFilesOrResults) {
    for (const std::string& name : world().tempFiles()) {
        EXPECT_EQ(name.find(".bmp"), std::string::npos) << name;
        EXPECT_NE(name, "KVOOCR.pdf");
        EXPECT_NE(name, "KVOOCR.doc");
        EXPECT_FALSE(name.size() > 4 && (name.ends_with(".pdf") || name.ends_with(".tif"))) << name;
    }
}

}  // namespace
}  // namespace kvo::test
