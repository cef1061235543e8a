// Faults from outside: a pipeline killed in the middle of a row, a database that another
// connection holds locked, and a row's pipeline paused longer than a claim lives.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

#include "E2eWorld.h"
#include "driver/queue/WorkQueue.h"
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

std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::istringstream listed(ReadFile("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children"));
    std::vector<pid_t> children;
    for (pid_t child = 0; listed >> child;) children.push_back(child);
    return children;
}

// Stops a process and everything below it, from the top down, so that no stopped process starts
// another meanwhile; gives them in that order.
std::vector<pid_t> PauseTree(pid_t top) {
    std::vector<pid_t> paused{top};
    for (std::size_t i = 0; i < paused.size(); ++i) {
        kill(paused[i], SIGSTOP);
        for (pid_t child : ChildrenOf(paused[i])) paused.push_back(child);
    }
    return paused;
}

void Resume(const std::vector<pid_t>& paused) {
    for (auto it = paused.rbegin(); it != paused.rend(); ++it) kill(*it, SIGCONT);
}

// A driver converting a one-page fax, with claims that live 63 seconds unless renewed; paused
// once its pipeline has started.
class PausedHolder {
public:
    explicit PausedHolder(const E2eWorld& w) : w_(w), fax_(w.makeG4Tiff("Fax.tif", {"ccitt.pdf"}, 100)) {
        const std::string settings = ReadFile(w.windows / "console.ini");
        WriteFile(w.windows / "console.ini",
                  settings.substr(0, settings.find("Workers=1\r\n")) + "Workers=1\r\nClaimHours=0.0175\r\n" +
                      settings.substr(settings.find("Workers=1\r\n") + 11));
        w.addAttachment("DiaryAttachments", 1, "TIF", fax_);
        driver_ = w.startOnce(w.data / "holder-stderr.txt");
        pid_t pipeline = 0;
        const bool started = WaitFor(
            [&] {
                for (pid_t child : ChildrenOf(driver_))
                    if (ImageNameOf(child) == "KVOProcessSlides") pipeline = child;
                return pipeline != 0;
            },
            120s);
        if (started) paused_ = PauseTree(pipeline);
    }
    ~PausedHolder() {
        Resume(paused_);
        if (driver_ > 0 && status_ < 0) {
            kill(driver_, SIGKILL);
            waitpid(driver_, nullptr, 0);
        }
    }
    bool paused() const { return !paused_.empty(); }
    const fs::path& fax() const { return fax_; }
    pid_t driver() const { return driver_; }
    // Lets the pipeline go on and waits for the driver: its exit status and standard error.
    std::pair<int, std::string> finish() {
        Resume(paused_);
        paused_.clear();
        int status = 0;
        waitpid(driver_, &status, 0);
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return {status_, ReadFile(w_.data / "holder-stderr.txt")};
    }
    std::string worker() const {
        driver::SqliteConnection connection((w_.data / "host.db").string());
        connection.open();
        return connection.query("SELECT Worker FROM DASearchableWork WHERE TrackReference = 1")->field("Worker").value_or("");
    }

private:
    const E2eWorld& w_;
    fs::path fax_;
    pid_t driver_ = 0;
    std::vector<pid_t> paused_;
    int status_ = -1;
};

// The holder's pipeline stands still past the claim's life while a second driver (another
// machine's, with its own work folder) runs a cycle: the holder's driver keeps renewing the
// claim, so the second driver leaves the row alone and the holder converts and records it once.
TEST(Faults, AClaimOutlivesItsLifeWhileItsHolderLivesAndTheRowIsConvertedOnce) {
    E2eWorld w("kvo-e2e-claim");
    PausedHolder holder(w);
    ASSERT_TRUE(holder.paused()) << "the holder's pipeline never started";
    std::this_thread::sleep_for(66s);  // past the claim's 63 s
    std::string second;
    {
        ScratchDir otherTemp("kvo-e2e-second");
        EnvVar temp("TEMP", otherTemp.str());
        EXPECT_EQ(w.runOnce(&second), 0) << second;
    }
    EXPECT_EQ(second.find(holder.fax().string()), std::string::npos) << "the second driver took the row:\n" << second;
    EXPECT_EQ(w.rows().at(1).processed, 0);
    EXPECT_EQ(driver::ProcessOfWorker(holder.worker()).value_or(ProcessIdentity{}).pid, holder.driver());

    const auto [status, report] = holder.finish();
    EXPECT_EQ(status, 0) << report;
    const fs::path result = w.docPath("Fax.PDF");
    EXPECT_NE(report.find("1 " + holder.fax().string() + ": status 2, converted to " + result.string() + " ("),
              std::string::npos)
        << report;
    EXPECT_EQ(report.find("taken over"), std::string::npos) << report;
    EXPECT_EQ(w.rows().at(1).processed, 2);
    EXPECT_EQ(w.rows("DiaryAttachments").at(1).filePath, result.string());
    EXPECT_EQ(PdfPageCount(result), 1);
}

// A claim taken away while its holder's pipeline runs (it expired, and another driver took the
// row): the holder copies nothing, records nothing, and says so.
TEST(Faults, AHolderWhoseClaimWasTakenOverCopiesAndRecordsNothing) {
    E2eWorld w("kvo-e2e-lost-claim");
    PausedHolder holder(w);
    ASSERT_TRUE(holder.paused()) << "the holder's pipeline never started";
    const std::string other = "elsewhere:42:0:0badcafe:4026531836:1";
    {
        driver::SqliteConnection connection((w.data / "host.db").string());
        connection.open();
        connection.execute("UPDATE DASearchableWork SET Worker = '" + other + "' WHERE TrackReference = 1");
    }
    const auto [status, report] = holder.finish();
    EXPECT_EQ(status, 0) << report;
    EXPECT_NE(report.find("1 " + holder.fax().string() +
                          ": nothing recorded, its claim was taken over by another worker (nothing was copied) ("),
              std::string::npos)
        << report;
    EXPECT_FALSE(fs::exists(w.docPath("Fax.PDF")));
    const std::vector<std::string> left = w.tempFiles();
    EXPECT_EQ(std::count(left.begin(), left.end(), "Fax.pdf"), 0) << "the result is not left in the work folder";
    EXPECT_EQ(w.rows().at(1).processed, 0);
    EXPECT_EQ(w.rows("DiaryAttachments").at(1).filePath, holder.fax().string());
    EXPECT_EQ(holder.worker(), other);
}

}  // namespace
}  // namespace kvo::test
