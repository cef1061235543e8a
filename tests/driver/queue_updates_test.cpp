// The row updates against a real embedded database file.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "driver/queue/WorkQueue.h"
#include "queue_test_support.h"

namespace kvo::test {
namespace {

using driver::WorkQueue;

class QueueUpdates : public ::testing::Test {
protected:
    void SetUp() override {
        host_.open()->execute(
            "INSERT INTO DiaryAttachments VALUES (1, 'pdf', '/d/1.pdf', ''), (2, 'tif', '/d/2.tif', ''),"
            " (3, 'tif', '/d/3.tif', '');"
            "INSERT INTO CloseDiaryAttachments VALUES (4, 'tif', '/c/O''Brien.tif'), (2, 'tif', '/c/2.tif');");
        selection_ = host_.open();
        updates_ = host_.open();
        queue_ = std::make_unique<WorkQueue>(*selection_, *updates_);
        ASSERT_TRUE(queue_->setUp());
    }

    Row queueRow(const std::string& id) {
        auto rows = AllRows(*host_.open(), "SELECT Type AS a, FilePath AS b, Processed AS c FROM DASearchable "
                                           "WHERE TrackReference = " + id);
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

TEST_F(QueueUpdates, EachUpdateSetsItsStatusAndPath) {
    EXPECT_TRUE(queue_->markNotFound("2"));
    EXPECT_EQ(queueRow("2"), (Row{"TIF", "/d/2.tif", "2"}));
    EXPECT_TRUE(queue_->markAlreadySearchable("1", "/d/1.pdf"));
    EXPECT_EQ(queueRow("1"), (Row{"PDF", "/d/1.pdf", "3"}));
    EXPECT_TRUE(queue_->markNoResult("3"));
    EXPECT_EQ(queueRow("3"), (Row{"TIF", "/d/3.tif", "5"}));
}

TEST_F(QueueUpdates, ANewPdfIsRecordedInBothHostTablesWithItsApostrophesIntact) {
    const std::string path = "/c/O'Brien's 'file'.PDF";
    EXPECT_TRUE(queue_->recordNewPdf("4", path));
    EXPECT_EQ(queueRow("4"), (Row{"PDF", path, "2"}));
    EXPECT_EQ(hostRow("CloseDiaryAttachments", "4"), (Row{"PDF", path}));
    EXPECT_TRUE(hostRow("DiaryAttachments", "4").empty());

    // A TrackReference in both host tables: both rows point at the new PDF.
    EXPECT_TRUE(queue_->recordNewPdf("2", "/d/2.PDF"));
    EXPECT_EQ(hostRow("DiaryAttachments", "2"), (Row{"PDF", "/d/2.PDF"}));
    EXPECT_EQ(hostRow("CloseDiaryAttachments", "2"), (Row{"PDF", "/d/2.PDF"}));
}

TEST_F(QueueUpdates, AStatusOnceSetIsNeverChangedAgain) {
    ASSERT_TRUE(queue_->markNotFound("2"));
    ASSERT_TRUE(queue_->markAlreadySearchable("1", "/d/1.pdf"));
    ASSERT_TRUE(queue_->markNoResult("3"));
    for (const char* id : {"1", "2", "3"}) {
        Row before = queueRow(id);
        queue_->markNotFound(id);
        queue_->markNoResult(id);
        queue_->markAlreadySearchable(id, "/elsewhere.pdf");
        queue_->recordNewPdf(id, "/elsewhere.PDF");
        EXPECT_EQ(queueRow(id), before) << "row " << id;
    }
}

TEST_F(QueueUpdates, ATrackReferenceThatIsNoNumberIsNeverSent) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(queue_->markNotFound("1 OR 1 = 1"));
    EXPECT_FALSE(queue_->recordNewPdf("", "/x.PDF"));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("U1"), std::string::npos) << errors;
    EXPECT_NE(errors.find("U4"), std::string::npos) << errors;
    EXPECT_EQ(AllRows(*host_.open(), "SELECT count(*) AS a FROM DASearchable WHERE Processed = 0"),
              std::vector<Row>{{"4"}});
}

TEST_F(QueueUpdates, AFailedHostUpdateLeavesTheRowPending) {
    host_.open()->execute("DROP TABLE CloseDiaryAttachments");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(queue_->recordNewPdf("3", "/d/3.PDF"));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("U5"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("U6"), std::string::npos) << errors;
    EXPECT_EQ(queueRow("3"), (Row{"TIF", "/d/3.tif", "0"}));
}

TEST_F(QueueUpdates, ALockHeldElsewhereIsWaitedForThenReported) {
    auto holder = host_.open();
    holder->execute("BEGIN IMMEDIATE");

    // Released in time: the update waits and succeeds.
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        holder->execute("COMMIT");
    });
    EXPECT_TRUE(queue_->markNotFound("2"));
    release.join();
    EXPECT_EQ(queueRow("2"), (Row{"TIF", "/d/2.tif", "2"}));

    // Held longer than the store waits: reported, nothing changed.
    holder->execute("BEGIN IMMEDIATE");
    auto impatient = host_.open(200);
    WorkQueue queue(*selection_, *impatient);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(queue.markNoResult("3"));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("U3"), std::string::npos) << errors;
    EXPECT_NE(errors.find("locked"), std::string::npos) << errors;
    holder->execute("COMMIT");
    EXPECT_EQ(queueRow("3"), (Row{"TIF", "/d/3.tif", "0"}));
}

}  // namespace
}  // namespace kvo::test
