// Faults from outside: a pipeline killed in the middle of a row, and a database that another
// connection holds locked.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "E2eWorld.h"
#include "driver/store/SqliteConnection.h"
#include "shared/AppTester.h"

namespace kvo::test {
namespace {

using namespace std::chrono_literals;

// Waits until `done` holds or the time is up; gives the last answer.
template <typename Condition>
bool WaitFor(Condition done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    return done();
}

TEST(Faults, APipelineKilledMidRowTakesItsChildrenAlongAndTheQueueLosesNothing) {
    E2eWorld w("kvo-e2e-kill");
    const fs::path fax = w.makeG4Tiff("Long fax.tif", {"ccitt.pdf", "ccitt.pdf", "ccitt.pdf"});
    w.addAttachment("DiaryAttachments", 1, "TIF", fax);
    w.addAttachment("DiaryAttachments", 2, "PDF", w.copyDocument("Sheet.pdf", "ccitt.pdf"));

    std::string report;
    int exitStatus = -1;
    std::thread driver([&] { exitStatus = w.runOnce(&report); });
    const bool recognising = WaitFor([] { return IsAppRunning("KVOOCR"); }, 120s);
    KillAppByName("KVOProcessSlides");
    const bool childrenGone =
        WaitFor([] { return !IsAppRunning("KVOTiffSplitter") && !IsAppRunning("KVOOCR"); }, 10s);
    driver.join();

    EXPECT_TRUE(recognising) << "the first row never reached recognition";
    EXPECT_TRUE(childrenGone) << "the splitter or the OCR program outlived the pipeline";
    EXPECT_EQ(exitStatus, 0) << report;
    // A killed chain is the machine's fault, not the document's: the row stays pending with its
    // attempt counted, and the next row is converted from its own pages only.
    EXPECT_EQ(w.rows().at(1).processed, 0) << report;
    EXPECT_NE(report.find("left pending for attempt 2, no result file, the pipeline was ended by signal 9"),
              std::string::npos) << report;
    EXPECT_EQ(w.rows().at(2).processed, 2) << report;
    EXPECT_FALSE(fs::exists(w.docPath("Long fax.PDF")));
    const fs::path sheet = w.docPath("Sheet.PDF.PDF");
    ASSERT_TRUE(fs::exists(sheet));
    EXPECT_EQ(PdfPageCount(sheet), 1);
    EXPECT_GE(Recall(WordsOf(ReadFile(CorpusDir() / "linn.txt")), PdfText(sheet)), 0.95);

    // The next cycle converts it, and neither loses nor repeats a row (rows() refuses a duplicate).
    EXPECT_EQ(w.runOnce(&report), 0) << report;
    const auto rows = w.rows();
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows.at(1).processed, 2) << report;
    EXPECT_EQ(rows.at(2).processed, 2);
    EXPECT_EQ(PdfPageCount(w.docPath("Long fax.PDF")), 3);
}

TEST(Faults, ADatabaseLockedForAWhileIsWaitedForAndReportedAndNoStatusIsLost) {
    E2eWorld w("kvo-e2e-lock");
    w.addAttachment("DiaryAttachments", 1, "TIF", w.docPath("Gone.tif"));
    w.addAttachment("DiaryAttachments", 2, "PDF", w.copyDocument("Chart.pdf", "graph_ocred.pdf"));
    w.addAttachment("CloseDiaryAttachments", 3, "GIF", w.docPath("Also gone.gif"));

    driver::SqliteConnection holder((w.data / "host.db").string());
    holder.open();
    holder.execute("BEGIN EXCLUSIVE");
    std::string report;
    int exitStatus = -1;
    std::thread driver([&] { exitStatus = w.runOnce(&report); });
    std::this_thread::sleep_for(4s);
    holder.execute("COMMIT");
    driver.join();

    EXPECT_EQ(exitStatus, 0) << report;
    EXPECT_NE(report.find("locked"), std::string::npos) << report;
    const auto rows = w.rows();
    ASSERT_EQ(rows.size(), 3u) << report;
    EXPECT_EQ(rows.at(1).processed, 2);
    EXPECT_EQ(rows.at(2).processed, 3);
    EXPECT_EQ(rows.at(3).processed, 2);
}

}  // namespace
}  // namespace kvo::test
