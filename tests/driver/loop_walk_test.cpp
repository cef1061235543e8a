// The row walk against the embedded store and the stand-in pipeline, one cycle at a time.
#include <gtest/gtest.h>

#include "loop_test_support.h"
#include "shared/platform/Clock.h"
#include "shared/xml/XmlDocument.h"

namespace kvo::test {
namespace {

using std::chrono::duration;

class LoopWalk : public ::testing::Test {
protected:
    std::string doc(const std::string& relative) const { return (world.docs / relative).string(); }
    std::string slidesLog() const { return fs::exists(world.slidesLog) ? ReadFile(world.slidesLog) : ""; }
    std::vector<std::string> tempFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(world.temp)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    TestClock clock;  // the waits of the walk pass at once
    LoopWorld world;
    DisplayLog log;
};

TEST_F(LoopWalk, EveryOutcomeOfOneCycle) {
    world.addAttachment(1, "tif", doc("Missing.tif"));
    world.addAttachment(2, "PDF", doc("Chart.pdf"));
    world.addAttachment(3, "TIF", doc("Scan.tif"));
    world.addAttachment(3, "TIF", doc("Scan.tif"), "CloseDiaryAttachments");
    world.addAttachment(4, "TIF", doc("Blank.tif"));
    world.addAttachment(5, "BMP", doc("NoResult.bmp"));
    world.addAttachment(6, "JPEG", doc("Photo.jpeg"));
    world.addAttachment(7, "PDF", doc("Letter.pdf"));
    world.addDocument("Chart.pdf", "graph_ocred.pdf");
    world.addDocument("Scan.tif");
    world.addDocument("Blank.tif");
    world.addDocument("NoResult.bmp");
    world.addDocument("Photo.jpeg");
    world.addDocument("Letter.pdf", "ccitt.pdf");
    world.planResult("Scan", "graph_ocred.pdf");
    world.planResult("Blank", "ccitt.pdf");
    world.planResult("Photo", "graph_ocred.pdf");
    world.planResult("Letter", "graph_ocred.pdf");

    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log), 0);
    const std::string report = testing::internal::GetCapturedStderr();

    auto queue = world.rows();
    EXPECT_EQ(queue[1].processed, 2);  // not found
    EXPECT_EQ(queue[2].processed, 3);  // already searchable
    EXPECT_EQ(queue[2].filePath, doc("Chart.pdf"));
    EXPECT_EQ(queue[3].processed, 2);  // converted
    EXPECT_EQ(queue[3].filePath, doc("Scan.PDF"));
    EXPECT_EQ(queue[3].type, "PDF");
    EXPECT_EQ(queue[4].processed, 5);  // image result without text
    EXPECT_EQ(queue[5].processed, 5);  // no result at all
    EXPECT_EQ(queue[6].processed, 2);  // JPEG is converted too
    EXPECT_EQ(queue[7].processed, 2);
    EXPECT_EQ(queue[7].filePath, doc("Letter.PDF.PDF"));

    // Both host tables point at the new PDFs; untouched rows keep their values.
    for (const char* table : {"DiaryAttachments", "CloseDiaryAttachments"}) {
        auto host = world.rows(table);
        EXPECT_EQ(host[3].type, "PDF") << table;
        EXPECT_EQ(host[3].filePath, doc("Scan.PDF")) << table;
    }
    auto open = world.rows("DiaryAttachments");
    EXPECT_EQ(open[2].filePath, doc("Chart.pdf"));
    EXPECT_EQ(open[4].type, "TIF");
    EXPECT_EQ(open[6].filePath, doc("Photo.PDF"));
    EXPECT_EQ(open[7].filePath, doc("Letter.PDF.PDF"));

    // The copies are whole; the attachments stay; no result is left in TEMP.
    const std::string chart = ReadFile(CorpusDir() / "graph_ocred.pdf");
    EXPECT_EQ(ReadFile(world.docs / "Scan.PDF"), chart);
    EXPECT_EQ(ReadFile(world.docs / "Letter.PDF.PDF"), chart);
    EXPECT_EQ(ReadFile(world.docs / "Letter.pdf"), ReadFile(CorpusDir() / "ccitt.pdf"));
    EXPECT_TRUE(fs::exists(world.docs / "Scan.tif"));
    EXPECT_FALSE(fs::exists(world.docs / "Blank.PDF"));
    EXPECT_EQ(tempFiles(), std::vector<std::string>{"KVOFile.xml"});

    // The pipeline ran for the files it had to convert, and only for those.
    EXPECT_EQ(slidesLog(), doc("Scan.tif") + "\n" + doc("Blank.tif") + "\n" + doc("NoResult.bmp") + "\n" +
                               doc("Photo.jpeg") + "\n" + doc("Letter.pdf") + "\n");

    // One report line per row, with the outcome.
    EXPECT_NE(report.find("1 " + doc("Missing.tif") + ": status 2, not found ("), std::string::npos) << report;
    EXPECT_NE(report.find("2 " + doc("Chart.pdf") + ": status 3, already searchable ("), std::string::npos);
    EXPECT_NE(report.find("3 " + doc("Scan.tif") + ": status 2, converted to " + doc("Scan.PDF") + " ("),
              std::string::npos);
    EXPECT_NE(report.find("4 " + doc("Blank.tif") + ": status 5, the result carries no text ("), std::string::npos);
    EXPECT_NE(report.find("5 " + doc("NoResult.bmp") + ": status 5, no result file ("), std::string::npos);

    // The texts, and the pause of three to four seconds after "Not found".
    EXPECT_EQ(log.texts.front().second, "Pellmoor OCR utility. Preparing for OCR.");
    const std::string row1 = "Pellmoor OCR utility.\r\n\r\n7 files Found.\r\n\r\nProcessing file 1 of 7:\r\n" +
                             doc("Missing.tif");
    ASSERT_GE(log.texts.size(), 4u);
    EXPECT_EQ(log.texts[1].second, row1);
    EXPECT_EQ(log.texts[2].second, row1 + "\r\n\r\nNot found");
    const double pause = duration<double>(log.texts[3].first - log.texts[2].first).count();
    EXPECT_GE(pause, 3.0);
    EXPECT_LT(pause, 5.0);
    EXPECT_TRUE(log.showed("Processing file 3 of 7:\r\n" + doc("Scan.tif") + "\r\n\r\nIn progress. Please wait."));
    EXPECT_FALSE(log.showed("Wait until 18:00")) << "a single cycle does not wait";
    // The Stop button is disabled for each pipeline start and enabled while it runs.
    EXPECT_EQ(std::count(log.stopEnabled.begin(), log.stopEnabled.end(), false), 5);
}

TEST_F(LoopWalk, NamesThatDoNotFollowTheRule) {
    world.addAttachment(1, "TIF", doc("a.tif.tif"));
    world.addAttachment(2, "PDF", doc("Old.pdf/Letter.pdf"));
    world.addAttachment(3, "TIF", doc("O'Brien.tif"));
    world.addAttachment(4, "TIF", doc(".Hidden.tif"));
    world.addAttachment(5, "TIF", doc("Typed.pdf"));  // a TIF row whose file is named .pdf
    world.addAttachment(6, "TIF", doc("case.tif"));
    world.addAttachment(7, "TIF", std::nullopt);
    world.addDocument("a.tif.tif");
    world.addDocument("Old.pdf/Letter.pdf", "ccitt.pdf");
    world.addDocument("O'Brien.tif");
    world.addDocument(".Hidden.tif");
    world.addDocument("Typed.pdf");
    world.addDocument("Case.TIF");
    world.planResult("a.tif", "graph_ocred.pdf");
    world.planResult("Letter", "graph_ocred.pdf");
    world.planResult("O'Brien", "graph_ocred.pdf");
    world.planResult("Typed", "graph_ocred.pdf");
    world.planResult("Case", "graph_ocred.pdf");
    const std::string typedBefore = ReadFile(world.docs / "Typed.pdf");

    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log), 0);
    const std::string report = testing::internal::GetCapturedStderr();

    auto queue = world.rows();
    // a.tif.tif: the result is looked for as a.PDF.PDF, which the pipeline does not write.
    EXPECT_EQ(queue[1].processed, 5);
    // Old.pdf/Letter.pdf: the destination lies in Old.PDF.PDF/, which does not exist.
    EXPECT_EQ(queue[2].processed, 0);
    EXPECT_FALSE(fs::exists(world.temp / "Letter.pdf")) << "the result is deleted all the same";
    EXPECT_NE(report.find("2 " + doc("Old.pdf/Letter.pdf") + ": left pending, the copy to " +
                          doc("Old.PDF.PDF/Letter.PDF.PDF")),
              std::string::npos)
        << report;
    // O'Brien.tif: the apostrophe goes into the statements safely.
    EXPECT_EQ(queue[3].processed, 2);
    EXPECT_EQ(queue[3].filePath, doc("O'Brien.PDF"));
    EXPECT_EQ(world.rows("DiaryAttachments")[3].filePath, doc("O'Brien.PDF"));
    // A hidden file is not found.
    EXPECT_EQ(queue[4].processed, 2);
    EXPECT_NE(report.find("4 " + doc(".Hidden.tif") + ": status 2, not found"), std::string::npos);
    // Typed.pdf of type TIF: the destination would be the attachment itself; it stays as it was.
    EXPECT_EQ(queue[5].processed, 5);
    EXPECT_EQ(ReadFile(world.docs / "Typed.pdf"), typedBefore);
    EXPECT_EQ(world.rows("DiaryAttachments")[5].filePath, doc("Typed.pdf"));
    EXPECT_NE(report.find("5 " + doc("Typed.pdf") + ": status 5, the destination would replace the attachment"),
              std::string::npos);
    // case.tif names Case.TIF: found without regard to case, the result too.
    EXPECT_EQ(queue[6].processed, 2);
    EXPECT_EQ(queue[6].filePath, doc("case.PDF"));
    EXPECT_TRUE(fs::exists(world.docs / "case.PDF"));
    // A NULL path is "not found".
    EXPECT_EQ(queue[7].processed, 2);
    EXPECT_NE(report.find("7 (no path): status 2, not found"), std::string::npos);
}

TEST_F(LoopWalk, ATypeOutsideTheGroupsGetsItsOrderAndStaysPending) {
    world.addQueueRow(1, "DOC", doc("Minutes.doc"), 0);
    world.addDocument("Minutes.doc");
    ASSERT_EQ(world.run(log), 0);
    EXPECT_EQ(world.status(1), 0);
    EXPECT_EQ(slidesLog(), "") << "no pipeline run";
    xml::Document order;
    ASSERT_TRUE(order.load((world.temp / "KVOFile.xml").string()));
    const auto files = order.selectNodes("KVO/File");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].attribute("name"), doc("Minutes.doc"));
    EXPECT_EQ(files[0].attribute("processed"), "0");
}

TEST_F(LoopWalk, WithoutThePipelineProgramTheRowStaysPendingAndTheCycleEnds) {
    fs::remove(world.app / "KVOProcessSlides");
    world.addAttachment(1, "TIF", doc("Scan.tif"));
    world.addAttachment(2, "TIF", doc("Next.tif"));
    world.addDocument("Scan.tif");
    world.addDocument("Next.tif");
    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log), 0);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(world.status(1), 0);
    EXPECT_EQ(world.status(2), 0);
    EXPECT_NE(report.find("KVOProcessSlides could not be started"), std::string::npos) << report;
    EXPECT_FALSE(log.showed("Processing file 2 of 2"));
}

TEST_F(LoopWalk, AnUnusableWorkFolderLeavesTheRowPending) {
    EnvVar gone("TEMP", (world.temp / "missing").string());
    world.addAttachment(1, "TIF", doc("Scan.tif"));
    world.addDocument("Scan.tif");
    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log), 0);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(world.status(1), 0);
    EXPECT_NE(report.find("1 " + doc("Scan.tif") + ": left pending, cannot write KVOFile.xml"), std::string::npos)
        << report;
    EXPECT_EQ(slidesLog(), "");
}

TEST_F(LoopWalk, PathMapTranslatesBothWays) {
    world.writeZrtIni("[PathMap]\r\nD:\\Docs=" + world.docs.string() + "\r\n");
    world.addAttachment(1, "TIF", "D:\\Docs\\Smith\\Scan.tif");
    world.addAttachment(1, "TIF", "D:\\Docs\\Smith\\Scan.tif", "CloseDiaryAttachments");
    world.addAttachment(2, "PDF", "d:\\docs\\Chart.pdf");
    world.addAttachment(3, "TIF", "D:\\Elsewhere\\Gone.tif");
    world.addDocument("Smith/Scan.tif");
    world.addDocument("Chart.pdf", "graph_ocred.pdf");
    world.planResult("Scan", "graph_ocred.pdf");

    ASSERT_EQ(world.run(log), 0);
    auto queue = world.rows();
    EXPECT_EQ(queue[1].processed, 2);
    EXPECT_EQ(queue[1].filePath, "D:\\Docs\\Smith\\Scan.PDF");
    for (const char* table : {"DiaryAttachments", "CloseDiaryAttachments"})
        EXPECT_EQ(world.rows(table)[1].filePath, "D:\\Docs\\Smith\\Scan.PDF") << table;
    EXPECT_TRUE(fs::exists(world.docs / "Smith" / "Scan.PDF"));
    EXPECT_EQ(slidesLog(), doc("Smith/Scan.tif") + "\n") << "the pipeline gets the local path";
    EXPECT_EQ(queue[2].processed, 3);
    EXPECT_EQ(queue[2].filePath, "d:\\docs\\Chart.pdf") << "the host's own text is kept";
    EXPECT_EQ(queue[3].processed, 2);
    // The window shows the host's path.
    EXPECT_TRUE(log.showed("Processing file 1 of 3:\r\nD:\\Docs\\Smith\\Scan.tif"));
}

// The destination is the row's FilePath with "." + type replaced. The host tables get
// that text in the host's own spelling, and a mapped folder whose own name holds "." + type is
// not touched by the replacement.
TEST_F(LoopWalk, TheDestinationIsTheRowsOwnPathWithTheTypeReplaced) {
    const fs::path store = world.docs / "Store.tif";
    const fs::path files = world.docs / "files";
    world.writeZrtIni("[PathMap]\r\nD:\\Docs=" + store.string() + "\r\nE:\\Files=" + files.string() + "\r\n");
    world.addAttachment(1, "TIF", "d:\\docs\\Scan.tif");
    world.addAttachment(1, "TIF", "d:\\docs\\Scan.tif", "CloseDiaryAttachments");
    world.addAttachment(2, "TIF", (files / "Local.tif").string());
    world.addDocument("Store.tif/Scan.tif");
    world.addDocument("files/Local.tif");
    world.planResult("Scan", "graph_ocred.pdf");
    world.planResult("Local", "graph_ocred.pdf");

    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log), 0);
    const std::string report = testing::internal::GetCapturedStderr();

    auto queue = world.rows();
    EXPECT_EQ(queue[1].processed, 2) << report;
    EXPECT_EQ(queue[1].filePath, "d:\\docs\\Scan.PDF");
    for (const char* table : {"DiaryAttachments", "CloseDiaryAttachments"})
        EXPECT_EQ(world.rows(table)[1].filePath, "d:\\docs\\Scan.PDF") << table;
    EXPECT_TRUE(fs::exists(store / "Scan.PDF"));
    // A row the host wrote in the local form keeps that form.
    EXPECT_EQ(queue[2].processed, 2) << report;
    EXPECT_EQ(queue[2].filePath, (files / "Local.PDF").string());
    EXPECT_EQ(world.rows("DiaryAttachments")[2].filePath, (files / "Local.PDF").string());
    EXPECT_TRUE(fs::exists(files / "Local.PDF"));
}

TEST_F(LoopWalk, AMissingMappedFolderEndsTheCycleWithoutTouchingARow) {
    world.writeZrtIni("[PathMap]\r\nD:\\Docs=" + world.docs.string() + "\r\n\\\\nas\\scans=" +
                      (world.docs / "not-mounted").string() + "\r\n");
    world.addAttachment(1, "TIF", "\\\\nas\\scans\\Scan.tif");
    testing::internal::CaptureStderr();
    EXPECT_EQ(world.run(log), 1);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("the folder " + (world.docs / "not-mounted").string() + " for host paths \\\\nas\\scans "
                          "does not exist"),
              std::string::npos)
        << report;
    EXPECT_FALSE(world.queueExists()) << "not even the queue set-up ran";
    EXPECT_EQ(world.rows("DiaryAttachments")[1].filePath, "\\\\nas\\scans\\Scan.tif");
    EXPECT_FALSE(log.showed("Processing file"));
}

}  // namespace
}  // namespace kvo::test
