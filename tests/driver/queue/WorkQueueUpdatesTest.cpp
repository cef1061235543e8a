// The outcomes of claimed rows against a real embedded database file.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "driver/queue/QueueStatements.h"
#include "driver/queue/WorkQueue.h"
#include "QueueTestSupport.h"

namespace kvo::test {
namespace {

using driver::WorkQueue;

class QueueUpdates : public ::testing::Test {
protected:
    void SetUp() override {
        host_.open()->execute(
            "INSERT INTO DiaryAttachments VALUES (1, 'pdf', '/d/1.pdf', ''), (2, 'tif', '/d/2.tif', ''),"
            " (3, 'tif', '/d/3.tif', '');"
            "INSERT INTO CloseDiaryAttachments VALUES (4, 'tif', '/c/O''Brien.tif'), (2, 'tif', '/d/2.tif');");
        selection_ = host_.open();
        updates_ = host_.open();
        queue_ = std::make_unique<WorkQueue>(*selection_, *updates_, TestWorker());
        ASSERT_TRUE(queue_->setUp());
    }

    // Moves on to the row `id` (rows come in TrackReference order here).
    void holdRow(const std::string& id) {
        while (queue_->current() && queue_->current()->trackReference != id) queue_->next();
        ASSERT_TRUE(queue_->current()) << "row " << id << " was never held";
    }

    Row queueRow(const std::string& id) {
        auto rows = AllRows(*host_.open(), "SELECT Type AS a, FilePath AS b, Processed AS c, Worker AS d"
                                           " FROM DASearchable JOIN DASearchableWork USING (TrackReference)"
                                           " WHERE TrackReference = " + id);
        return rows.empty() ? Row{} : rows.front();
    }

    Row hostRow(const std::string& table, const std::string& id) {
        auto rows = AllRows(*host_.open(),
                            "SELECT Type AS a, FilePath AS b FROM " + table + " WHERE TrackReference = " + id);
        return rows.empty() ? Row{} : rows.front();
    }

    HostDatabase host_;
    std::unique_ptr<driver::SqliteConnection> selection_;
    std::unique_ptr<driver::SqliteConnection> updates_;
    std::unique_ptr<WorkQueue> queue_;
};

TEST_F(QueueUpdates, EachOutcomeSetsItsStatusAndReleasesTheClaim) {
    holdRow("1");
    EXPECT_EQ(queueRow("1"), (Row{"PDF", "/d/1.pdf", "0", driver::ThisWorkerName(0)}));
    EXPECT_TRUE(queue_->markAlreadySearchable("1", "/d/1.pdf"));
    EXPECT_EQ(queueRow("1"), (Row{"PDF", "/d/1.pdf", "3", std::nullopt}));
    holdRow("2");
    EXPECT_TRUE(queue_->markNotFound("2"));
    EXPECT_EQ(queueRow("2"), (Row{"TIF", "/d/2.tif", "2", std::nullopt}));
    holdRow("3");
    EXPECT_TRUE(queue_->markNoResult("3", "the result carries no text"));
    EXPECT_EQ(queueRow("3"), (Row{"TIF", "/d/3.tif", "5", std::nullopt}));
    EXPECT_EQ(AllRows(*host_.open(), "SELECT LastError AS a FROM DASearchableWork WHERE TrackReference = 3"),
              std::vector<Row>{{"the result carries no text"}});
}

TEST_F(QueueUpdates, ANewPdfIsRecordedInBothHostTablesWithItsApostrophesIntact) {
    holdRow("2");
    // A TrackReference in both host tables: both rows point at the new PDF.
    auto record = queue_->recordNewPdf("2", "/d/2.tif", "/d/2.PDF");
    EXPECT_TRUE(record.recorded);
    EXPECT_TRUE(record.keptByUser.empty());
    EXPECT_EQ(hostRow("DiaryAttachments", "2"), (Row{"PDF", "/d/2.PDF"}));
    EXPECT_EQ(hostRow("CloseDiaryAttachments", "2"), (Row{"PDF", "/d/2.PDF"}));

    holdRow("4");
    const std::string path = "/c/O'Brien's 'file'.PDF";
    EXPECT_TRUE(queue_->recordNewPdf("4", "/c/O'Brien.tif", path).recorded);
    EXPECT_EQ(queueRow("4"), (Row{"PDF", path, "2", std::nullopt}));
    EXPECT_EQ(hostRow("CloseDiaryAttachments", "4"), (Row{"PDF", path}));
    EXPECT_TRUE(hostRow("DiaryAttachments", "4").empty());
}

TEST_F(QueueUpdates, AHostRowAUserRepointedMeanwhileKeepsTheUsersPath) {
    holdRow("2");
    host_.open()->execute("UPDATE CloseDiaryAttachments SET FilePath = '/c/mine.tif' WHERE TrackReference = 2");
    const auto record = queue_->recordNewPdf("2", "/d/2.tif", "/d/2.PDF");
    EXPECT_TRUE(record.recorded);
    EXPECT_EQ(record.keptByUser, std::vector<std::string>{"CloseDiaryAttachments"});
    EXPECT_EQ(hostRow("CloseDiaryAttachments", "2"), (Row{"tif", "/c/mine.tif"}));
    EXPECT_EQ(hostRow("DiaryAttachments", "2"), (Row{"PDF", "/d/2.PDF"}));
    EXPECT_EQ(queueRow("2"), (Row{"PDF", "/d/2.PDF", "2", std::nullopt}));
}

// Neither this queue nor the statements themselves move a row that is not this worker's to move.
TEST_F(QueueUpdates, OnlyTheHolderMovesARowAndOnlyOnce) {
    holdRow("1");
    ASSERT_TRUE(queue_->markNotFound("1"));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(queue_->markNoResult("1", "again"));
    EXPECT_FALSE(queue_->markNotFound("2"));  // not held
    EXPECT_FALSE(queue_->recordNewPdf("2", "/d/2.tif", "/d/2.PDF").recorded);
    EXPECT_FALSE(queue_->markNotFound("1 OR 1 = 1"));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("is not a number"), std::string::npos) << errors;
    EXPECT_EQ(queueRow("1"), (Row{"PDF", "/d/1.pdf", "2", std::nullopt}));
    EXPECT_EQ(hostRow("DiaryAttachments", "2"), (Row{"tif", "/d/2.tif"}));

    queue_->next();  // now holds 2
    const auto& sql = driver::SqliteStatements();
    auto other = host_.open();
    const std::string stranger = driver::ThisWorkerName(9);
    for (const std::string& statement : {sql.notFound("2", stranger), sql.noResult("2", stranger),
                                         sql.alreadySearchable("2", stranger, "/x"), sql.newPdf("2", stranger, "/x"),
                                         sql.notFound("1", driver::ThisWorkerName(0))})
        EXPECT_EQ(other->execute(statement), 0) << statement;
    EXPECT_EQ(queueRow("2"), (Row{"TIF", "/d/2.tif", "0", driver::ThisWorkerName(0)}));
}

TEST_F(QueueUpdates, AFailedHostUpdateLeavesTheRowPending) {
    host_.open()->execute("DROP TABLE CloseDiaryAttachments");
    holdRow("3");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(queue_->recordNewPdf("3", "/d/3.tif", "/d/3.PDF").recorded);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("U5"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("U6"), std::string::npos) << errors;
    queue_->closeSelection();
    EXPECT_EQ(queueRow("3"), (Row{"TIF", "/d/3.tif", "0", std::nullopt}));
}

TEST_F(QueueUpdates, ALockHeldElsewhereIsWaitedForThenReported) {
    holdRow("2");
    auto holder = host_.open();
    holder->execute("BEGIN IMMEDIATE");

    // Released in time: the update waits and succeeds.
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        holder->execute("COMMIT");
    });
    EXPECT_TRUE(queue_->markNotFound("2"));
    release.join();
    EXPECT_EQ(queueRow("2"), (Row{"TIF", "/d/2.tif", "2", std::nullopt}));

    // Held longer than the store waits: reported, nothing changed.
    queue_->next();
    holder->execute("BEGIN IMMEDIATE");
    auto impatient = host_.open(200);
    WorkQueue queue(*selection_, *impatient, TestWorker(1));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(queue.setUp() && queue.current());
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("locked"), std::string::npos) << errors;
    holder->execute("COMMIT");
    EXPECT_EQ(queueRow("3"), (Row{"TIF", "/d/3.tif", "0", driver::ThisWorkerName(0)}));
}

}  // namespace
}  // namespace kvo::test
