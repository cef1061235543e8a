// The row walk against the embedded store and the stand-in pipeline, one cycle at a time.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <csignal>

#include "driver/WriteJournal.h"
#include "LoopWorld.h"
#include "shared/platform/Clock.h"
#include "shared/platform/WholeFile.h"
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

    std::string runCycle();

    TestClock clock;  // the waits of the walk pass at once
    LoopWorld world;
    DisplayLog log;
};

// One cycle over the rows `add` puts into the host tables; what the walk reported.
std::string LoopWalk::runCycle() {
    testing::internal::CaptureStderr();
    const int status = world.run(log);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 0) << report;
    return report;
}

TEST_F(LoopWalk, AMissingAttachmentIsRecordedAsNotFoundAfterItsPause) {
    world.addAttachment(1, "tif", doc("Missing.tif"));
    world.addAttachment(2, "TIF", doc("Scan.tif"));
    world.addDocument("Scan.tif");
    world.planResult("Scan.tif", "graph_ocred.pdf");
    const std::string report = runCycle();

    EXPECT_EQ(world.rows()[1].processed, 2);
    EXPECT_NE(report.find("1 " + doc("Missing.tif") + ": status 2, not found ("), std::string::npos) << report;
    // The texts, and the pause of three to four seconds after "Not found".
    EXPECT_EQ(log.texts.front().second, "Pellmoor OCR utility. Preparing for OCR.");
    const std::string row1 = "Pellmoor OCR utility.\r\n\r\n2 files Found.\r\n\r\nProcessing file 1 of 2:\r\n" +
                             doc("Missing.tif");
    ASSERT_GE(log.texts.size(), 4u);
    EXPECT_EQ(log.texts[1].second, row1);
    EXPECT_EQ(log.texts[2].second, row1 + "\r\n\r\nNot found");
    const double pause = duration<double>(log.texts[3].first - log.texts[2].first).count();
    EXPECT_GE(pause, 3.0);
    EXPECT_LT(pause, 5.0);
    EXPECT_TRUE(log.showed("Processing file 2 of 2:\r\n" + doc("Scan.tif") + "\r\n\r\nIn progress. Please wait."));
    EXPECT_FALSE(log.showed("Wait until 18:00")) << "a single cycle does not wait";
}

TEST_F(LoopWalk, APdfThatCarriesTextIsLeftAsItIsAndNotConverted) {
    world.addAttachment(2, "PDF", doc("Chart.pdf"));
    world.addDocument("Chart.pdf", "graph_ocred.pdf");
    const std::string report = runCycle();

    const auto queue = world.rows();
    EXPECT_EQ(queue.at(2).processed, 3);
    EXPECT_EQ(queue.at(2).filePath, doc("Chart.pdf"));
    EXPECT_EQ(world.rows("DiaryAttachments").at(2).filePath, doc("Chart.pdf"));
    EXPECT_NE(report.find("2 " + doc("Chart.pdf") + ": status 3, already searchable ("), std::string::npos) << report;
    EXPECT_EQ(slidesLog(), "");
}

// Both host tables point at the new PDF, the copy beside the attachment is whole, the
// attachment stays and nothing is left in TEMP.
TEST_F(LoopWalk, AConvertedImageIsCopiedBesideItAndBothHostTablesPointAtTheCopy) {
    world.addAttachment(3, "TIF", doc("Scan.tif"));
    world.addAttachment(3, "TIF", doc("Scan.tif"), "CloseDiaryAttachments");
    world.addAttachment(4, "TIF", doc("Other.tif"));
    world.addDocument("Scan.tif");
    world.planResult("Scan.tif", "graph_ocred.pdf");
    const std::string report = runCycle();

    const auto queue = world.rows();
    EXPECT_EQ(queue.at(3).processed, 2);
    EXPECT_EQ(queue.at(3).filePath, doc("Scan.PDF"));
    EXPECT_EQ(queue.at(3).type, "PDF");
    for (const char* table : {"DiaryAttachments", "CloseDiaryAttachments"}) {
        auto host = world.rows(table);
        EXPECT_EQ(host.at(3).type, "PDF") << table;
        EXPECT_EQ(host.at(3).filePath, doc("Scan.PDF")) << table;
    }
    EXPECT_EQ(world.rows("DiaryAttachments").at(4).type, "TIF") << "an untouched row keeps its values";
    EXPECT_EQ(ReadFile(world.docs / "Scan.PDF"), ReadFile(world.results / "Scan.pdf"));
    EXPECT_TRUE(fs::exists(world.docs / "Scan.tif"));
    EXPECT_EQ(tempFiles(), std::vector<std::string>{"KVOFile.xml"});
    EXPECT_NE(report.find("3 " + doc("Scan.tif") + ": status 2, converted to " + doc("Scan.PDF") + " ("),
              std::string::npos)
        << report;
}

// JPEG is queued as JPG and converted too; a PDF's result goes to ".PDF.PDF" and the PDF stays.
TEST_F(LoopWalk, AJpegAndAPdfWithoutTextAreConvertedToTheirOwnDestinations) {
    world.addAttachment(6, "JPEG", doc("Photo.jpeg"));
    world.addAttachment(7, "PDF", doc("Letter.pdf"));
    world.addDocument("Photo.jpeg");
    world.addDocument("Letter.pdf", "ccitt.pdf");
    world.planResult("Photo.jpeg", "graph_ocred.pdf");
    world.planResult("Letter.pdf", "graph_ocred.pdf");
    runCycle();

    const auto queue = world.rows();
    EXPECT_EQ(queue.at(6).processed, 2);
    EXPECT_EQ(queue.at(7).processed, 2);
    EXPECT_EQ(queue.at(7).filePath, doc("Letter.PDF.PDF"));
    const auto open = world.rows("DiaryAttachments");
    EXPECT_EQ(open.at(6).filePath, doc("Photo.PDF"));
    EXPECT_EQ(open.at(7).filePath, doc("Letter.PDF.PDF"));
    EXPECT_EQ(ReadFile(world.docs / "Letter.PDF.PDF"), ReadFile(world.results / "Letter.pdf"));
    EXPECT_EQ(ReadFile(world.docs / "Letter.pdf"), ReadFile(CorpusDir() / "ccitt.pdf"));
}

// The pipeline runs for each file to convert, with the Stop button disabled at each start; an
// image result without text, or no result at all, gives status 5 and nothing beside the image.
TEST_F(LoopWalk, AnImageWithoutATextedResultGetsStatus5AndNothingBesideIt) {
    world.addAttachment(4, "TIF", doc("Blank.tif"));
    world.addAttachment(5, "BMP", doc("NoResult.bmp"));
    world.addDocument("Blank.tif");
    world.addDocument("NoResult.bmp");
    world.planResult("Blank.tif", "ccitt.pdf");
    const std::string report = runCycle();

    const auto queue = world.rows();
    EXPECT_EQ(queue.at(4).processed, 5);
    EXPECT_EQ(queue.at(5).processed, 5);
    EXPECT_FALSE(fs::exists(world.docs / "Blank.PDF"));
    EXPECT_NE(report.find("4 " + doc("Blank.tif") + ": status 5, the result carries no text ("), std::string::npos)
        << report;
    EXPECT_NE(report.find("5 " + doc("NoResult.bmp") + ": status 5, no result file ("), std::string::npos);
    EXPECT_EQ(tempFiles(), std::vector<std::string>{"KVOFile.xml"});
    EXPECT_EQ(slidesLog(), doc("Blank.tif") + "\n" + doc("NoResult.bmp") + "\n");
    EXPECT_EQ(std::count(log.stopEnabled.begin(), log.stopEnabled.end(), false), 2);
}

// Only the name's final extension changes: names with more dots, folders named like a type,
// a type that differs from the extension, quotes and accents all convert.
TEST_F(LoopWalk, OddNamesConvert) {
    world.addAttachment(1, "TIF", doc("a.tif.tif"));
    world.addAttachment(2, "PDF", doc("Old.pdf/Letter.pdf"));
    world.addAttachment(3, "TIF", doc("Brief von O'Brien \"neu\" é.tif"));
    world.addAttachment(4, "TIF", doc(".Hidden.tif"));
    world.addAttachment(5, "TIF", doc("Scan.tiff"));
    world.addAttachment(6, "JPEG", doc("x.jpg"));
    world.addAttachment(7, "TIF", doc("case.tif"));
    world.addAttachment(8, "TIF", std::nullopt);
    world.addDocument("a.tif.tif");
    world.addDocument("Old.pdf/Letter.pdf", "ccitt.pdf");
    world.addDocument("Brief von O'Brien \"neu\" é.tif");
    world.addDocument(".Hidden.tif");
    world.addDocument("Scan.tiff", "", 2);
    world.addDocument("x.jpg");
    world.addDocument("Case.TIF");
    world.planResult("a.tif.tif", "graph_ocred.pdf");
    world.planResult("Old.pdf/Letter.pdf", "graph_ocred.pdf");
    world.planResult("Brief von O'Brien \"neu\" é.tif", "graph_ocred.pdf");
    world.planResult("Scan.tiff", "graph_ocred.pdf", 2);
    world.planResult("x.jpg", "graph_ocred.pdf");
    world.planResult("Case.TIF", "graph_ocred.pdf");

    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log), 0);
    const std::string report = testing::internal::GetCapturedStderr();

    auto queue = world.rows();
    const std::map<int, std::string> converted = {{1, "a.tif.PDF"},
                                                  {2, "Old.pdf/Letter.PDF.PDF"},
                                                  {3, "Brief von O'Brien \"neu\" é.PDF"},
                                                  {5, "Scan.PDF"},
                                                  {6, "x.PDF"},
                                                  {7, "case.PDF"}};
    for (const auto& [id, destination] : converted) {
        EXPECT_EQ(queue[id].processed, 2) << id << "\n" << report;
        EXPECT_EQ(queue[id].filePath, doc(destination)) << id;
        EXPECT_EQ(world.rows("DiaryAttachments")[id].filePath, doc(destination)) << id;
        EXPECT_TRUE(fs::exists(world.docs / destination)) << destination;
    }
    // A hidden file and a NULL path are "not found".
    EXPECT_EQ(queue[4].processed, 2);
    EXPECT_NE(report.find("4 " + doc(".Hidden.tif") + ": status 2, not found"), std::string::npos);
    EXPECT_EQ(queue[8].processed, 2);
    EXPECT_NE(report.find("8 (no path): status 2, not found"), std::string::npos);
    EXPECT_EQ(tempFiles(), std::vector<std::string>{"KVOFile.xml"});
}

// The copy may replace only a searchable PDF made earlier for the same attachment. Anything
// else at the destination (compared without regard to case) stays as it is, and the row gets
// status 5 with a line naming it.
TEST_F(LoopWalk, NothingInTheWayIsOverwritten) {
    const struct {
        int id;
        const char* attachment;
        const char* inTheWay;
    } blocked[] = {
        {1, "Scan.tif", "scan.pdf"},              // a client's file that differs only in case
        {2, "Letter.pdf.tif", "Letter.PDF.PDF"},  // the result of another attachment, Letter.pdf
        {3, "Damaged.tif", "Damaged.PDF"},        // an earlier result, cut short
        {4, "Folder.tif", "Folder.PDF"},          // a folder
        {5, "Linked.tif", "Linked.PDF"},          // a link to this attachment's earlier result
        {6, "Typed.pdf", "Typed.pdf"},            // a TIF row whose file is named .pdf: itself
    };
    for (const auto& row : blocked) {
        world.addAttachment(row.id, "TIF", doc(row.attachment));
        world.addDocument(row.attachment);
        world.planResult(row.attachment, "graph_ocred.pdf");
    }
    WriteFile(world.docs / "scan.pdf", "a client's letter");
    fs::copy_file(CorpusDir() / "vector.pdf", world.docs / "Letter.PDF.PDF");
    pdf::MarkAsResultFor(doc("Letter.PDF.PDF"), doc("Letter.pdf"));
    fs::copy_file(world.results / "Damaged.pdf", world.docs / "Damaged.PDF");
    fs::resize_file(world.docs / "Damaged.PDF", fs::file_size(world.docs / "Damaged.PDF") / 2);
    fs::create_directory(world.docs / "Folder.PDF");
    const fs::path elsewhere = world.results / "Linked-earlier.pdf";
    fs::copy_file(world.results / "Linked.pdf", elsewhere);
    fs::create_symlink(elsewhere, world.docs / "Linked.PDF");
    // An earlier result of this very attachment is replaced, under its own spelling.
    world.addAttachment(7, "TIF", doc("Again.tif"));
    world.addDocument("Again.tif");
    world.planResult("Again.tif", "graph_ocred.pdf");
    fs::copy_file(CorpusDir() / "vector.pdf", world.docs / "again.pdf");
    pdf::MarkAsResultFor(doc("again.pdf"), doc("Again.tif"));
    // A file that arrives at the destination while the pipeline runs is not replaced either.
    world.addAttachment(8, "TIF", doc("Late.tif"));
    world.addDocument("Late.tif");
    world.planResult("Late.tif", "graph_ocred.pdf");
    std::optional<std::size_t> lateShownAt;  // Stop button changes when Late.tif was first shown
    auto arriveDuringTheRun = [&](const RecordingDisplay& display, bool&) {
        if (!display.text().ends_with(doc("Late.tif") + "\r\n\r\nIn progress. Please wait.")) return;
        if (!lateShownAt) lateShownAt = log.stopEnabled.size();
        else if (log.stopEnabled.size() > *lateShownAt && !fs::exists(world.docs / "late.pdf"))
            WriteFile(world.docs / "late.pdf", "arrived late");  // the pipeline's run has begun
    };

    auto snapshot = [&] {
        std::map<std::string, std::string> entries;
        for (const auto& entry : fs::directory_iterator(world.docs))
            entries[entry.path().filename()] = entry.is_symlink()     ? "a link"
                                               : entry.is_directory() ? "a folder"
                                                                      : ReadFile(entry.path());
        return entries;
    };
    auto before = snapshot();
    const std::string earlier = ReadFile(elsewhere);

    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log, true, arriveDuringTheRun), 0);
    const std::string report = testing::internal::GetCapturedStderr();

    auto queue = world.rows();
    for (const auto& row : blocked) {
        EXPECT_EQ(queue[row.id].processed, 5) << row.attachment << "\n" << report;
        EXPECT_EQ(world.rows("DiaryAttachments")[row.id].filePath, doc(row.attachment));
        EXPECT_NE(report.find(std::to_string(row.id) + " " + doc(row.attachment) + ": status 5, " +
                              doc(row.inTheWay) + " is in the way; nothing was copied"),
                  std::string::npos)
            << report;
    }
    EXPECT_EQ(queue[7].processed, 2) << report;
    EXPECT_EQ(queue[7].filePath, doc("Again.PDF"));
    EXPECT_EQ(queue[8].processed, 5);
    EXPECT_NE(report.find("8 " + doc("Late.tif") + ": status 5, " + doc("late.pdf") + " is in the way"),
              std::string::npos);
    // What is blocked from the start is not converted at all.
    EXPECT_EQ(slidesLog(), doc("Again.tif") + "\n" + doc("Late.tif") + "\n");
    // Nothing else changed, nothing was added, and the earlier result of Again.tif holds the new one.
    before["again.pdf"] = ReadFile(world.results / "Again.pdf");
    before["late.pdf"] = "arrived late";
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(ReadFile(elsewhere), earlier);
}

// A result is recorded only when it is this attachment's, whole: as many pages as the
// attachment, each with its page picture (a page kept from a PDF may draw anything).
TEST_F(LoopWalk, OnlyAVerifiedResultIsRecorded) {
    world.addAttachment(1, "TIF", doc("Two.tif"));
    world.addAttachment(2, "TIF", doc("Three.tif"));
    world.addAttachment(3, "TIF", doc("Vector.tif"));
    world.addAttachment(4, "TIF", doc("Cut.tif"));
    world.addAttachment(5, "TIF", doc("Foreign.tif"));
    world.addAttachment(6, "PDF", doc("Kept.pdf"));
    world.addAttachment(7, "PDF", doc("Broken.pdf"));
    world.addDocument("Two.tif");
    world.addDocument("Three.tif", "", 3);
    world.addDocument("Vector.tif");
    world.addDocument("Cut.tif");
    world.addDocument("Foreign.tif");
    world.addDocument("Kept.pdf", "vector.pdf");
    world.addDocument("Broken.pdf", "invalid.pdf");
    world.planResult("Two.tif", "graph_ocred.pdf", 2);
    world.planResult("Three.tif", "graph_ocred.pdf", 3);
    world.planResult("Vector.tif", "vector.pdf");
    world.planResult("Cut.tif", "graph_ocred.pdf");
    fs::resize_file(world.results / "Cut.pdf", fs::file_size(world.results / "Cut.pdf") / 2);
    world.planForeignResult("Foreign", "graph_ocred.pdf");
    // Another attachment kept in the work folder under Other.tif's result name.
    world.addAttachment(8, "TIF", doc("Other.tif"));
    world.addDocument("Other.tif");
    fs::copy_file(CorpusDir() / "graph_ocred.pdf", world.temp / "Other.pdf");
    world.planResult("Kept.pdf", "vector.pdf");

    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log), 0);
    const std::string report = testing::internal::GetCapturedStderr();

    auto queue = world.rows();
    auto line = [&](int id, const std::string& attachment, const std::string& outcome) {
        EXPECT_NE(report.find(std::to_string(id) + " " + doc(attachment) + ": " + outcome), std::string::npos)
            << outcome << "\n" << report;
    };
    line(1, "Two.tif", "status 5, the result has 2 pages, the attachment 1 page");
    line(2, "Three.tif", "status 2, converted to " + doc("Three.PDF"));
    line(3, "Vector.tif", "status 5, page 1 of the result carries no page picture");
    line(4, "Cut.tif", "status 5, ");
    line(5, "Foreign.tif", "status 5, " + (world.temp / "Foreign.pdf").string() + " was not made for this attachment");
    line(8, "Other.tif", "status 5, " + (world.temp / "Other.pdf").string() + " was not made for this attachment");
    line(6, "Kept.pdf", "status 2, converted to " + doc("Kept.PDF.PDF"));
    line(7, "Broken.pdf", "status 5, its text is unreadable and Ghostscript's rewrite was not used: ");
    for (int id : {1, 3, 4, 5, 7, 8}) EXPECT_EQ(queue[id].processed, 5) << id;
    for (const char* unrecorded : {"Two.PDF", "Vector.PDF", "Cut.PDF", "Foreign.PDF", "Broken.PDF.PDF"})
        EXPECT_FALSE(fs::exists(world.docs / unrecorded)) << unrecorded;
    EXPECT_EQ(ReadFile(world.docs / "Broken.pdf"), ReadFile(CorpusDir() / "invalid.pdf"));
    EXPECT_NE(slidesLog().find(doc("Cut.tif")), std::string::npos);
    EXPECT_EQ(slidesLog().find(doc("Broken.pdf")), std::string::npos) << "no conversion after a refused rewrite";
    // What the pipeline made is gone; the file that lay there before stays as it was.
    EXPECT_EQ(tempFiles(), (std::vector<std::string>{"KVOFile.xml", "Other.pdf"}));
    EXPECT_EQ(ReadFile(world.temp / "Other.pdf"), ReadFile(CorpusDir() / "graph_ocred.pdf"));
}

// An attachment that lies in the work folder under its own result's name is never taken for
// its result nor deleted; one whose destination is the result itself keeps it.
TEST_F(LoopWalk, AnAttachmentInTheWorkFolderIsNeverTakenForItsResult) {
    fs::copy_file(CorpusDir() / "ccitt.pdf", world.temp / "Scan.pdf");
    world.addAttachment(1, "PDF", (world.temp / "Scan.pdf").string());
    world.addAttachment(2, "TIF", (world.temp / "Fax.tif").string());
    fs::rename(world.addDocument("Fax.tif"), world.temp / "Fax.tif");
    fs::copy_file(CorpusDir() / "graph_ocred.pdf", world.results / "Fax.pdf");
    pdf::MarkAsResultFor((world.results / "Fax.pdf").string(), (world.temp / "Fax.tif").string());

    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log), 0);
    const std::string report = testing::internal::GetCapturedStderr();

    EXPECT_EQ(world.status(1), 5);
    EXPECT_EQ(ReadFile(world.temp / "Scan.pdf"), ReadFile(CorpusDir() / "ccitt.pdf"));
    EXPECT_FALSE(fs::exists(world.temp / "Scan.PDF.PDF"));
    EXPECT_NE(report.find("1 " + (world.temp / "Scan.pdf").string() +
                          ": status 5, the attachment lies in the work folder under its result's name"),
              std::string::npos)
        << report;
    // Fax.tif's result, TEMP/Fax.pdf, is its destination TEMP/Fax.PDF: recorded and kept.
    EXPECT_EQ(world.status(2), 2) << report;
    EXPECT_EQ(world.rows()[2].filePath, (world.temp / "Fax.PDF").string());
    EXPECT_EQ(ReadFile(world.temp / "Fax.pdf"), ReadFile(world.results / "Fax.pdf"));
    EXPECT_TRUE(fs::exists(world.temp / "Fax.tif"));
}

// A driver killed while it wrote files whole leaves hidden temporaries beside the destination
// and in TEMP; the next start removes them, and nothing that is not ours.
TEST_F(LoopWalk, TheNextStartRemovesTheTemporariesOfAKilledDriver) {
    WriteFile(world.docs / ".Scan.PDF.keep", "not ours");
    const pid_t killed = fork();
    if (killed == 0) {
        driver::PendingWrite noted(world.docs.string());
        WholeFileWriter copy((world.docs / "Scan.PDF").string());
        copy.write("half a PDF", 10);
        WholeFileWriter order((world.temp / "KVOFile.xml").string());
        order.write("<KVO", 4);
        raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(waitpid(killed, &status, 0), killed);
    auto hidden = [](const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().filename().string()[0] == '.') names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    ASSERT_EQ(hidden(world.docs).size(), 2u);
    ASSERT_EQ(hidden(world.temp).size(), 1u);

    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log), 0);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(hidden(world.docs), std::vector<std::string>{".Scan.PDF.keep"});
    EXPECT_EQ(hidden(world.temp), std::vector<std::string>{});
    EXPECT_NE(report.find("removed 2 temporary file(s) left by an interrupted run"), std::string::npos) << report;
    // Once removed, the next start has nothing to say.
    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("temporary"), std::string::npos);
}

TEST_F(LoopWalk, APendingRowOfATypeOutsideTheGroupsGetsItsOrderAndStatusFive) {
    world.addQueueRow(1, "DOC", doc("Minutes.doc"), 0);
    world.addDocument("Minutes.doc");
    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log), 0);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(world.status(1), 5);
    EXPECT_NE(report.find("1 " + doc("Minutes.doc") + ": status 5, the type 'DOC' is not converted ("),
              std::string::npos)
        << report;
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
    fs::create_directory(world.temp / "KVOFile.xml");  // the order cannot be written
    world.addAttachment(1, "TIF", doc("Scan.tif"));
    world.addDocument("Scan.tif");
    testing::internal::CaptureStderr();
    ASSERT_EQ(world.run(log), 0);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(world.status(1), 0);
    EXPECT_NE(report.find("1 " + doc("Scan.tif") + ": left pending for attempt 2, cannot write KVOFile.xml"), std::string::npos)
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
    world.planResult("Smith/Scan.tif", "graph_ocred.pdf");

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
    EXPECT_EQ(queue[3].processed, 5) << "a path outside the mapped shares is not even looked up";
    // The window shows the host's path.
    EXPECT_TRUE(log.showed("Processing file 1 of 3:\r\nD:\\Docs\\Smith\\Scan.tif"));
}

// The host tables get the destination in the host's own spelling, and a mapped folder whose
// own name holds "." + type is not touched.
TEST_F(LoopWalk, TheDestinationKeepsTheHostsSpelling) {
    const fs::path store = world.docs / "Store.tif";
    const fs::path files = world.docs / "files";
    world.writeZrtIni("[PathMap]\r\nD:\\Docs=" + store.string() + "\r\nE:\\Files=" + files.string() + "\r\n");
    world.addAttachment(1, "TIF", "d:\\docs\\Scan.tif");
    world.addAttachment(1, "TIF", "d:\\docs\\Scan.tif", "CloseDiaryAttachments");
    world.addAttachment(2, "TIF", (files / "Local.tif").string());
    world.addDocument("Store.tif/Scan.tif");
    world.addDocument("files/Local.tif");
    world.planResult("Store.tif/Scan.tif", "graph_ocred.pdf");
    world.planResult("files/Local.tif", "graph_ocred.pdf");

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

// A mapped folder that is missing, or empty on its parent's device (a share not mounted there).
TEST_F(LoopWalk, AMissingOrUnmountedMappedFolderEndsTheCycleWithoutTouchingARow) {
    fs::create_directories(world.docs / "empty-mount");
    world.addAttachment(1, "TIF", "\\\\nas\\scans\\Scan.tif");
    for (const auto& [folder, why] : {std::pair(world.docs / "not-mounted", std::string("does not exist")),
                                      std::pair(world.docs / "empty-mount", std::string("is empty on its parent's device"))}) {
        world.writeZrtIni("[PathMap]\r\nD:\\Docs=" + world.docs.string() + "\r\n\\\\nas\\scans=" + folder.string() +
                          "\r\n");
        testing::internal::CaptureStderr();
        EXPECT_EQ(world.run(log), 1);
        const std::string report = testing::internal::GetCapturedStderr();
        EXPECT_NE(report.find("the folder " + folder.string() + " for host paths \\\\nas\\scans " + why), std::string::npos)
            << report;
        EXPECT_FALSE(world.queueExists()) << "not even the queue set-up ran";
        EXPECT_EQ(world.rows("DiaryAttachments")[1].filePath, "\\\\nas\\scans\\Scan.tif");
        EXPECT_FALSE(log.showed("Processing file"));
    }
}

}  // namespace
}  // namespace kvo::test
