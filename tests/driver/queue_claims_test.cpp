// Claims against one embedded database file: several processes at once, claims of workers that
// died, expired claims, and the attempts of machine faults.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <map>

#include "driver/queue/WorkQueue.h"
#include "queue_test_support.h"

namespace kvo::test {
namespace {

using driver::WorkQueue;

class QueueClaims : public ::testing::Test {
protected:
    void addRows(int count) {
        std::string values;
        for (int id = 1; id <= count; ++id)
            values += (values.empty() ? "" : ",") + ("(" + std::to_string(id) + ", 'TIF', '/d/" + std::to_string(id) + ".tif', '')");
        host_.open()->execute("INSERT INTO DiaryAttachments VALUES " + values);
    }

    // A process that walks the queue with one worker, records every row it is given as not
    // found, and writes the ids it took to `log`. It ends with 0 when every outcome was recorded.
    pid_t startWalker(int workerIndex, const std::string& log) {
        const pid_t pid = fork();
        if (pid != 0) return pid;
        int failures = 0;
        {
            auto selection = host_.open(30000);
            auto updates = host_.open(30000);
            WorkQueue queue(*selection, *updates, TestWorker(workerIndex));
            std::ofstream taken(log);
            if (!queue.setUp()) _exit(3);
            for (auto row = queue.current(); row; queue.next(), row = queue.current()) {
                taken << row->trackReference << "\n" << std::flush;
                failures += !queue.markNotFound(row->trackReference);
            }
        }
        _exit(failures == 0 ? 0 : 4);
    }

    std::vector<Row> sideRows() {
        return AllRows(*host_.open(), "SELECT TrackReference AS a, Worker AS b, Attempts AS c, LastError AS d"
                                      " FROM DASearchableWork ORDER BY 1");
    }

    HostDatabase host_;
};

TEST_F(QueueClaims, SeveralProcessesOnOneDatabaseTakeEachRowExactlyOnce) {
    constexpr int kRows = 120;
    constexpr int kProcesses = 4;
    addRows(kRows);
    std::vector<pid_t> walkers;
    for (int i = 0; i < kProcesses; ++i) walkers.push_back(startWalker(i, host_.dir().str() + "/taken" + std::to_string(i)));
    std::map<std::string, int> takenBy;
    for (int i = 0; i < kProcesses; ++i) {
        int status = 0;
        ASSERT_EQ(waitpid(walkers[i], &status, 0), walkers[i]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "walker " << i << " status " << status;
        std::ifstream log(host_.dir().str() + "/taken" + std::to_string(i));
        for (std::string id; std::getline(log, id);) ++takenBy[id];
    }
    EXPECT_EQ(takenBy.size(), static_cast<std::size_t>(kRows));
    for (const auto& [id, times] : takenBy) EXPECT_EQ(times, 1) << "row " << id;
    EXPECT_EQ(AllRows(*host_.open(), "SELECT Processed AS a, count(*) AS b FROM DASearchable GROUP BY 1"),
              (std::vector<Row>{{"2", std::to_string(kRows)}}));
    EXPECT_EQ(AllRows(*host_.open(), "SELECT count(*) AS a FROM DASearchableWork WHERE Worker IS NOT NULL"),
              std::vector<Row>{{"0"}});
}

// A worker killed mid-row: a driver of the same machine frees its claim at once; a claim of
// another machine is taken over only once it has expired.
TEST_F(QueueClaims, ClaimsOfDeadWorkersAreFreedAtStartAndOthersOnlyOnExpiry) {
    addRows(3);
    const pid_t victim = fork();
    if (victim == 0) {
        auto selection = host_.open();
        auto updates = host_.open();
        WorkQueue queue(*selection, *updates, TestWorker());
        if (queue.setUp() && queue.current()) raise(SIGKILL);  // mid-row: row 1 stays claimed
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(victim, &status, 0), victim);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::string me = driver::ThisWorkerName(0);
    EXPECT_EQ(sideRows()[0][1], driver::WorkerName(me.substr(0, me.find(':')), victim, 0));
    // Row 2 is held by a worker of another machine (fresh), row 3 by one whose claim is old.
    host_.open()->execute(
        "UPDATE DASearchableWork SET Worker = 'elsewhere:1:0', ClaimedAt = strftime('%Y-%m-%d %H:%M:%f', 'now')"
        " WHERE TrackReference = 2;"
        "UPDATE DASearchableWork SET Worker = 'elsewhere:2:0',"
        " ClaimedAt = strftime('%Y-%m-%d %H:%M:%f', 'now', '-181 minutes') WHERE TrackReference = 3;");

    auto selection = host_.open();
    auto updates = host_.open();
    WorkQueue queue(*selection, *updates, TestWorker());
    testing::internal::CaptureStderr();
    ASSERT_TRUE(queue.setUp());
    std::vector<std::string> taken;
    for (auto row = queue.current(); row; queue.next(), row = queue.current()) {
        taken.push_back(row->trackReference);
        ASSERT_TRUE(queue.markNotFound(row->trackReference));
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(taken, (std::vector<std::string>{"1", "3"}));
    EXPECT_NE(errors.find(":" + std::to_string(victim) + ":0, which no longer runs"), std::string::npos) << errors;
    EXPECT_EQ(sideRows()[1][1], "elsewhere:1:0");
}

TEST_F(QueueClaims, MachineFaultsLeaveTheRowPendingUntilTheLastAttempt) {
    addRows(2);
    auto selection = host_.open();
    auto updates = host_.open();
    driver::WorkerSettings settings = TestWorker();
    settings.maxAttempts = 2;
    for (int cycle = 1; cycle <= 2; ++cycle) {
        WorkQueue queue(*selection, *updates, settings);
        ASSERT_TRUE(queue.setUp());
        ASSERT_TRUE(queue.current());
        ASSERT_EQ(queue.current()->trackReference, "1");
        const auto record = queue.recordFault("1", "KVOTiffSplitter killed by signal " + std::to_string(cycle));
        EXPECT_TRUE(record.recorded);
        EXPECT_EQ(record.attempts, cycle);
        EXPECT_EQ(record.gaveUp, cycle == 2);
        // The row that failed is not taken again in the same cycle.
        queue.next();
        ASSERT_TRUE(queue.current());
        EXPECT_EQ(queue.current()->trackReference, "2");
        queue.next();
        EXPECT_FALSE(queue.current());
    }
    EXPECT_EQ(AllRows(*host_.open(), "SELECT Processed AS a FROM DASearchable ORDER BY TrackReference"),
              (std::vector<Row>{{"5"}, {"0"}}));
    EXPECT_EQ(sideRows()[0], (Row{"1", std::nullopt, "2", "gave up after 2 attempts: KVOTiffSplitter killed by signal 2"}));
}

TEST(WorkerNames, CarryHostProcessAndIndex) {
    EXPECT_EQ(driver::WorkerName("scan-01", 4711, 2), "scan-01:4711:2");
    EXPECT_EQ(driver::ProcessOfWorker("scan-01:4711:2", "scan-01"), 4711);
    for (const char* other : {"scan-011:4711:2", "scan-01:4711", "scan-01:x:2", "scan-01::2", "scan-01:0:1",
                              "scan-01:12:3:4", "scan-02:4711:2"})
        EXPECT_EQ(driver::ProcessOfWorker(other, "scan-01"), std::nullopt) << other;
}

}  // namespace
}  // namespace kvo::test
