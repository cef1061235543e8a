// Reading PDFs the driver did not make, in a process of its own within bounds.
#include <gtest/gtest.h>

#include <chrono>

#include "driver/PdfInspection.h"
#include "support/PdfAssembly.h"
#include "support/TestSupport.h"

namespace kvo::test {
namespace {

using driver::FactsFromText;
using driver::FactsText;
using driver::InspectPdfIsolated;

TEST(PdfInspection, FactsPassWholeFromTheInspectingProcess) {
    pdf::PdfFacts facts;
    facts.pages = {{2, true, 8.5, 11}, {0, false, 1.0 / 3, 33.1}};
    facts.pageCount = 2;
    facts.info = {{"Producer", "KVO searchable attachments"}, {"Title", "two\nlines \x01 and 5 0"}, {"Empty", ""}};
    const std::optional<pdf::PdfFacts> back = FactsFromText(FactsText(facts));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->pageCount, 2);
    ASSERT_EQ(back->pages.size(), 2u);
    EXPECT_EQ(back->pages[1].images, 0);
    EXPECT_TRUE(back->pages[0].drawsSomething);
    EXPECT_EQ(back->pages[1].widthInches, 1.0 / 3) << "no digit is lost";
    EXPECT_EQ(back->pages[1].heightInches, 33.1);
    EXPECT_EQ(back->info, facts.info);
    for (const std::string broken : {"", "pages x\n", "pages 2\n1 1 8.5 11\n", "pages 0\ninfo 5 9\nabc"})
        EXPECT_FALSE(FactsFromText(broken)) << broken;
}

TEST(PdfInspection, ARealDocumentIsReadAsInThisProcessAndANonPdfGivesItsReason) {
    for (const char* name : {"ccitt.pdf", "francais.pdf", "graph_ocred.pdf"}) {
        const std::string path = (CorpusDir() / name).string();
        const std::optional<pdf::PdfFacts> isolated = InspectPdfIsolated(path), here = pdf::InspectPdf(path);
        ASSERT_TRUE(isolated && here) << name;
        EXPECT_EQ(isolated->pageCount, here->pageCount) << name;
        EXPECT_EQ(isolated->info, here->info) << name;
        EXPECT_EQ(isolated->pages[0].images, here->pages[0].images) << name;
    }
    std::string why;
    EXPECT_FALSE(InspectPdfIsolated((CorpusDir() / "invalid.pdf").string(), &why));
    EXPECT_NE(why, "");
}

// 64 KB of file that inflates to 1 GB on its one page: the inspection stops at its memory bound
// as the document's fault, soon, and the driver never holds that memory.
TEST(PdfInspection, AnInflationBombBreaksTheMemoryBoundSoon) {
    ScratchDir dir;
    const fs::path bomb = dir / "Bomb.pdf";
    WriteFile(bomb, InflationBombPdf(64u << 20, 16));
    ASSERT_LT(fs::file_size(bomb), 200u * 1024);
    const auto started = std::chrono::steady_clock::now();
    try {
        InspectPdfIsolated(bomb.string());
        ADD_FAILURE() << "the bomb was inspected whole";
    } catch (const driver::PdfBreaksLimit& error) {
        EXPECT_NE(std::string(error.what()).find("needed more than 1024 MB of memory"), std::string::npos) << error.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
}

}  // namespace
}  // namespace kvo::test
