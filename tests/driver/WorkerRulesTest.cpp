#include <gtest/gtest.h>

#include "driver/LoopRules.h"
#include "driver/WorkerRules.h"

namespace kvo::driver {
namespace {

TEST(WorkerRules, TheWorkerCountComesFromTheOptionTheSettingOrTheCores) {
    struct Case {
        std::optional<int> option;
        std::string setting;
        int cores;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {3, "5", 2, 3},           {std::nullopt, "5", 2, 5},     {std::nullopt, "", 2, 2},
        {std::nullopt, "", 0, 1}, {std::nullopt, "", 200, 64},   {std::nullopt, "0", 2, std::nullopt},
        {std::nullopt, "65", 2, std::nullopt}, {std::nullopt, "two", 2, std::nullopt},
        {std::nullopt, "-1", 2, std::nullopt}, {std::nullopt, "2 ", 2, std::nullopt},
        {std::nullopt, "007", 2, std::nullopt}, {1, "x", 2, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseWorkerCount(c.option, c.setting, c.cores), c.expected) << "'" << c.setting << "'";
}

TEST(WorkerRules, EventsSurviveTheLineWhateverTheirTexts) {
    const WorkerEvent events[] = {
        WorkerEvent::Started("D:\\Docs\\Scan\ttab.tif"),
        WorkerEvent::Started("/docs/line\nbreak\r\\x.tif"),
        WorkerEvent::Ended("status 2, converted to /d/a.PDF", 17),
        WorkerEvent::Ended("", 0),
    };
    for (const WorkerEvent& event : events) {
        const std::string line = EncodeEvent(event);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        const auto decoded = DecodeEvent(line);
        ASSERT_TRUE(decoded) << line;
        EXPECT_EQ(decoded->kind, event.kind);
        EXPECT_EQ(decoded->attachment, event.attachment);
        EXPECT_EQ(decoded->outcome, event.outcome);
        EXPECT_EQ(decoded->pages, event.pages);
    }
    for (const std::string bad : {"", "started", "ended\t1", "ended\tx\tok", "ended\t-1\tok", "started\ta\\q",
                                  "started\ta\\", "begun\tx", "ended\t1234567\tok"})
        EXPECT_FALSE(DecodeEvent(bad)) << bad;
}

TEST(WorkerRules, TheWalksTextsNameTheRowAndItsOutcome) {
    const std::string path = "/docs/a b: c.tif";
    EXPECT_EQ(AttachmentOfRowText(StartOfRowText(7, 3, path)), path);
    EXPECT_FALSE(AttachmentOfRowText(kPreparingText));
    EXPECT_FALSE(AttachmentOfRowText(kWaitText));
    EXPECT_FALSE(AttachmentOfRowText(StartOfRowText(7, 3, path) + kInProgressAppend + "\r\nSTOPPING. Please wait"))
        << "an appended text is the same row, not a new one";

    const std::string converted = "status 2, converted to /docs/a b: c.PDF";
    EXPECT_EQ(OutcomeOfReportLine(RowReportLine("{12}", path, converted, 4.25, 4.0), path), converted);
    EXPECT_EQ(ConvertedDestination(converted), "/docs/a b: c.PDF");
    EXPECT_EQ(OutcomeOfReportLine(RowReportLine("{12}", path, "status 2, not found", 3), path), "status 2, not found");
    EXPECT_EQ(ConvertedDestination(converted + "; DiaryAttachments was repointed by a user and kept"),
              "/docs/a b: c.PDF");
    EXPECT_FALSE(ConvertedDestination("status 2, not found"));
    EXPECT_FALSE(OutcomeOfReportLine(RowReportLine("{12}", "/docs/other.tif", converted, 1), path));
    EXPECT_FALSE(OutcomeOfReportLine("KVOProcess: S4 failed: " + path + ": locked", path));

    // A path with a line break is named and reported in its printable form.
    const std::string broken = "/docs/a\nb.tif";
    const auto attachment = AttachmentOfRowText(StartOfRowText(1, 1, broken));
    ASSERT_EQ(attachment, "/docs/a<0A>b.tif");
    EXPECT_EQ(OutcomeOfReportLine(RowReportLine("3", broken, "status 2, not found", 3), *attachment), "status 2, not found");
}

TEST(WorkerRules, TheProgressLineCountsRatesAndEstimates) {
    struct Case {
        CycleProgress progress;
        std::string expected;
    };
    const Case cases[] = {
        {{10, 0, 0, 0}, "10 pending, 0 done this cycle, 0 pages per minute, time left not known yet"},
        {{10, 2, 6, 60}, "8 pending, 2 done this cycle, 6 pages per minute, about 4 min left"},
        {{10, 5, 30, 20}, "5 pending, 5 done this cycle, 90 pages per minute, less than a minute left"},
        {{500, 20, 40, 600}, "480 pending, 20 done this cycle, 4 pages per minute, about 4 h 00 min left"},
        {{100, 1, 1, 65}, "99 pending, 1 done this cycle, 1 pages per minute, about 1 h 47 min left"},
        {{3, 5, 5, 10}, "0 pending, 5 done this cycle, 30 pages per minute, nothing left"},
    };
    for (const Case& c : cases) EXPECT_EQ(ProgressLine(c.progress), c.expected);

    EXPECT_EQ(WorkersText(4, {"/docs/a.tif", ""}, "line"),
              "Pellmoor OCR utility.\r\n\r\n4 files Found.\r\n\r\nWorker 1: Processing file /docs/a.tif\r\n"
              "Worker 2: waiting\r\n\r\nline");
}

}  // namespace
}  // namespace kvo::driver
