// The real OCR program, with the real KVOOCRSave beside it and the real Tesseract.
#include "TestBitmap.h"
#include "ocrengine/EngineDocument.h"
#include "shared/xml/XmlDocument.h"
#include "support/PdfTools.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

namespace kvo::ocr {
namespace {

namespace fs = std::filesystem;
using kvo::test::EnvVar;
using kvo::test::ReadFile;
using kvo::test::ScratchDir;
using kvo::test::WriteFile;

using kvo::test::Recall;
using kvo::test::WordBag;
using kvo::test::WordsOf;

class KVOOCRProgram : public ::testing::Test {
protected:
    ScratchDir scratch{"kvo-ocr"};
    fs::path temp = scratch / "temp";
    fs::path app = scratch / "app";
    fs::path windows = scratch / "windows";
    EnvVar tempVariable{"TEMP", temp.string()};
    EnvVar windowsVariable{"windir", windows.string()};
    EnvVar threadVariable{"OMP_THREAD_LIMIT", std::nullopt};  // the program sees to it itself

    void SetUp() override {
        fs::create_directories(temp);
        fs::create_directories(windows);
        kvo::test::InstallProgram(kvo::test::BinDir() / "KVOOCR", app, "KVOOCR");
        kvo::test::InstallProgram(kvo::test::BinDir() / "KVOOCRSave", app, "KVOOCRSave");
    }

    // Runs KVOOCR; gives its standard error, and expects no standard output.
    std::string RunOcr() {
        const fs::path out = scratch / "stdout.txt", err = scratch / "stderr.txt";
        const std::string command = "'" + (app / "KVOOCR").string() + "' >'" + out.string() + "' 2>'" + err.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(ReadFile(out), "");
        return ReadFile(err);
    }

    void WriteStaleResults() {
        WriteFile(temp / "KVOOCR.mdi", "<stale/>");
        WriteFile(temp / "KVOOCR.mdi.xml", "<stale/>");
    }

    bool AnyResult() const { return fs::exists(temp / "KVOOCR.mdi") || fs::exists(temp / "KVOOCR.mdi.xml"); }
};

TEST_F(KVOOCRProgram, RecognisesTheCorpusPageAsWellAsTheTesseractCommand) {
    const std::optional<image::Raster> page = image::ReadRaster((kvo::test::CorpusDir() / "linn.png").string());
    ASSERT_TRUE(page);
    test::WriteBmp24(*page, temp / "KVOOCR.bmp", 300);
    WriteStaleResults();

    EXPECT_EQ(RunOcr(), "");

    EngineDocument engine;
    engine.Create((temp / "KVOOCR.mdi").string());
    EXPECT_EQ(engine.PixelWidth(), 2550);
    EXPECT_EQ(engine.PixelHeight(), 3300);
    const std::optional<long> lines = engine.NumberOfLines();
    ASSERT_TRUE(lines);
    EXPECT_GT(*lines, 40);

    xml::Document layout;
    ASSERT_TRUE(layout.load((temp / "KVOOCR.mdi.xml").string()));
    EXPECT_EQ(layout.selectNodes("pagewords/sections/section").size(), static_cast<std::size_t>(*lines))
        << "every engine line has words, so every line number gets its section";
    EXPECT_EQ(layout.selectNodes("pagewords/word").size(), static_cast<std::size_t>(engine.WordCount()));
    std::string lineTexts;
    for (const xml::Node& line : layout.selectNodes("pagewords/sections/section/line"))
        lineTexts += line.attribute("text").value_or("") + "\n";

    const fs::path command = scratch / "command";
    const std::string tesseract = "OMP_THREAD_LIMIT=1 tesseract '" + (temp / "KVOOCR.bmp").string() + "' '" +
                                  command.string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(tesseract.c_str()), 0);

    const WordBag reference = WordsOf(ReadFile(kvo::test::CorpusDir() / "linn.txt"));
    const double ours = Recall(reference, lineTexts);
    const double theirs = Recall(reference, ReadFile(command.string() + ".txt"));
    EXPECT_GE(ours, 0.95);
    EXPECT_GE(ours, theirs - 0.01) << "tesseract command: " << theirs;
    RecordProperty("recall", std::to_string(ours));
}

TEST_F(KVOOCRProgram, ASkewedPageIsReadStraightenedAndItsWordsStayWhereThePageShowsThem) {
    // The corpus page scanned 3 degrees askew: its lines run down to the right.
    const std::optional<image::Raster> page = image::ReadRaster((kvo::test::CorpusDir() / "linn.png").string());
    ASSERT_TRUE(page);
    const image::Raster skewed = image::Rotated(*page, 3);
    test::WriteBmp24(skewed, temp / "KVOOCR.bmp", 300);
    EXPECT_EQ(RunOcr(), "");

    EngineDocument engine;
    engine.Create((temp / "KVOOCR.mdi").string());
    EXPECT_EQ(engine.PixelWidth(), skewed.width) << "the boxes belong to the page as it lies";
    EXPECT_EQ(engine.PixelHeight(), skewed.height);
    std::string text;
    std::vector<double> slopes;
    for (int i = 0; i < engine.WordCount(); ++i) {
        const Word& word = engine.WordAt(i);
        text += word.text + " ";
        EXPECT_GE(word.rect.left, 0);
        EXPECT_LE(word.rect.right, skewed.width);
        const double length = word.baseEnd.x - word.baseStart.x;
        if (word.text.size() >= 6 && length > 0) slopes.push_back((word.baseEnd.y - word.baseStart.y) / length);
    }
    EXPECT_GE(Recall(WordsOf(ReadFile(kvo::test::CorpusDir() / "linn.txt")), text), 0.95);
    ASSERT_GT(slopes.size(), 20u);
    std::nth_element(slopes.begin(), slopes.begin() + slopes.size() / 2, slopes.end());
    EXPECT_NEAR(std::atan(slopes[slopes.size() / 2]) * 180 / M_PI, 3, 0.5) << "the baselines run as askew as the print";
}

TEST_F(KVOOCRProgram, AMissingLanguageIsReportedOnOneLineAndLeavesNoResult) {
    image::Raster blank{400, 400, 8, 300, 300, 400, std::vector<std::uint8_t>(400 * 400, 255)};
    test::WriteBmp24(blank, temp / "KVOOCR.bmp", 300);
    WriteFile(windows / "console.ini", "[OCR]\r\nLanguages=eng + kvoxx\r\n");
    WriteStaleResults();

    const std::string message = RunOcr();
    EXPECT_NE(message.find("\"kvoxx\" is not installed"), std::string::npos) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_FALSE(AnyResult());
}

TEST_F(KVOOCRProgram, AMissingOrUnreadableBitmapLeavesNoResult) {
    WriteStaleResults();
    EXPECT_EQ(RunOcr(), "");
    EXPECT_FALSE(AnyResult()) << "earlier results are removed";

    WriteFile(temp / "KVOOCR.bmp", std::string("BM") + std::string(100, '\x7f'));
    WriteStaleResults();
    EXPECT_EQ(RunOcr(), "");
    EXPECT_FALSE(AnyResult());
}

}  // namespace
}  // namespace kvo::ocr
