// The PDF splitter with real Ghostscript and a stand-in OCR program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <sstream>

#include "TestPdf.h"
#include "support/PdfAssembly.h"
#include "pdfsplit/KVOPDFSplitterMod.h"
#include "shared/AppTester.h"
#include "shared/ChildProcess.h"
#include "shared/platform/Clock.h"
#include "shared/platform/CommandLine.h"
#include "shared/xml/XmlDocument.h"
#include "support/TestSupport.h"

namespace kvo::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;
namespace mod = KVOPDFSplitterMod;

std::uint32_t LittleEndianAt(const std::string& bytes, std::size_t offset, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes.at(offset + i));
    return value;
}

struct BitmapHeader {
    std::uint32_t width, height, bitsPerPixel, pixelsPerMetre;
};

BitmapHeader ReadBitmapHeader(const fs::path& file) {
    const std::string bytes = ReadFile(file);
    EXPECT_EQ(bytes.substr(0, 2), "BM") << file;
    return {LittleEndianAt(bytes, 18, 4), LittleEndianAt(bytes, 22, 4), LittleEndianAt(bytes, 28, 2),
            LittleEndianAt(bytes, 38, 4)};
}

class PdfSplitterTest : public ::testing::Test {
protected:
    PdfSplitterTest() {
        InstallProgram(HelperDir() / "stand_in_ocr", app_.path(), "KVOOCR");
        WriteFile(layout_, "<pagewords><sections/></pagewords>");
    }

    // KVOCurr.xml as the pipeline writes it for this attachment.
    void OrderPdf(const std::string& attachment) {
        xml::Document current;
        xml::Node file = current.appendElement("File");
        file.setAttribute("name", attachment);
        file.setAttribute("processed", "0");
        current.save(Temp("KVOCurr.xml").string());
    }

    fs::path CopyFromCorpus(const std::string& name) {
        fs::copy_file(CorpusDir() / name, docs_ / name);
        return docs_ / name;
    }

    fs::path WriteDocument(const std::string& name, const std::string& content) {
        WriteFile(docs_ / name, content);
        return docs_ / name;
    }

    // The `path` of every listed page, and the processed mark of File.
    std::vector<std::string> ListedPages() const {
        xml::Document current;
        current.load(Temp("KVOCurr.xml").string());
        std::vector<std::string> paths;
        for (const xml::Node& image : current.selectNodes("File/image")) {
            EXPECT_EQ(image.attribute("processed"), "0");
            paths.push_back(image.attribute("path").value_or(""));
        }
        return paths;
    }
    // Per listed page: whether it is to be kept as it is.
    std::vector<bool> KeptAsIs() const {
        xml::Document current;
        current.load(Temp("KVOCurr.xml").string());
        std::vector<bool> kept;
        for (const xml::Node& image : current.selectNodes("File/image")) kept.push_back(image.attribute("keep") == "as-is");
        return kept;
    }
    std::string OrderMark() const {
        xml::Document current;
        current.load(Temp("KVOCurr.xml").string());
        return current.selectSingleNode("File").attribute("processed").value_or("-");
    }

    // The size of KVOOCR.bmp at each OCR call.
    std::vector<std::uintmax_t> OcrInputSizes() const {
        std::vector<std::uintmax_t> sizes;
        std::istringstream log(ReadFile(ocrLog_));
        for (std::string line; std::getline(log, line);) sizes.push_back(std::stoull(line));
        return sizes;
    }

    fs::path Temp(const std::string& name) const { return temp_ / name; }
    std::string TempPath(const std::string& name) const { return (temp_ / name).string(); }

    ScratchDir app_{"kvo-pdfsplit-app"};
    ScratchDir temp_{"kvo pdfsplit temp"};  // a blank in the work folder's path, too
    ScratchDir docs_{"kvo-pdfsplit-docs"};
    ScratchDir logs_{"kvo-pdfsplit-logs"};
    fs::path layout_ = logs_ / "layout.xml";
    fs::path ocrLog_ = logs_ / "ocr.log";
    EnvVar tempVar_{"TEMP", temp_.str()};
    EnvVar layoutVar_{"KVO_STANDIN_LAYOUT", layout_.string()};
    EnvVar ocrLogVar_{"KVO_STANDIN_OCR_LOG", ocrLog_.string()};
};

TEST_F(PdfSplitterTest, AScannedPageIsRenderedRecognisedAndListed) {
    OrderPdf(CopyFromCorpus("ccitt.pdf").string());
    mod::SplitCurrentOrder(app_.str());

    EXPECT_THAT(ListedPages(), ElementsAre(TempPath("ccitt1.bmp")));
    EXPECT_EQ(OrderMark(), "1");
    const BitmapHeader page = ReadBitmapHeader(Temp("ccitt1.bmp"));
    EXPECT_EQ(page.width, 2550u);
    EXPECT_EQ(page.height, 3300u);
    EXPECT_EQ(page.bitsPerPixel, 8u);
    EXPECT_EQ(page.pixelsPerMetre, 11811u);
    EXPECT_EQ(ReadFile(Temp("ccitt1.bmp.xml")), ReadFile(layout_));
    EXPECT_EQ(ReadFile(Temp("KVOOCR.bmp")), ReadFile(Temp("ccitt1.bmp")));
    EXPECT_THAT(OcrInputSizes(), ElementsAre(fs::file_size(Temp("ccitt1.bmp"))));
}

TEST_F(PdfSplitterTest, TheInstalledProgramSplitsAnIllustratedPage) {
    InstallProgram(BinDir() / "KVOPDFSplitter", app_.path(), "KVOPDFSplitter");
    fs::remove(layout_);  // the OCR program finds nothing to read: the page is listed all the same
    OrderPdf(CopyFromCorpus("c02-22.pdf").string());
    EXPECT_TRUE(RunChild({.arguments = {(app_ / "KVOPDFSplitter").string()}}, TimeLimit::Seconds(600)).exitedWith(0));

    EXPECT_THAT(ListedPages(), ElementsAre(TempPath("c02-221.bmp")));
    EXPECT_EQ(OrderMark(), "1");
    EXPECT_EQ(ReadBitmapHeader(Temp("c02-221.bmp")).bitsPerPixel, 8u);
    // A grey scan keeps its grey levels; a 16-colour halftone of it would hide every word.
    const std::string bytes = ReadFile(Temp("c02-221.bmp"));
    const std::set<char> levels(bytes.begin() + LittleEndianAt(bytes, 10, 4), bytes.end());
    EXPECT_GT(levels.size(), 100u);
    EXPECT_FALSE(fs::exists(Temp("c02-221.bmp.xml")));
    EXPECT_THAT(OcrInputSizes(), SizeIs(1));
}

TEST_F(PdfSplitterTest, TwelvePagesAreRecognisedAndListedInNumericOrder) {
    std::vector<int> widths;
    for (int page = 1; page <= 12; ++page) widths.push_back(100 + 10 * page);
    OrderPdf(WriteDocument("Twelve.pdf", MakePdf(widths, 12 * 10000)).string());
    mod::SplitCurrentOrder(app_.str());

    std::vector<std::string> expected;
    std::vector<std::uintmax_t> sizes;
    for (int page = 1; page <= 12; ++page) {
        const std::string bitmap = "Twelve" + std::to_string(page) + ".bmp";
        expected.push_back(TempPath(bitmap));
        sizes.push_back(fs::file_size(Temp(bitmap)));
        widths[page - 1] = static_cast<int>(ReadBitmapHeader(Temp(bitmap)).width);
        EXPECT_TRUE(fs::exists(Temp(bitmap + ".xml"))) << bitmap;
    }
    EXPECT_TRUE(std::is_sorted(widths.begin(), widths.end()) && widths.front() < widths.back());
    EXPECT_EQ(ListedPages(), expected);
    EXPECT_EQ(OcrInputSizes(), sizes);  // the pages differ in width, so their sizes tell them apart
}

TEST_F(PdfSplitterTest, ACompactDocumentIsRecognisedPageByPage) {
    // Under 10,000 bytes a page, as a G4 scan in a PDF is: every page is still recognised.
    OrderPdf(WriteDocument("Thin.pdf", MakePdf({150, 160, 170})).string());
    mod::SplitCurrentOrder(app_.str());
    EXPECT_THAT(ListedPages(), ElementsAre(TempPath("Thin1.bmp"), TempPath("Thin2.bmp"), TempPath("Thin3.bmp")));
    EXPECT_THAT(OcrInputSizes(), SizeIs(3));
}

TEST_F(PdfSplitterTest, WithoutGhostscriptNothingIsRenderedAndEarlierPagesAreGone) {
    ScratchDir windows("kvo-pdfsplit-windows");  // no registry hive in it
    EnvVar windir("windir", windows.str());
    EnvVar path("PATH", "/nonexistent");
    for (const char* stale : {"Doc1.bmp", "Doc1.bmp.xml", "Doc17.bmp"}) WriteFile(Temp(stale), "earlier run");
    OrderPdf(WriteDocument("Doc.pdf", MakePdf({150}, 20000)).string());
    const std::string before = ReadFile(Temp("KVOCurr.xml"));
    mod::SplitCurrentOrder(app_.str());

    EXPECT_EQ(ReadFile(Temp("KVOCurr.xml")), before);
    for (const char* stale : {"Doc1.bmp", "Doc1.bmp.xml", "Doc17.bmp"}) EXPECT_FALSE(fs::exists(Temp(stale))) << stale;
    EXPECT_THAT(OcrInputSizes(), IsEmpty());
}

TEST_F(PdfSplitterTest, ARenderingThatIsNotWholeListsNoPage) {
    const fs::path realGhostscript = "/usr/bin/gs";
    ASSERT_TRUE(fs::exists(realGhostscript));
    ScratchDir gsFolder("kvo-pdfsplit-gs");
    InstallProgram(HelperDir() / "gs_faults", gsFolder.path(), "gs");
    ScratchDir windows("kvo-pdfsplit-windows");  // no registry hive: gs is taken from PATH
    EnvVar windir("windir", windows.str());
    EnvVar path("PATH", gsFolder.str());
    EnvVar real("KVO_GS_REAL", realGhostscript.string());
    const fs::path document = WriteDocument("Doc.pdf", MakePdf({150, 160}, 20000));

    const std::string faults[] = {"status 1", "signal 9", "remove " + TempPath("Doc2.bmp"), "cut " + TempPath("Doc2.bmp"),
                                  "hang"};
    for (const std::string& fault : faults) {
        SCOPED_TRACE(fault);
        EnvVar faultVar("KVO_GS_FAULT", fault);
        OrderPdf(document.string());
        const std::string before = ReadFile(Temp("KVOCurr.xml"));
        // The monotonic clock runs three hours a look: the first look is past the limit.
        SteadyPoint steady{};
        if (fault == "hang")
            SetClockForTesting([] { return std::chrono::system_clock::now(); },
                               [&] { return steady += std::chrono::hours(3); });
        // Ended from outside is the machine's fault, told apart so that the row is tried again.
        if (fault == "hang" || fault == "signal 9")
            EXPECT_THROW(mod::SplitCurrentOrder(app_.str()), EndedFromOutside);
        else
            EXPECT_NO_THROW(mod::SplitCurrentOrder(app_.str()));
        SetClockForTesting(nullptr);
        EXPECT_EQ(ReadFile(Temp("KVOCurr.xml")), before);
        EXPECT_FALSE(IsAppRunning("gs"));
    }
    EXPECT_THAT(OcrInputSizes(), IsEmpty());

    // The same Ghostscript without a fault: both pages.
    EnvVar noFault("KVO_GS_FAULT", "");
    OrderPdf(document.string());
    mod::SplitCurrentOrder(app_.str());
    EXPECT_THAT(ListedPages(), ElementsAre(TempPath("Doc1.bmp"), TempPath("Doc2.bmp")));
}

TEST_F(PdfSplitterTest, AwkwardNamesReachGhostscriptIntact) {
    fs::create_directories(docs_ / "client's \"files\"");
    const std::string base = "Brief 50%d an Müller's \"Büro\" 100%";
    OrderPdf(WriteDocument("client's \"files\"/" + base + ".pdf", MakePdf({150, 160}, 20000)).string());
    mod::SplitCurrentOrder(app_.str());
    EXPECT_THAT(ListedPages(), ElementsAre(TempPath(base + "1.bmp"), TempPath(base + "2.bmp")));
    EXPECT_TRUE(fs::exists(Temp(base + "2.bmp.xml")));

    // A relative name with a leading "-" is a file, not a switch.
    const fs::path oldDirectory = fs::current_path();
    fs::current_path(docs_.path());
    WriteDocument("-dFirstPage=2.pdf", MakePdf({150, 160}, 20000));
    OrderPdf("-dFirstPage=2.pdf");
    mod::SplitCurrentOrder(app_.str());
    fs::current_path(oldDirectory);
    EXPECT_THAT(ListedPages(), ElementsAre(TempPath("-dFirstPage=21.bmp"), TempPath("-dFirstPage=22.bmp")));
}

TEST_F(PdfSplitterTest, OrdersItCannotRenderEndWithoutPagesAndABlankPageIsNotRecognised) {
    // Already split.
    OrderPdf(CopyFromCorpus("trivial.pdf").string());
    WriteFile(Temp("KVOCurr.xml"), "<File name=\"" + (docs_ / "trivial.pdf").string() + "\" processed=\"1\"/>");
    mod::SplitCurrentOrder(app_.str());
    EXPECT_FALSE(fs::exists(Temp("trivial1.bmp")));

    // One page that draws nothing: listed to be kept as it is, neither rendered nor recognised.
    OrderPdf((docs_ / "trivial.pdf").string());
    mod::SplitCurrentOrder(app_.str());
    EXPECT_THAT(ListedPages(), ElementsAre(TempPath("trivial1.bmp")));
    EXPECT_THAT(KeptAsIs(), ElementsAre(true));
    EXPECT_EQ(OrderMark(), "1");
    EXPECT_FALSE(fs::exists(Temp("trivial1.bmp")));
    EXPECT_THAT(OcrInputSizes(), IsEmpty());

    // A damaged PDF: Ghostscript writes no page.
    OrderPdf(CopyFromCorpus("invalid.pdf").string());
    mod::SplitCurrentOrder(app_.str());
    EXPECT_THAT(ListedPages(), IsEmpty());
    EXPECT_EQ(OrderMark(), "0");
    EXPECT_FALSE(fs::exists(Temp("invalid1.bmp")));

    // A PDF that is not there cannot be counted: the order stays as it was.
    OrderPdf((docs_ / "missing.pdf").string());
    mod::SplitCurrentOrder(app_.str());
    EXPECT_EQ(OrderMark(), "0");
    EXPECT_THAT(OcrInputSizes(), IsEmpty());
}

TEST_F(PdfSplitterTest, OnlyPagesWithoutTextAreRenderedEachWithinThePixelBound) {
    // A scanned page, a page of text, a blank page and a poster of 250 x 500 inches (in a unit
    // of one inch), which at 300 dpi would take 11 GB.
    const std::string bars = "0 g 10 10 40 40 re f";
    const std::string text = "BT /F1 12 Tf 10 60 Td (Typed cover sheet) Tj ET";
    const std::string poster = "0 g 10 10 100 200 re f";
    const std::string pdf = AssemblePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R] /Count 4 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 216 100] /Contents 7 0 R >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 8 0 R /Resources << /Font << /F1 10 0 R >> >> >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 250 500] /UserUnit 72 /Contents 9 0 R >>",
        "<< /Length " + std::to_string(bars.size()) + " >>\nstream\n" + bars + "\nendstream",
        "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream",
        "<< /Length " + std::to_string(poster.size()) + " >>\nstream\n" + poster + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    });
    OrderPdf(WriteDocument("Mixed.pdf", pdf).string());
    mod::SplitCurrentOrder(app_.str());

    EXPECT_THAT(ListedPages(), ElementsAre(TempPath("Mixed1.bmp"), TempPath("Mixed2.bmp"), TempPath("Mixed3.bmp"),
                                           TempPath("Mixed4.bmp")));
    EXPECT_THAT(KeptAsIs(), ElementsAre(false, true, true, false));
    EXPECT_EQ(ReadBitmapHeader(Temp("Mixed1.bmp")).width, 900u);  // 3 inches at 300 dpi
    EXPECT_FALSE(fs::exists(Temp("Mixed2.bmp")));
    EXPECT_FALSE(fs::exists(Temp("Mixed3.bmp")));
    const BitmapHeader posterPage = ReadBitmapHeader(Temp("Mixed4.bmp"));
    EXPECT_EQ(posterPage.width, 250u * 17);
    EXPECT_EQ(posterPage.height, 500u * 17);
    EXPECT_TRUE(fs::exists(Temp("Mixed4.bmp.xml")));
    EXPECT_THAT(OcrInputSizes(), ElementsAre(fs::file_size(Temp("Mixed1.bmp")), fs::file_size(Temp("Mixed4.bmp"))));
}

}  // namespace
}  // namespace kvo::test
