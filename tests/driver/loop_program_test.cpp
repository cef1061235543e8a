// The program KVOProcess as an operator or a service manager runs it, without a display.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <thread>

#include "loop_test_support.h"
#include "shared/AppTester.h"

namespace kvo::test {
namespace {

// A started KVOProcess with its standard output and error in files.
class Program {
public:
    Program(const fs::path& program, const std::vector<std::string>& arguments, const fs::path& outputFolder)
        : out_(outputFolder / "stdout.txt"), err_(outputFolder / "stderr.txt") {
        std::vector<std::string> argv{program.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        pid_ = Spawn(argv, out_.string(), err_.string());
    }
    ~Program() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    // The exit status, or -1 after a signal or a minute without end.
    int wait() {
        for (int i = 0; i < 600; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return -1;
    }
    std::string out() const { return ReadFile(out_); }
    std::string err() const { return ReadFile(err_); }

private:
    fs::path out_, err_;
    pid_t pid_ = 0;
    bool exited_ = false;
};

class LoopProgram : public ::testing::Test {
protected:
    LoopProgram() { program = InstallProgram(BinDir() / "KVOProcess", world.app, "KVOProcess"); }
    std::string doc(const std::string& name) const { return (world.docs / name).string(); }

    LoopWorld world;
    fs::path program;
};

TEST_F(LoopProgram, HelpDescribesBothWaysOfRunning) {
    Program help(program, {"--help"}, world.data);
    ASSERT_GT(help.pid(), 0);
    EXPECT_EQ(help.wait(), 0);
    EXPECT_NE(help.out().find("--once"), std::string::npos);
    EXPECT_NE(help.out().find("(no argument)"), std::string::npos);

    Program wrong(program, {"--twice"}, world.data);
    EXPECT_EQ(wrong.wait(), 2);
    EXPECT_NE(wrong.err().find("unknown argument '--twice'"), std::string::npos);
}

TEST_F(LoopProgram, AnUnreachableDatabaseIsOneClearLineAndStatusOne) {
    WriteFile(world.data / "ZRT.ini", "[Database]\r\nProvider=sqlite\r\nServer=nowhere\r\nDatabase=" +
                                          (world.data / "absent" / "host.db").string() + "\r\n");
    Program run(program, {"--once"}, world.data);
    EXPECT_EQ(run.wait(), 1);
    const std::string err = run.err();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find((world.data / "absent" / "host.db").string()), std::string::npos) << err;
    EXPECT_EQ(err.find("7owl3"), std::string::npos);
    EXPECT_NE(run.out().find("Pellmoor OCR utility. Preparing for OCR."), std::string::npos);
}

// SQL Server on a closed port: the login is tried and refused; no password ever shows.
TEST_F(LoopProgram, TheBuiltInLoginIsAnnouncedOnceAndNoPasswordIsEverShown) {
    const std::string secret = "Pa55;w0rd";
    WriteFile(world.data / "db.pw", secret + "\n");
    chmod((world.data / "db.pw").c_str(), 0600);
    WriteFile(world.data / "open.pw", secret + "\n");
    chmod((world.data / "open.pw").c_str(), 0644);
    const std::string server = "[Database]\r\nServer=127.0.0.1,1\r\nDatabase=Practice\r\n";
    struct Case {
        std::string login;
        std::optional<std::string> environment;
        bool builtIn;
    };
    for (const Case& c : {Case{"", std::nullopt, true}, Case{"User=svc\r\nPasswordFile=db.pw\r\n", std::nullopt, false},
                          Case{"User=svc\r\n", secret, false}, Case{"User=svc\r\nPasswordFile=open.pw\r\n", std::nullopt, false}}) {
        WriteFile(world.data / "ZRT.ini", server + c.login);
        EnvVar password("KVO_DB_PASSWORD", c.environment);
        Program run(program, {"--once"}, world.data);
        EXPECT_EQ(run.wait(), 1) << c.login;
        const std::string err = run.err();
        const std::string notice = "the built-in database login is in use";
        EXPECT_EQ(err.find(notice) != std::string::npos, c.builtIn) << err;
        EXPECT_EQ(err.find(notice), err.rfind(notice)) << err;
        EXPECT_NE(err.find(c.login.find("open.pw") == std::string::npos ? "Practice" : "chmod 600"), std::string::npos)
            << err;
        for (const std::string& password : {secret, std::string("7owl3"), std::string("Pa55")}) {
            EXPECT_EQ(err.find(password), std::string::npos) << err;
            EXPECT_EQ(run.out().find(password), std::string::npos) << run.out();
        }
    }
}

TEST_F(LoopProgram, OnceConvertsThePendingRowsAndEnds) {
    world.addAttachment(12, "TIF", doc("Scan.tif"));
    world.addDocument("Scan.tif");
    world.planResult("Scan.tif", "graph_ocred.pdf");
    Program run(program, {"--once"}, world.data);
    EXPECT_EQ(run.wait(), 0);
    EXPECT_EQ(world.status(12), 2);
    EXPECT_TRUE(fs::exists(world.docs / "Scan.PDF"));
    EXPECT_NE(run.out().find("Processing file 1 of 1:\n" + doc("Scan.tif") + "\n\nIn progress. Please wait."),
              std::string::npos)
        << run.out();
    EXPECT_NE(run.err().find("12 " + doc("Scan.tif") + ": status 2, converted to " + doc("Scan.PDF")),
              std::string::npos)
        << run.err();
}

TEST_F(LoopProgram, TerminateDuringAPipelineRunLetsTheRowFinish) {
    world.addAttachment(1, "TIF", doc("First.tif"));
    world.addAttachment(2, "TIF", doc("Second.tif"));
    world.addDocument("First.tif");
    world.addDocument("Second.tif");
    world.planResult("First.tif", "graph_ocred.pdf");
    world.planResult("Second.tif", "graph_ocred.pdf");
    EnvVar slow("LOOP_SLIDES_SLEEP_MS", "2500");

    Program run(program, {}, world.data);  // the endless way: only the stop ends it
    ASSERT_GT(run.pid(), 0);
    bool started = false;
    for (int i = 0; i < 200 && !started; ++i) {
        started = IsAppRunning("KVOProcessSlides.exe");
        if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(started) << run.err();
    kill(run.pid(), SIGTERM);
    EXPECT_EQ(run.wait(), 0) << run.err();

    EXPECT_EQ(world.status(1), 2) << "the row in progress is completed and recorded";
    EXPECT_EQ(world.status(2), 0) << "the next row waits for the next run";
    EXPECT_TRUE(fs::exists(world.docs / "First.PDF"));
    EXPECT_NE(run.out().find("In progress. Please wait.\nSTOPPING. Please wait"), std::string::npos) << run.out();
    EXPECT_NE(run.out().find("Wait until 18:00 to re-start."), std::string::npos);
}

}  // namespace
}  // namespace kvo::test
