// The pipeline's run over KVOFile.xml with stand-in splitters and builder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>

#include "PipelineFixture.h"
#include "pipeline/KVOProcessSlidesMod.h"
#include "shared/AppTester.h"
#include "shared/ChildProcess.h"
#include "shared/platform/Clock.h"
#include "shared/pdf/PdfFile.h"
#include "shared/platform/CommandLine.h"

namespace kvo::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace mod = KVOProcessSlidesMod;

TEST(SplitterTable, ImageTypesGoToTheImageSplitterAndPdfToThePdfSplitter) {
    for (const char* type : {"BMP", "JPG", "JPEG", "GIF", "TIF", "TIFF", "G3N"}) {
        ASSERT_TRUE(mod::SplitterFor(type)) << type;
        EXPECT_STREQ(mod::SplitterFor(type)->fileName, "KVOTiffSplitter") << type;
        EXPECT_STREQ(mod::SplitterFor(type)->imageName, "KVOTIFFSPLITTER.EXE") << type;
    }
    ASSERT_TRUE(mod::SplitterFor("PDF"));
    EXPECT_STREQ(mod::SplitterFor("PDF")->fileName, "KVOPDFSplitter");
    EXPECT_STREQ(mod::SplitterFor("PDF")->imageName, "KVOPDFSPLITTER.EXE");
    for (const char* type : {"", "PNG", "PCX", "pdf", "TIF ", "DOC", "PDFX"}) EXPECT_FALSE(mod::SplitterFor(type)) << type;
}

TEST_F(PipelineTest, EveryPendingOrderRunsItsSplitterThenTheBuilderAndIsMarkedDone) {
    WriteOrders({{"/docs/a.tif", "0"},
                 {"/docs/b.PdF", "0"},
                 {"/docs/c.Jpeg", "0"},
                 {"/docs/no_extension", "0"},
                 {"/docs/e.png", "0"},
                 {"/docs/done.pdf", "1"}});
    mod::ProcessOrders(app_.str());

    EXPECT_THAT(ChildPrograms(), ElementsAre("KVOTiffSplitter", "KVOOCRWrd", "KVOPDFSplitter", "KVOOCRWrd",
                                             "KVOTiffSplitter", "KVOOCRWrd", "KVOOCRWrd", "KVOOCRWrd"));
    // Each child saw KVOCurr.xml written for its own order.
    std::vector<std::string> ordered;
    for (const ChildRun& run : ChildRuns()) ordered.push_back(run.orderedAttachment);
    EXPECT_THAT(ordered, ElementsAre("/docs/a.tif", "/docs/a.tif", "/docs/b.PdF", "/docs/b.PdF", "/docs/c.Jpeg",
                                     "/docs/c.Jpeg", "/docs/no_extension", "/docs/e.png"));
    EXPECT_THAT(OrderMarks(), ElementsAre("1", "1", "1", "1", "1", "1"));
    // KVOCurr.xml is left as written for the last handled order, marks still "0".
    EXPECT_EQ(ReadFile(Temp("KVOCurr.xml")), "<File name=\"/docs/e.png\" processed=\"0\"/>");
}

TEST_F(PipelineTest, AnOrderWithoutItsMarkEndsTheRun) {
    WriteOrders({{"/docs/a.tif", "0"}, {"/docs/b.tif", std::nullopt}, {"/docs/c.tif", "0"}});
    mod::ProcessOrders(app_.str());
    EXPECT_THAT(ChildPrograms(), ElementsAre("KVOTiffSplitter", "KVOOCRWrd"));
    EXPECT_THAT(OrderMarks(), ElementsAre("1", "-", "0"));

    WriteOrders({{"/docs/d.tif", std::nullopt}, {"/docs/e.tif", "0"}});
    const std::string untouched = ReadFile(Temp("KVOFile.xml"));
    mod::ProcessOrders(app_.str());
    EXPECT_THAT(ChildPrograms(), ElementsAre("KVOTiffSplitter", "KVOOCRWrd"));
    EXPECT_EQ(ReadFile(Temp("KVOFile.xml")), untouched);
}

TEST_F(PipelineTest, NoUsableOrderDocumentMeansNothingRuns) {
    mod::ProcessOrders(app_.str());  // no KVOFile.xml at all
    WriteFile(Temp("KVOFile.xml"), "");
    mod::ProcessOrders(app_.str());
    WriteFile(Temp("KVOFile.xml"), "<Orders><File name=\"/docs/a.tif\" processed=\"0\"/></Orders>");
    mod::ProcessOrders(app_.str());
    WriteFile(Temp("KVOFile.xml"), "<KVO><File name=\"/docs/a.tif\" processed=\"0\">");
    mod::ProcessOrders(app_.str());

    EXPECT_THAT(ChildPrograms(), IsEmpty());
    EXPECT_FALSE(fs::exists(Temp("KVOCurr.xml")));
}

TEST_F(PipelineTest, AnOrderWithoutAFileNameRunsNothingButIsMarkedDone) {
    WriteFile(Temp("KVOFile.xml"), "<KVO><File processed=\"0\"/><File name=\"/docs/.pdf\" processed=\"0\"/></KVO>");
    WriteFile(Temp("unrelated.bmp"), "keep");
    WriteFile(Temp("KVOOCR.pdf"), "keep");
    mod::ProcessOrders(app_.str());

    EXPECT_THAT(ChildPrograms(), IsEmpty());
    EXPECT_THAT(OrderMarks(), ElementsAre("1", "1"));
    EXPECT_TRUE(fs::exists(Temp("unrelated.bmp")));
    EXPECT_TRUE(fs::exists(Temp("KVOOCR.pdf")));
}

TEST_F(PipelineTest, AnOrderThatCannotBeHandedOnRunsNothingButIsMarkedDone) {
    // KVOCurr.xml cannot be replaced (a folder stands in its place): neither child may start,
    // or it would read whatever order stood there before.
    fs::create_directory(Temp("KVOCurr.xml"));
    WriteOrders({{"/docs/a.tif", "0"}});
    mod::ProcessOrders(app_.str());

    EXPECT_THAT(ChildPrograms(), IsEmpty());
    EXPECT_THAT(OrderMarks(), ElementsAre("1"));
}

// A searchable PDF this system made for `attachment`.
void WriteOurResult(const fs::path& file, const std::string& attachment) {
    fs::copy_file(CorpusDir() / "trivial.pdf", file, fs::copy_options::overwrite_existing);
    pdf::MarkAsResultFor(file.string(), attachment);
}

TEST_F(PipelineTest, AnEarlierRunsWorkFilesAreGoneBeforeTheSplitterStarts) {
    // Left by another attachment of the same base name (another folder) whose run was cut short.
    for (const char* stale : {"KVOOCR.pdf", "KVOOCR.doc", "Scan1.bmp", "Scan1.bmp.xml", "Scan000000.bmp.doc", "SCAN2.BMP"})
        WriteFile(Temp(stale), "stale");
    WriteOurResult(Temp("Scan.pdf"), "/clients/a/Scan.tif");
    WriteFile(Temp("Other1.bmp"), "another attachment's page");
    WriteFile(Temp("KVOOCR.bmp"), "last page");
    WriteOrders({{"/clients/b/Scan.tif", "0"}});
    mod::ProcessOrders(app_.str());

    const std::vector<ChildRun> runs = ChildRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_THAT(runs[0].tempFiles, ElementsAre("KVOCurr.xml", "KVOFile.xml", "KVOOCR.bmp", "Other1.bmp"));
    // The builder left no result, so none is there for the driver to take as this one's.
    EXPECT_FALSE(fs::exists(Temp("Scan.pdf")));
    EXPECT_TRUE(fs::exists(Temp("Other1.bmp")));
}

TEST_F(PipelineTest, TheWorkOfAnEarlierOrderWhosePipelineDiedGoesBeforeTheNextOrder) {
    // The earlier order's KVOCurr.xml, its page work files and builder files, a temporary of a
    // killed writer, and things that are not ours.
    WriteFile(Temp("KVOCurr.xml"), "<File name=\"/clients/a/Prior.tif\" processed=\"1\"><image path=\"x\"/></File>");
    for (const char* stale : {"Prior000000.bmp", "Prior000000.bmp.xml", "Prior000001.bmp.doc", "KVOOCR.mdi",
                              "KVOOCR.mdi.xml", "KVOOCR.doc"})
        WriteFile(Temp(stale), "stale");
    for (const std::string& name : {LeftoverTemporaryName("Prior000001.bmp"), std::string("Prior-notes.bmp"),
                                    std::string(".Prior.bmp.part")})
        WriteFile(Temp(name), "stale or not ours");
    WriteOrders({{"/clients/b/Next.png", "0"}});
    mod::ProcessOrders(app_.str());

    const std::vector<ChildRun> runs = ChildRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_THAT(runs[0].tempFiles,
                ElementsAre(".Prior.bmp.part", "KVOCurr.xml", "KVOFile.xml", "Prior-notes.bmp"));
}

TEST_F(PipelineTest, AnAttachmentInsideTheTemporaryFolderIsNeverRemovedRenamedOrTakenForAResult) {
    EnvVar result("KVO_PIPE_RESULT", "%PDF-result");
    EnvVar pages("KVO_PIPE_PAGES", "2");
    const struct {
        const char* attachment;
        std::vector<const char*> others;  // other attachments lying there
        const char* result;               // the result's name, or nullptr for none
    } cases[] = {
        {"Scan.bmp", {"Scan-2019.bmp", "Scanner.pdf"}, "Scan.pdf"},
        {"Scan000001.bmp", {"Scan.pdf"}, "Scan000001.pdf"},
        {"Scan.pdf", {"Scan-old.bmp"}, nullptr},
        {"Brief.tif", {"Brief.PDF"}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attachment);
        for (const auto& entry : fs::directory_iterator(temp_.path())) fs::remove(entry.path());
        WriteFile(Temp(c.attachment), "the attachment");
        for (const char* other : c.others) WriteFile(Temp(other), "another attachment");
        WriteOrders({{Temp(c.attachment).string(), "0"}});
        mod::ProcessOrders(app_.str());

        EXPECT_EQ(ReadFile(Temp(c.attachment)), "the attachment");
        for (const char* other : c.others) EXPECT_EQ(ReadFile(Temp(other)), "another attachment") << other;
        if (c.result) {
            EXPECT_EQ(ReadFile(Temp(c.result)), "%PDF-result");
        }
        for (const auto& entry : fs::directory_iterator(temp_.path())) {
            const std::string name = entry.path().filename();
            EXPECT_TRUE(name == c.attachment || name == "KVOFile.xml" || name == "KVOCurr.xml" ||
                        (c.result && name == c.result) ||
                        std::find(c.others.begin(), c.others.end(), name) != c.others.end())
                << name;
        }
    }
}

TEST_F(PipelineTest, AChildThatDidNotEndByItselfLeavesNoResult) {
    EnvVar result("KVO_PIPE_RESULT", "%PDF-result");
    EnvVar pages("KVO_PIPE_PAGES", "2");
    const struct {
        const char* killed;
        std::vector<std::string> started;
    } cases[] = {
        {"KVOTiffSplitter", {"KVOTiffSplitter"}},  // no builder after a splitter that was killed
        {"KVOOCRWrd", {"KVOTiffSplitter", "KVOOCRWrd"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.killed);
        fs::remove(logs_ / "children.log");
        EnvVar killed("KVO_PIPE_KILLED", c.killed);
        WriteOrders({{"/docs/Scan.tif", "0"}});
        mod::ProcessOrders(app_.str());

        EXPECT_EQ(ChildPrograms(), c.started);
        EXPECT_FALSE(fs::exists(Temp("Scan.pdf")));
        EXPECT_FALSE(fs::exists(Temp("KVOOCR.pdf")));
        EXPECT_FALSE(fs::exists(Temp("Scan1.bmp")));
        EXPECT_THAT(OrderMarks(), ElementsAre("1"));
    }
}

// A time of 7 December 2026 on the local clock.
TimePoint LocalTimeOfDay(int hour, int minute, int second) {
    std::tm local{};
    local.tm_year = 126;
    local.tm_mon = 11;
    local.tm_mday = 7;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

// A clock that runs 1200 times faster than the real one from 10:00:00 local time, so that an
// hour limit passes in seconds while children that end at once still end before it.
class FastClock {
public:
    FastClock() {
        const TimePoint fakeStart = LocalTimeOfDay(10, 0, 0);
        const auto realStart = std::chrono::steady_clock::now();
        SetClockForTesting([=] { return fakeStart + (std::chrono::steady_clock::now() - realStart) * 1200; });
    }
    ~FastClock() { SetClockForTesting(nullptr); }
};

TEST_F(PipelineTest, ASplitterThatNeverEndsIsEndedAfterTheHourLimitAndNothingIsBuilt) {
    EnvVar hang("KVO_PIPE_HANG", "KVOPDFSplitter");
    WriteOrders({{"/docs/Report.pdf", "0"}});
    {
        FastClock clock;
        mod::ProcessOrders(app_.str());
    }
    EXPECT_THAT(ChildPrograms(), ElementsAre("KVOPDFSplitter"));
    EXPECT_FALSE(IsAppRunning("KVOPDFSplitter"));
    EXPECT_THAT(OrderMarks(), ElementsAre("1"));
}

TEST_F(PipelineTest, ABuilderThatNeverEndsIsEndedWithEveryWordProcessor) {
    EnvVar hang("KVO_PIPE_HANG", "KVOOCRWrd,WINWORD");
    Child word = StartChild({.arguments = {(app_ / "WINWORD").string()}});
    for (int wait = 0; wait < 100 && ChildRuns().empty(); ++wait) SleepMs(50);
    WriteOrders({{"/docs/page.png", "0"}});
    {
        FastClock clock;
        mod::ProcessOrders(app_.str());
    }
    EXPECT_THAT(ChildPrograms(), ElementsAre("WINWORD", "KVOOCRWrd"));
    EXPECT_FALSE(IsAppRunning("KVOOCRWrd.exe"));
    EXPECT_FALSE(IsAppRunning("winword.exe"));
    EXPECT_THAT(OrderMarks(), ElementsAre("1"));
}

TEST_F(PipelineTest, TheInstalledProgramRunsTheChainAndLeavesOnlyTheResult) {
    InstallProgram(BinDir() / "KVOProcessSlides", app_.path(), "KVOProcessSlides");
    EnvVar result("KVO_PIPE_RESULT", "%PDF-searchable");
    EnvVar pages("KVO_PIPE_PAGES", "3");
    WriteOrders({{"/docs/Letter 12.pdf", "0"}});
    EXPECT_TRUE(RunChild({.arguments = {(app_ / "KVOProcessSlides").string()}}, TimeLimit::Seconds(600)).exitedWith(0));

    EXPECT_THAT(ChildPrograms(), ElementsAre("KVOPDFSplitter", "KVOOCRWrd"));
    EXPECT_EQ(ReadFile(Temp("Letter 12.pdf")), "%PDF-searchable");
    std::vector<std::string> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(temp_.path())) left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_THAT(left, ElementsAre("KVOCurr.xml", "KVOFile.xml", "Letter 12.pdf"));
    EXPECT_THAT(OrderMarks(), ElementsAre("1"));
}

TEST_F(PipelineTest, ThePdfSplitterHandsItsPagesToTheBuilder) {
    InstallProgram(BinDir() / "KVOPDFSplitter", app_.path(), "KVOPDFSplitter");
    InstallProgram(HelperDir() / "stand_in_ocr", app_.path(), "KVOOCR");
    ScratchDir docs("kvo-pipe-docs");
    fs::copy_file(CorpusDir() / "ccitt.pdf", docs / "ccitt.pdf");
    EnvVar layout("KVO_STANDIN_LAYOUT", (docs / "ccitt.pdf").string());  // any file will do
    EnvVar result("KVO_PIPE_RESULT", "%PDF-searchable");
    WriteOrders({{(docs / "ccitt.pdf").string(), "0"}});
    mod::ProcessOrders(app_.str());

    const std::vector<ChildRun> runs = ChildRuns();
    ASSERT_EQ(runs.size(), 1u);  // the real splitter writes no log line
    EXPECT_EQ(runs[0].program, "KVOOCRWrd");
    EXPECT_THAT(runs[0].tempFiles, ::testing::IsSupersetOf({"ccitt1.bmp", "ccitt1.bmp.xml", "KVOOCR.bmp"}));
    EXPECT_EQ(ReadFile(Temp("ccitt.pdf")), "%PDF-searchable");
    EXPECT_FALSE(fs::exists(Temp("ccitt1.bmp")));
    EXPECT_FALSE(fs::exists(Temp("ccitt1.bmp.xml")));
}

}  // namespace
}  // namespace kvo::test
