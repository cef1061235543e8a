// Claims against one embedded database file: several processes at once, claims of workers that
// died, expired claims, and the attempts of machine faults.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <map>
#include <thread>

#include "driver/queue/WorkQueue.h"
#include "QueueTestSupport.h"

namespace kvo::test {
namespace {

using driver::WorkQueue;
using kvo::ProcessIdentity;

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

// A worker killed mid-row: a driver of the same process list frees its claim at once; a claim
// of another machine, or of a process in another PID namespace, is taken over only once it has
// expired.
TEST_F(QueueClaims, ClaimsOfDeadWorkersAreFreedAtStartAndOthersOnlyOnExpiry) {
    addRows(4);
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
    const auto victimsName = sideRows()[0][1].value_or("");
    ASSERT_EQ(driver::ProcessOfWorker(victimsName).value_or(ProcessIdentity{}).pid, victim) << victimsName;
    // Row 2 is held by a worker of another machine (fresh), row 3 by one whose claim is old, row
    // 4 by a process of this machine's name and boot whose process id lives in another namespace.
    ProcessIdentity elsewhere = ThisProcess();
    elsewhere.pidNamespace = "1";
    elsewhere.pid = victim;
    const std::string inAnotherNamespace = driver::WorkerName(elsewhere, 0);
    const std::string fresh = "strftime('%Y-%m-%d %H:%M:%f', 'now')";
    host_.open()->execute(
        "UPDATE DASearchableWork SET Worker = 'elsewhere:1:0', ClaimedAt = " + fresh + " WHERE TrackReference = 2;"
        "UPDATE DASearchableWork SET Worker = 'elsewhere:2:0',"
        " ClaimedAt = strftime('%Y-%m-%d %H:%M:%f', 'now', '-16 minutes') WHERE TrackReference = 3;"
        "UPDATE DASearchableWork SET Worker = '" + inAnotherNamespace + "', ClaimedAt = " + fresh +
        " WHERE TrackReference = 4;");

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
    EXPECT_NE(errors.find("released the claims of " + victimsName + ", which no longer runs"), std::string::npos)
        << errors;
    EXPECT_EQ(sideRows()[1][1], "elsewhere:1:0");
    EXPECT_EQ(sideRows()[3][1], inAnotherNamespace);
}

// The holder renews its claim while it works, so a claim outlives its expiry; a holder whose
// claim was taken over all the same (it stopped renewing) records nothing and says so.
TEST_F(QueueClaims, ARenewedClaimIsKeptAndALostOneRecordsNothing) {
    addRows(2);
    driver::WorkerSettings holderSettings = TestWorker(0);
    holderSettings.claimHours = 4.0 / 3600;  // renewed every second
    auto holderSelection = host_.open(), holderUpdates = host_.open();
    WorkQueue holder(*holderSelection, *holderUpdates, holderSettings);
    ASSERT_TRUE(holder.setUp());
    ASSERT_EQ(holder.current()->trackReference, "1");
    const auto lapse = [&] {
        host_.open()->execute("UPDATE DASearchableWork SET ClaimedAt = strftime('%Y-%m-%d %H:%M:%f', 'now', '-1 hour')"
                              " WHERE TrackReference = 1");
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    };
    const auto claimOf = [&](int index) {
        driver::WorkerSettings settings = TestWorker(index);
        settings.claimHours = holderSettings.claimHours;
        auto selection = host_.open(), updates = host_.open();
        WorkQueue other(*selection, *updates, settings);
        EXPECT_TRUE(other.setUp());
        const std::string taken = other.current() ? other.current()->trackReference : "";
        if (!taken.empty()) {
            EXPECT_TRUE(other.markNotFound(taken));
        }
        return taken;
    };

    lapse();
    holder.keepClaimFresh();
    EXPECT_EQ(claimOf(1), "2") << "a renewed claim is not taken over";

    testing::internal::CaptureStderr();
    lapse();
    EXPECT_EQ(claimOf(2), "1");
    holder.keepClaimFresh();
    EXPECT_TRUE(holder.claimLost());
    EXPECT_EQ(holder.renewClaim("1"), WorkQueue::Claim::Lost);
    const driver::NewPdfRecord record = holder.recordNewPdf("1", "/d/1.tif", "/d/1.PDF", 3);
    EXPECT_TRUE(record.claimLost);
    EXPECT_FALSE(record.recorded);
    EXPECT_FALSE(holder.markNoResult("1", "late"));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("on row 1 was taken over by another worker"), std::string::npos) << errors;
    EXPECT_EQ(AllRows(*host_.open(), "SELECT DS.Processed AS a, DS.FilePath AS b, W.Pages AS c FROM DASearchable DS"
                                     " JOIN DASearchableWork W ON W.TrackReference = DS.TrackReference"
                                     " WHERE DS.TrackReference = 1"),
              (std::vector<Row>{{"2", "/d/1.tif", std::nullopt}}))
        << "only the worker that took the claim over recorded the row";
    EXPECT_EQ(AllRows(*host_.open(), "SELECT FilePath AS a FROM DiaryAttachments WHERE TrackReference = 1"),
              std::vector<Row>{{"/d/1.tif"}});
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

TEST(WorkerNames, CarryHostProcessIndexAndWhereTheProcessIdHoldsGood) {
    const ProcessIdentity process{"scan-01", "1a2b3c4d", "4026531836", 4711, 98765};
    EXPECT_EQ(driver::WorkerName(process, 2), "scan-01:4711:2:1a2b3c4d:4026531836:98765");
    EXPECT_EQ(driver::ProcessOfWorker("scan-01:4711:2:1a2b3c4d:4026531836:98765"), process);
    EXPECT_EQ(driver::ProcessOfWorker(driver::ThisWorkerName(3)), ThisProcess());
    for (const char* other : {"scan-01:4711:2", "scan-01:x:2:b:1:3", ":4711:2:b:1:3", "scan-01:0:1:b:1:3",
                              "scan-01:4711:2:b:1:x", "scan-01:4711:2:b:x:3", "scan-01:4711:123:b:1:3",
                              "scan-01:4711:2:b:1:3:4", "scan-01:4711:2:b:1:99999999999999999999"})
        EXPECT_EQ(driver::ProcessOfWorker(other), std::nullopt) << other;
}

}  // namespace
}  // namespace kvo::test
