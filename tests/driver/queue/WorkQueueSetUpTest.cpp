// The queue set-up and walk against a real embedded database file.
#include <gtest/gtest.h>

#include "driver/queue/WorkQueue.h"
#include "QueueTestSupport.h"

namespace kvo::test {
namespace {

using driver::QueueRow;
using driver::WorkQueue;

class QueueSetUp : public ::testing::Test {
protected:
    void SetUp() override {
        selection_ = host_.open();
        updates_ = host_.open();
    }

    void fillHost(const std::string& sql) { host_.open()->execute(sql); }

    // TrackReference, Type, FilePath, Processed of every queue row, in table order.
    std::vector<Row> queueRows() {
        return AllRows(*host_.open(),
                       "SELECT TrackReference AS a, Type AS b, FilePath AS c, Processed AS d FROM DASearchable "
                       "ORDER BY rowid");
    }

    std::vector<QueueRow> walk(WorkQueue& queue) {
        std::vector<QueueRow> rows;
        for (auto row = queue.current(); row; queue.next(), row = queue.current()) rows.push_back(*row);
        return rows;
    }

    HostDatabase host_;
    std::unique_ptr<driver::SqliteConnection> selection_;
    std::unique_ptr<driver::SqliteConnection> updates_;
};

TEST_F(QueueSetUp, FirstCycleCreatesTheQueueAndFillsOpenMattersBeforeClosedOnes) {
    fillHost(
        "INSERT INTO DiaryAttachments VALUES (7, 'tif', '/docs/seven.tif', 'x'), (3, 'Pdf', '/docs/three.pdf', ''),"
        " (9, 'png', '/docs/nine.png', ''), (4, 'PCX', '/docs/four.pcx', ''), (5, 'jpeg', '/docs/five.jpeg', ''),"
        " (6, 'bmp', NULL, ''), (8, 'TIF ', '/docs/eight.tif', '');"
        "INSERT INTO CloseDiaryAttachments VALUES (2, 'g3n', '/closed/two.g3n'), (3, 'gif', '/closed/three.gif'),"
        " (1, 'doc', '/closed/one.doc');");
    WorkQueue queue(*selection_, *updates_, TestWorker());
    ASSERT_TRUE(queue.setUp());

    const std::vector<Row> expected = {
        {"7", "TIF", "/docs/seven.tif", "0"}, {"3", "PDF", "/docs/three.pdf", "0"},
        {"9", "PNG", "/docs/nine.png", "5"},  {"4", "PCX", "/docs/four.pcx", "5"},
        {"5", "JPG", "/docs/five.jpeg", "0"}, {"6", "BMP", std::nullopt, "0"},
        {"8", "TIF", "/docs/eight.tif", "0"}, {"2", "G3N", "/closed/two.g3n", "0"},
        {"1", "DOC", "/closed/one.doc", "5"},
    };
    EXPECT_EQ(queueRows(), expected);
    // The primary key exists under its name.
    EXPECT_EQ(AllRows(*host_.open(), "SELECT count(*) AS a FROM sqlite_master WHERE name = 'PK_DASearchable'"),
              std::vector<Row>{{"1"}});

    EXPECT_EQ(queue.pendingCount(), 6);
    // The pending rows are claimed in TrackReference order, as SQL Server's key gives them.
    std::vector<QueueRow> rows = walk(queue);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0].trackReference, "2");
    EXPECT_EQ(rows[0].type, "G3N");
    EXPECT_EQ(rows[0].filePath, "/closed/two.g3n");
    EXPECT_EQ(rows[3].trackReference, "6");
    EXPECT_EQ(rows[3].filePath, std::nullopt);
    EXPECT_EQ(rows[5].trackReference, "8");
    EXPECT_FALSE(queue.current());
}

TEST_F(QueueSetUp, LaterCyclesQueueOnlyNewAttachmentsAndKeepEveryStatus) {
    fillHost("INSERT INTO DiaryAttachments VALUES (1, 'tif', '/d/1.tif', ''), (2, 'pdf', '/d/2.pdf', '');");
    {
        WorkQueue queue(*selection_, *updates_, TestWorker());
        ASSERT_TRUE(queue.setUp());
        ASSERT_TRUE(queue.markNotFound("1"));
        queue.closeSelection();
    }
    // The host changes a queued row and adds a new one; a queued TrackReference appears in the
    // closed matters too.
    fillHost(
        "UPDATE DiaryAttachments SET Type = 'bmp', FilePath = '/d/changed.bmp' WHERE TrackReference = 1;"
        "INSERT INTO DiaryAttachments VALUES (3, 'gif', '/d/3.gif', '');"
        "INSERT INTO CloseDiaryAttachments VALUES (2, 'tif', '/closed/2.tif');");
    WorkQueue queue(*selection_, *updates_, TestWorker());
    ASSERT_TRUE(queue.setUp());
    const std::vector<Row> expected = {
        {"1", "TIF", "/d/1.tif", "2"}, {"2", "PDF", "/d/2.pdf", "0"}, {"3", "GIF", "/d/3.gif", "0"}};
    EXPECT_EQ(queueRows(), expected);
    EXPECT_EQ(queue.pendingCount(), 2);
}

TEST_F(QueueSetUp, ASideTableMadeBeforePagesWereKeptGetsTheirColumn) {
    fillHost(
        "CREATE TABLE DASearchableWork (TrackReference int not null, Worker nvarchar(128) null,"
        " ClaimedAt datetime null, Attempts int not null, LastError nvarchar(1000) null,"
        " CONSTRAINT PK_DASearchableWork PRIMARY KEY (TrackReference));"
        "INSERT INTO DiaryAttachments VALUES (1, 'tif', '/d/1.tif', '');");
    WorkQueue queue(*selection_, *updates_, TestWorker());
    ASSERT_TRUE(queue.setUp());
    ASSERT_TRUE(queue.recordNewPdf("1", "/d/1.tif", "/d/1.PDF", 3).recorded);
    EXPECT_EQ(AllRows(*host_.open(), "SELECT Pages AS a FROM DASearchableWork WHERE TrackReference = 1"),
              std::vector<Row>{{"3"}});
}

TEST_F(QueueSetUp, AnEmptyQueueCountsNothingAndSelectsNothing) {
    WorkQueue queue(*selection_, *updates_, TestWorker());
    ASSERT_TRUE(queue.setUp());
    EXPECT_EQ(queue.pendingCount(), 0);
    EXPECT_FALSE(queue.current());
    queue.next();
    EXPECT_FALSE(queue.current());
}

TEST_F(QueueSetUp, UpdatesSentWhileTheSelectionIsWalkedDoNotDisturbIt) {
    std::string values;
    for (int id = 1; id <= 500; ++id)
        values += (values.empty() ? "" : ",") + ("(" + std::to_string(id) + ", 'TIF', '/d/" + std::to_string(id) + ".tif', '')");
    fillHost("INSERT INTO DiaryAttachments VALUES " + values);
    WorkQueue queue(*selection_, *updates_, TestWorker());
    ASSERT_TRUE(queue.setUp());
    ASSERT_EQ(queue.pendingCount(), 500);

    int walked = 0;
    for (auto row = queue.current(); row; queue.next(), row = queue.current()) {
        ++walked;
        EXPECT_EQ(row->trackReference, std::to_string(walked));
        const int id = walked;
        bool sent = id % 3 == 0   ? queue.markNotFound(row->trackReference)
                    : id % 3 == 1 ? queue.markNoResult(row->trackReference, "no result file")
                                  : queue.recordNewPdf(row->trackReference, *row->filePath,
                                                       "/d/" + row->trackReference + ".PDF")
                                        .recorded;
        ASSERT_TRUE(sent) << "row " << id;
    }
    EXPECT_EQ(walked, 500);
    queue.closeSelection();
    EXPECT_EQ(AllRows(*host_.open(), "SELECT Processed AS a, count(*) AS b FROM DASearchable GROUP BY Processed"),
              (std::vector<Row>{{"2", "333"}, {"5", "167"}}));
    EXPECT_EQ(AllRows(*host_.open(), "SELECT FilePath AS a, Type AS b FROM DiaryAttachments WHERE TrackReference = 2"),
              (std::vector<Row>{{"/d/2.PDF", "PDF"}}));
}

TEST_F(QueueSetUp, AQueryThatDoesNotOpenEndsTheProgramAndClosesBothConnections) {
    driver::SqliteConnection neverOpened(host_.file());
    WorkQueue queue(neverOpened, *updates_, TestWorker());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(queue.setUp());
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("S1"), std::string::npos) << errors;
    EXPECT_FALSE(updates_->isOpen());
}

TEST_F(QueueSetUp, AFillTheDatabaseRejectsIsReportedAndTheCycleGoesOn) {
    // The open matters' table is gone: S4 fails, S5 still fills.
    fillHost("DROP TABLE DiaryAttachments; INSERT INTO CloseDiaryAttachments VALUES (4, 'tif', '/c/4.tif');");
    WorkQueue queue(*selection_, *updates_, TestWorker());
    testing::internal::CaptureStderr();
    ASSERT_TRUE(queue.setUp());
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("S4"), std::string::npos) << errors;
    EXPECT_NE(errors.find("DiaryAttachments"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("S5"), std::string::npos) << errors;
    EXPECT_EQ(queue.pendingCount(), 1);
    ASSERT_TRUE(queue.current());
    EXPECT_EQ(queue.current()->trackReference, "4");
}

TEST_F(QueueSetUp, ATrackReferenceTwiceInOneHostTableBreaksTheKeyAndQueuesNothingFromIt) {
    fillHost(
        "INSERT INTO DiaryAttachments VALUES (1, 'tif', '/d/a.tif', ''), (1, 'tif', '/d/b.tif', ''),"
        " (2, 'pdf', '/d/2.pdf', '');"
        "INSERT INTO CloseDiaryAttachments VALUES (3, 'tif', '/c/3.tif');");
    WorkQueue queue(*selection_, *updates_, TestWorker());
    testing::internal::CaptureStderr();
    ASSERT_TRUE(queue.setUp());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("S4"), std::string::npos);
    EXPECT_EQ(queueRows(), (std::vector<Row>{{"3", "TIF", "/c/3.tif", "0"}}));
}

// Types wider than the column and paths wider than FilePath: each such host row is dealt with
// on its own, the fill goes on, and every status 5 keeps its reason.
TEST_F(QueueSetUp, NoSingleHostRowMakesTheFillFail) {
    const std::string wide = "/d/" + std::string(260, 'w') + ".tif";
    fillHost(
        "INSERT INTO DiaryAttachments VALUES (1, 'tiff', '/d/1.tiff', ''), (2, 'Jpeg', '/d/2.jpeg', ''),"
        " (3, 'docx', '/d/3.docx', ''), (4, NULL, '/d/4', ''), (5, 'tif', '" + wide + "', ''),"
        " (6, 'tif', '/d/" + std::string(243, 'n') + ".tif          ', '');"
        "INSERT INTO CloseDiaryAttachments VALUES (7, 'pdf', '" + wide + "'), (8, 'pdf', '/c/8.pdf');");
    for (int cycle = 0; cycle < 2; ++cycle) {
        WorkQueue queue(*selection_, *updates_, TestWorker());
        testing::internal::CaptureStderr();
        ASSERT_TRUE(queue.setUp());
        queue.closeSelection();
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(errors, "KVOProcess: 2 host rows are not queued: their FilePath is longer than 255 characters\n");
    }
    EXPECT_EQ(AllRows(*host_.open(), "SELECT DS.TrackReference AS a, DS.Type AS b, DS.Processed AS c, W.LastError AS d"
                                     " FROM DASearchable DS JOIN DASearchableWork W USING (TrackReference)"
                                     " ORDER BY 1"),
              (std::vector<Row>{{"1", "TIF", "0", std::nullopt},
                                {"2", "JPG", "0", std::nullopt},
                                {"3", "DOC", "5", "the type 'DOC' is not converted"},
                                {"4", "", "5", "the type '' is not converted"},
                                {"6", "TIF", "0", std::nullopt},
                                {"8", "PDF", "0", std::nullopt}}));
}

}  // namespace
}  // namespace kvo::test
