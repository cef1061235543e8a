// The chain killed with SIGKILL at many moments, one kill per run, each run followed by a clean
// cycle: what a power cut, the OOM killer or an operator's kill -9 leaves behind must never be
// a lost or changed original, a host row pointing at a missing or incomplete result, a row
// converted twice or given up, or work files and temporaries left for good.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <set>
#include <thread>

#include "E2eWorld.h"
#include "shared/AppTester.h"
#include "shared/pdf/PdfFile.h"
#include "shared/platform/WholeFile.h"

namespace kvo::test {
namespace {

using namespace std::chrono_literals;

constexpr int kTiffRow = 1, kPdfRow = 2;

struct Target {
    const char* imageName;
    int maxDelayMs;  // about how long the program lives
};

// Every program of the chain, and Ghostscript rendering the PDF's pages.
constexpr Target kTargets[] = {{"KVOProcess", 6000},     {"KVOProcessSlides", 3000}, {"KVOTiffSplitter", 1500},
                               {"KVOPDFSplitter", 1500}, {"KVOOCR", 600},            {"KVOOCRSave", 20},
                               {"KVOOCRWrd", 40},        {"gs", 150}};
constexpr int kRuns = 32;  // four kills of each

const char* const kChainPrograms[] = {"KVOProcess", "KVOProcessSlides", "KVOTiffSplitter", "KVOPDFSplitter",
                                      "KVOOCR",     "KVOOCRSave",       "KVOOCRWrd",       "gs"};

bool ChainRuns() {
    for (const char* program : kChainPrograms)
        if (IsAppRunning(program)) return true;
    return false;
}

bool WaitUntilTheChainHasGone() {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (ChainRuns())
        if (std::chrono::steady_clock::now() > deadline) return false;
        else std::this_thread::sleep_for(20ms);
    return true;
}

// Kills the target once: at a random moment of its first life, or, when it has ended by then,
// as soon as it shows up again. True when a kill landed.
bool KillOnce(const Target& target, int delayMs, const std::atomic<bool>& driverDone) {
    while (!IsAppRunning(target.imageName)) {
        if (driverDone) return false;
        std::this_thread::sleep_for(2ms);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    while (!driverDone) {
        if (IsAppRunning(target.imageName)) {
            KillAppByName(target.imageName);
            return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

// One small document per run, so that a run takes seconds: a one-page G4 fax at 100 dpi, or a
// scanned PDF whose page is 3 by 4 inches, as the target needs.
int AddDocument(const E2eWorld& w, const Target& target, int run) {
    const std::string name = target.imageName;
    const bool pdf = name == "KVOPDFSplitter" || name == "gs" || (name != "KVOTiffSplitter" && run % 2 == 1);
    if (pdf) {
        w.addAttachment("DiaryAttachments", kPdfRow, "PDF", w.makeSmallScannedPdf("Brief 1.pdf", "ccitt.pdf", 216, 288));
        return kPdfRow;
    }
    w.addAttachment("DiaryAttachments", kTiffRow, "TIF", w.makeG4Tiff("Fax O'Neill é.tif", {"ccitt.pdf"}, 100));
    return kTiffRow;
}

// Work files and temporaries of ours; in the work folder also the builder's files and results
// that were never picked up.
std::vector<std::string> LeftoverWork(const fs::path& folder, bool workFolder) {
    std::vector<std::string> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        const bool pageWork = name.find(".bmp") != std::string::npos && name != "KVOOCR.bmp";
        const bool builderOrResult = name == "KVOOCR.pdf" || name == "KVOOCR.doc" || name == "Fax O'Neill é.pdf" ||
                                     name == "Brief 1.pdf";
        if (pageWork || IsOurTemporaryName(name) || (workFolder && builderOrResult)) left.push_back(name);
    }
    return left;
}

TEST(Kills, NoKillLosesAChangesOrHalfRecordsADocumentAndTheNextCycleCleansUp) {
    std::mt19937 random(20261208);
    std::map<std::string, int> landed;
    for (int run = 0; run < kRuns; ++run) {
        const Target& target = kTargets[run % std::size(kTargets)];
        const int delayMs = std::uniform_int_distribution<int>(0, target.maxDelayMs)(random);
        SCOPED_TRACE(std::string("run ") + std::to_string(run) + ": " + target.imageName + " killed after " +
                     std::to_string(delayMs) + " ms");
        E2eWorld w("kvo-kill");
        AddDocument(w, target, run);
        std::map<int, std::string> originals;
        for (const auto& [id, row] : w.rows("DiaryAttachments")) originals[id] = ReadFile(*row.filePath);

        std::atomic<bool> driverDone{false};
        std::string report;
        std::thread driver([&] {
            w.runOnce(&report);
            driverDone = true;
        });
        if (KillOnce(target, delayMs, driverDone)) ++landed[target.imageName];
        driver.join();
        ASSERT_TRUE(WaitUntilTheChainHasGone());

        std::string cleanReport;
        ASSERT_EQ(w.runOnce(&cleanReport), 0) << cleanReport;
        const auto queue = w.rows();
        const auto host = w.rows("DiaryAttachments");
        ASSERT_EQ(queue.size(), 1u) << report << cleanReport;
        for (const auto& [id, original] : originals) {
            SCOPED_TRACE("row " + std::to_string(id));
            const fs::path attachment = id == kTiffRow ? w.docPath("Fax O'Neill é.tif") : w.docPath("Brief 1.pdf");
            EXPECT_EQ(ReadFile(attachment), original) << "the original changed";
            const std::optional<int> status = queue.at(id).processed;
            // A kill is the machine's fault: the row is tried again and converted.
            ASSERT_EQ(status, 2) << report << cleanReport;
            const fs::path recorded = *host.at(id).filePath;
            ASSERT_NE(recorded, attachment) << report << cleanReport;
            std::string why;
            const std::optional<pdf::PdfFacts> facts = pdf::InspectPdf(recorded.string(), &why);
            ASSERT_TRUE(facts) << recorded << ": " << why;
            EXPECT_EQ(facts->pageCount, 1);
            for (const pdf::PageFacts& page : facts->pages) EXPECT_TRUE(page.images > 0 || page.drawsSomething);
            EXPECT_TRUE(pdf::IsResultFor(*facts, fs::canonical(attachment).string()));
        }
        EXPECT_EQ(LeftoverWork(w.temp, true), std::vector<std::string>{}) << report << cleanReport;
        EXPECT_EQ(LeftoverWork(w.docs, false), std::vector<std::string>{}) << report << cleanReport;
    }
    for (const Target& target : kTargets) EXPECT_GT(landed[target.imageName], 0) << target.imageName << " was never killed";
}

}  // namespace
}  // namespace kvo::test
