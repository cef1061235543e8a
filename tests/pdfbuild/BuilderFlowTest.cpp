#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <map>
#include <set>

#include "pdfbuild/KVOOCRWrdMod.h"
#include "pdfbuild/KvoEngine.h"
#include "pdfbuild/PageBuilder.h"
#include "pdfbuild/PdfBuildFixtures.h"
#include "shared/pdf/PdfFile.h"

namespace kvo::pdfbuild {
namespace {

namespace fs = std::filesystem;

// What the engines of one run do wrong, and what they were asked to do.
struct Plan {
    bool neverStarts = false;
    std::map<std::string, int> openFailures;    // page document file name -> failures left
    std::map<std::string, int> appendFailures;  // page marker text -> failures left
    bool reopenFails = false;
    int saveFailures = 0;
    std::string version = "12.0";
    bool mappedExportFails = false;
    bool builtInExportFails = false;
    std::set<std::string> unsavedPages;  // page documents "saved" without a file

    int starts = 0;
    int pageOpens = 0;
    std::vector<ExportRoute> exports;
};

bool ConsumeFailure(std::map<std::string, int>& failures, const std::string& key) {
    auto found = failures.find(key);
    if (found == failures.end() || found->second == 0) return false;
    --found->second;
    return true;
}

std::string MarkerOf(const PageDocument& page) {
    std::string marker;
    for (const TextBoxShape& box : page.textBoxes) marker += box.text;
    return marker;
}

// The real engine with failures on demand.
class FailingEngine : public KvoEngine {
public:
    explicit FailingEngine(Plan& plan) : plan_(plan) {}

    std::string version() const override { return plan_.version; }

    PageDocument openPageDocument(const std::string& path) override {
        ++plan_.pageOpens;
        if (ConsumeFailure(plan_.openFailures, fs::path(path).filename().string())) throw EngineError("open fails");
        return KvoEngine::openPageDocument(path);
    }

    void savePageDocument(const PageDocument& page, const std::string& path) override {
        if (!plan_.unsavedPages.count(fs::path(path).filename().string())) KvoEngine::savePageDocument(page, path);
    }

    AssembledDocument openAssembledDocument(const std::string& path) override {
        if (plan_.reopenFails) throw EngineError("reopen fails");
        return KvoEngine::openAssembledDocument(path);
    }

    void appendPage(AssembledDocument& document, const PageDocument& page) override {
        if (ConsumeFailure(plan_.appendFailures, MarkerOf(page))) throw EngineError("paste fails");
        KvoEngine::appendPage(document, page);
    }

    void save(AssembledDocument& document) override {
        if (plan_.saveFailures > 0) {
            --plan_.saveFailures;
            throw EngineError("disk full");
        }
        KvoEngine::save(document);
    }

    void exportPdf(const AssembledDocument& document, const std::string& pdfPath, ExportRoute route) override {
        plan_.exports.push_back(route);
        if (route == ExportRoute::MappedFaces ? plan_.mappedExportFails : plan_.builtInExportFails)
            throw EngineError("export fails");
        KvoEngine::exportPdf(document, pdfPath, route);
    }

private:
    Plan& plan_;
};

class BuilderFlowTest : public ::testing::Test {
protected:
    // Page bitmaps Scan000000.bmp ... with a layout whose only line reads "page N".
    std::vector<std::string> MakePages(int count) {
        std::vector<std::string> pages;
        for (int i = 0; i < count; ++i) {
            fs::path bitmap = dir / ("Scan00000" + std::to_string(i) + ".bmp");
            test::WriteBilevelPage(bitmap, 248, 351);
            test::WriteLayout(bitmap.string() + ".xml", {{300, 150, 340, 255, "page " + std::to_string(i + 1)}});
            pages.push_back(bitmap.string());
        }
        test::WritePageList(dir.path(), pages);
        return pages;
    }

    void Run() {
        KVOOCRWrdMod::Run([this]() -> std::unique_ptr<DocumentEngine> {
            ++plan.starts;
            if (plan.neverStarts) throw EngineError("no engine");
            return std::make_unique<FailingEngine>(plan);
        });
    }

    // The assembled document as "page 1|break|page 2".
    std::string Assembled() {
        std::string items;
        DocumentReader reader((dir / "KVOOCR.doc").string());
        while (auto item = reader.next()) {
            if (!items.empty()) items += "|";
            items += std::holds_alternative<PageBreak>(*item) ? "break" : MarkerOf(std::get<PageDocument>(*item));
        }
        return items;
    }

    bool Exists(const std::string& name) const { return fs::exists(dir / name); }

    void PlantStaleOutputs() {
        for (const char* name : {"KVOOCR.doc", "KVOOCR.mdi", "KVOOCR.pdf"}) test::WriteFile(dir / name, "stale");
    }

    test::ScratchDir dir{"kvo-builder"};
    test::EnvVar temp{"TEMP", dir.str()};
    Plan plan;
};

TEST_F(BuilderFlowTest, JoinsThePagesWithBreaksBetweenThemAndWritesThePdf) {
    MakePages(3);
    Run();
    EXPECT_EQ(Assembled(), "page 1|break|page 2|break|page 3");
    EXPECT_EQ(test::PdfPageCount(dir / "KVOOCR.pdf"), 3);
    // Marked as made for the attachment the order names, and for no other.
    const auto facts = pdf::InspectPdf((dir / "KVOOCR.pdf").string());
    ASSERT_TRUE(facts);
    EXPECT_TRUE(pdf::IsResultFor(*facts, (dir / "Scan.tif").string()));
    EXPECT_FALSE(pdf::IsResultFor(*facts, (dir / "Scan2.tif").string()));
    // One engine per phase and one for the PDF, which the engine exports itself.
    EXPECT_EQ(plan.starts, 3);
    EXPECT_EQ(plan.exports, std::vector<ExportRoute>{ExportRoute::MappedFaces});
}

TEST_F(BuilderFlowTest, SinglePageGoesInWithoutABreak) {
    MakePages(1);
    Run();
    EXPECT_EQ(Assembled(), "page 1");
    EXPECT_EQ(test::PdfPageCount(dir / "KVOOCR.pdf"), 1);
}

TEST_F(BuilderFlowTest, ExistingPageDocumentsAreLeftAsTheyAreAndUsed) {
    auto pages = MakePages(2);
    // Documents from an interrupted run, made from other layouts; the first one's bitmap is gone.
    for (int i = 0; i < 2; ++i) {
        test::WriteLayout(pages[i] + ".earlier.xml", {{300, 150, 340, 318, "earlier " + std::to_string(i + 1)}});
        KvoEngine engine;
        BuildPageDocument(engine, pages[i], pages[i] + ".earlier.xml", pages[i] + ".doc");
    }
    fs::remove(pages[0]);
    std::string before = test::ReadFile(pages[1] + ".doc");
    Run();
    EXPECT_EQ(test::ReadFile(pages[1] + ".doc"), before);
    EXPECT_EQ(Assembled(), "earlier 1|break|earlier 2");
    EXPECT_EQ(test::PdfPageCount(dir / "KVOOCR.pdf"), 2);
}

TEST_F(BuilderFlowTest, AListedPageThatCannotBeBuiltOrPlacedGivesNoPdf) {
    const std::function<void(std::vector<std::string>&)> faults[] = {
        [](std::vector<std::string>& pages) { pages.insert(pages.begin() + 1, ""); },
        [](std::vector<std::string>& pages) { fs::remove(pages[1]); },
        [](std::vector<std::string>& pages) { test::WriteFile(pages[1], "BM cut short"); },
        [this](std::vector<std::string>&) { plan.unsavedPages.insert("Scan000001.bmp.doc"); },
    };
    for (std::size_t fault = 0; fault < std::size(faults); ++fault) {
        SCOPED_TRACE(fault);
        for (const auto& entry : fs::directory_iterator(dir.path())) fs::remove_all(entry.path());
        auto pages = MakePages(3);
        faults[fault](pages);
        test::WritePageList(dir.path(), pages);
        PlantStaleOutputs();
        Run();
        EXPECT_FALSE(Exists("KVOOCR.pdf"));
        EXPECT_FALSE(Exists("KVOOCR.doc"));
        plan.unsavedPages.clear();
    }
}

TEST_F(BuilderFlowTest, OddNamesAndListedNamesInAnotherCaseAreFound) {
    fs::path folder = dir / "Sub Folder";
    fs::create_directory(folder);
    fs::path bitmap = folder / "Brief an O'Neil & \"Söhne\" 1000000.bmp";
    test::WriteBilevelPage(bitmap, 248, 351);
    test::WriteLayout(bitmap.string() + ".xml", {{300, 150, 340, 318, "odd name"}});
    test::WritePageList(dir.path(), {(dir / "SUB FOLDER" / "BRIEF AN O'NEIL & \"SÖHNE\" 1000000.BMP").string()});
    Run();
    EXPECT_TRUE(fs::exists(bitmap.string() + ".doc"));
    EXPECT_EQ(Assembled(), "odd name");
    EXPECT_EQ(test::PdfPageCount(dir / "KVOOCR.pdf"), 1);
}

TEST_F(BuilderFlowTest, SecondOfThreePagesFailingOnceLandsAfterABreak) {
    MakePages(3);
    // Fails after the break went in: the restarted engine reopens the saved document, which has
    // no trace of that break, and the page is tried again with a break.
    plan.appendFailures["page 2"] = 1;
    Run();
    EXPECT_EQ(Assembled(), "page 1|break|page 2|break|page 3");
    EXPECT_EQ(test::PdfPageCount(dir / "KVOOCR.pdf"), 3);
    EXPECT_EQ(plan.starts, 4);
}

TEST_F(BuilderFlowTest, PageDocumentThatFailsToOpenOnceIsTriedAgain) {
    MakePages(3);
    plan.openFailures["Scan000001.bmp.doc"] = 1;
    Run();
    EXPECT_EQ(Assembled(), "page 1|break|page 2|break|page 3");
    EXPECT_EQ(plan.pageOpens, 4);
}

TEST_F(BuilderFlowTest, FirstPageRetriedAfterItsFlagWasClearedGivesNoBlankPage) {
    MakePages(2);
    plan.appendFailures["page 1"] = 1;
    Run();
    // The flag was cleared before the failure, so the retry puts a break first; a break before
    // any page starts no sheet of its own.
    EXPECT_EQ(Assembled(), "break|page 1|break|page 2");
    EXPECT_EQ(test::PdfPageCount(dir / "KVOOCR.pdf"), 2);
}

TEST_F(BuilderFlowTest, EngineThatCannotStartLeavesNoOutputs) {
    MakePages(2);
    PlantStaleOutputs();
    plan.neverStarts = true;
    Run();
    EXPECT_FALSE(Exists("KVOOCR.doc"));
    EXPECT_FALSE(Exists("KVOOCR.mdi"));
    EXPECT_FALSE(Exists("KVOOCR.pdf"));
    EXPECT_FALSE(Exists("Scan000000.bmp.doc"));
}

TEST_F(BuilderFlowTest, AssembledDocumentThatCannotBeReopenedEndsTheRunWithoutOutputs) {
    MakePages(3);
    test::WriteFile(dir / "KVOOCR.mdi", "engine document");
    plan.openFailures["Scan000001.bmp.doc"] = 1;
    plan.reopenFails = true;
    Run();
    EXPECT_FALSE(Exists("KVOOCR.doc"));
    EXPECT_FALSE(Exists("KVOOCR.mdi"));
    EXPECT_FALSE(Exists("KVOOCR.pdf"));
    EXPECT_EQ(plan.pageOpens, 2);  // the third page is never tried
    EXPECT_TRUE(plan.exports.empty());
}

TEST_F(BuilderFlowTest, FailedSaveOfTheAssembledDocumentGivesNoPdfRatherThanOneLackingAPage) {
    MakePages(3);
    PlantStaleOutputs();
    plan.saveFailures = 1;
    Run();
    EXPECT_FALSE(Exists("KVOOCR.doc"));
    EXPECT_FALSE(Exists("KVOOCR.mdi"));
    EXPECT_FALSE(Exists("KVOOCR.pdf"));
    EXPECT_EQ(plan.pageOpens, 1);
}

TEST_F(BuilderFlowTest, PageThatNeverOpensIsGivenUpAfterTheRestartLimit) {
    MakePages(2);
    plan.openFailures["Scan000001.bmp.doc"] = 1000;
    Run();
    EXPECT_EQ(plan.pageOpens, 1 + 1 + KVOOCRWrdMod::kRestartsPerPage);
    EXPECT_FALSE(Exists("KVOOCR.doc"));
    EXPECT_FALSE(Exists("KVOOCR.pdf"));
}

TEST_F(BuilderFlowTest, MissingPageListDoesNothingAndAnEmptyOneRemovesOldOutputs) {
    PlantStaleOutputs();
    Run();
    EXPECT_TRUE(Exists("KVOOCR.pdf"));
    EXPECT_EQ(plan.starts, 0);

    test::WritePageList(dir.path(), {});
    Run();
    EXPECT_FALSE(Exists("KVOOCR.doc"));
    EXPECT_FALSE(Exists("KVOOCR.mdi"));
    EXPECT_FALSE(Exists("KVOOCR.pdf"));
    EXPECT_EQ(plan.starts, 0);
}

TEST_F(BuilderFlowTest, OlderEngineVersionTakesThePlainerRouteOnly) {
    MakePages(1);
    plan.version = "11.0";
    Run();
    EXPECT_EQ(plan.exports, std::vector<ExportRoute>{ExportRoute::BuiltInFace});
    EXPECT_EQ(test::PdfPageCount(dir / "KVOOCR.pdf"), 1);
}

TEST_F(BuilderFlowTest, FailedExportFallsBackOnceToThePlainerRoute) {
    MakePages(2);
    plan.mappedExportFails = true;
    Run();
    EXPECT_EQ(plan.exports, (std::vector<ExportRoute>{ExportRoute::MappedFaces, ExportRoute::BuiltInFace}));
    EXPECT_EQ(test::PdfPageCount(dir / "KVOOCR.pdf"), 2);
    EXPECT_NE(test::PdfText(dir / "KVOOCR.pdf").find("page 2"), std::string::npos);
}

TEST_F(BuilderFlowTest, ExportFailingBothWaysLeavesNoPdfNotEvenAnOldOne) {
    MakePages(1);
    PlantStaleOutputs();
    plan.mappedExportFails = plan.builtInExportFails = true;
    Run();
    EXPECT_EQ(plan.exports.size(), 2u);
    EXPECT_FALSE(Exists("KVOOCR.pdf"));
}

}  // namespace
}  // namespace kvo::pdfbuild
