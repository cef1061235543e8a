#include "shared/AppTester.h"

#include "ProcessTestSupport.h"
#include "shared/ProgramWatch.h"
#include "shared/ChildProcess.h"
#include "shared/platform/Clock.h"
#include "shared/platform/CommandLine.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvo {
namespace {

using test::Helper;
using test::InstallProgram;
using test::ScratchDir;
using test::WaitUntil;
using test::WriteFile;
namespace fs = std::filesystem;

TEST(ImageNamesMatch, IgnoresCaseAndATrailingExe) {
    EXPECT_TRUE(ImageNamesMatch("winword.exe", "WINWORD.EXE"));
    EXPECT_TRUE(ImageNamesMatch("KVOProcessSlides.exe", "KVOProcessSlides"));
    EXPECT_TRUE(ImageNamesMatch("x.exe", "X"));
    EXPECT_TRUE(ImageNamesMatch("gs", "GS.EXE"));
    EXPECT_FALSE(ImageNamesMatch("KVOProcessSlide", "KVOProcessSlides"));
    EXPECT_FALSE(ImageNamesMatch("/usr/bin/gs", "gs"));
    EXPECT_FALSE(ImageNamesMatch("gs.exe.exe", "gs"));
    EXPECT_EQ(WithoutExeSuffix("a.EXE"), "a");
    EXPECT_EQ(WithoutExeSuffix(".exe"), "");
    EXPECT_EQ(WithoutExeSuffix("exe"), "exe");
}

class AppTesterTest : public ::testing::Test {
protected:
    ScratchDir app{"kvo-apptester"};
    std::string Install(const std::string& name) { return InstallProgram(Helper("proc_sleeper"), app.path(), name).string(); }
    pid_t Start(const std::string& program) {
        children.push_back(StartChild({.arguments = {program}}));
        return children.back().pid();
    }
    std::vector<Child> children;
    void TearDown() override {
        for (const char* name : {"KVOShellSleeperLong", "x.exe", "KVOGoneProgram", "KVOOtherUser"}) KillAppByName(name);
        children.clear();  // killed, if still running, and reaped
    }
};

// A name longer than the kernel's 15-character command name, like "KVOProcessSlides", but
// one that no other test on this machine starts.
TEST_F(AppTesterTest, TwoInstancesUnderALongNameAreSeenAndBothEnded) {
    std::string program = Install("KVOShellSleeperLong");
    EXPECT_FALSE(IsAppRunning("KVOShellSleeperLong.exe"));
    KillAppByName("KVOShellSleeperLong.exe");  // nothing to end: no effect

    pid_t first = Start(program);
    pid_t second = Start(program);
    EXPECT_EQ(ImageNameOf(first), "KVOShellSleeperLong");
    EXPECT_TRUE(IsAppRunning("KVOShellSleeperLong.exe"));
    EXPECT_TRUE(IsAppRunning("kvoshellsleeperlong"));
    EXPECT_FALSE(IsAppRunning("KVOShellSleeper"));  // the kernel's cut-down name is not the image name
    EXPECT_FALSE(IsAppRunning(program));             // a name with a folder never matches

    KillAppByName("KVOSHELLSLEEPERLONG.EXE");
    // Both have ended by the time it returns.
    EXPECT_FALSE(IsAppRunning("KVOShellSleeperLong.exe"));
    EXPECT_EQ(ImageNameOf(first), "");
    EXPECT_EQ(ImageNameOf(second), "");
    for (Child& child : children) EXPECT_TRUE(child.poll());
}

TEST_F(AppTesterTest, AnExeNameMatchesTheBareName) {
    Start(Install("x.exe"));
    EXPECT_TRUE(IsAppRunning("X"));
    EXPECT_TRUE(IsAppRunning("x.EXE"));
    KillAppByName("X");
    EXPECT_TRUE(WaitUntil([] { return !IsAppRunning("x"); }));
}

TEST_F(AppTesterTest, AProgramWhoseFileWasDeletedKeepsItsName) {
    std::string program = Install("KVOGoneProgram");
    pid_t pid = Start(program);
    ASSERT_TRUE(WaitUntil([&] { return ImageNameOf(pid) == "KVOGoneProgram"; }));
    fs::remove(program);
    EXPECT_EQ(ImageNameOf(pid), "KVOGoneProgram");
    EXPECT_TRUE(IsAppRunning("KVOGoneProgram.exe"));
}

TEST_F(AppTesterTest, OtherUsersProgramsAreNeitherSeenNorEnded) {
    if (geteuid() != 0) GTEST_SKIP() << "starting a program as another user needs root";
    std::string program = Install("KVOOtherUser");
    chmod(app.str().c_str(), 0755);
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(4242) == 0 && setuid(4242) == 0) execl(program.c_str(), program.c_str(), "600", nullptr);
        _exit(127);
    }
    ASSERT_TRUE(WaitUntil([&] { return ImageNameOf(pid) == "KVOOtherUser"; }));
    EXPECT_FALSE(IsAppRunning("KVOOtherUser"));
    KillAppByName("KVOOtherUser");
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0);  // still running
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

TEST(KillProcessById, RefusesGroupsAndUnknownIds) {
    EXPECT_FALSE(KillProcessById(0, 0));
    EXPECT_FALSE(KillProcessById(-1, 0));
    EXPECT_FALSE(KillProcessById(0x3FFFFFFF, 0));
    EXPECT_EQ(ImageNameOf(0x3FFFFFFF), "");
    EXPECT_EQ(ImageNameOf(getpid()), "kvo_shared_tests");
}

// Two chains side by side, each with its own work folder and a child of the same image name:
// one chain's child hangs and is ended at the hour limit; the other's runs to its own end.
TEST(ChainScope, AChainEndsOnlyItsOwnProgramsAndNeverWaitsForAnothers) {
    ScratchDir root{"kvo-chains"};
    const fs::path hungApp = root.path() / "a", quietApp = root.path() / "b";
    for (const fs::path& folder : {hungApp / "temp", quietApp / "temp"}) fs::create_directories(folder);
    const std::string hung = InstallProgram(Helper("proc_sleeper"), hungApp, "KVOChainChild").string();
    const std::string quiet = InstallProgram(Helper("proc_await"), quietApp, "KVOChainChild").string();
    const std::string go = (root.path() / "go").string();
    const std::string quietStarted = (root.path() / "quiet.started").string();

    // Each chain runs in its own process, with its own TEMP, as a driver's worker would.
    auto chain = [](const fs::path& app, const std::vector<std::string>& arguments, const std::string& startedFile,
                    bool driveTheClock) {
        const pid_t pid = fork();
        if (pid != 0) return pid;
        setenv("TEMP", (app / "temp").c_str(), 1);
        Child child = StartChild({.arguments = arguments});
        if (!WaitUntil([&] { return fs::exists(startedFile); })) _exit(10);
        SteadyPoint steady{};
        if (driveTheClock)
            SetClockForTesting([] { return std::chrono::system_clock::now(); }, [&] { return steady; });
        const ChildEnd end = WatchChild(child, "KVOChainChild.exe", {.pollMs = 20, .onPoll = [&] {
                                            steady += std::chrono::hours(2);
                                        }});
        if (driveTheClock) _exit(end.how == ChildEnd::How::TimedOut ? 0 : 11);
        _exit(end.exitedWith(0) ? 0 : 12);
    };
    const pid_t quietChain = chain(quietApp, {quiet, go, quietStarted}, quietStarted, false);
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(quietStarted); }));
    const std::string hungStarted = (root.path() / "hung.started").string();
    const pid_t hungChain = chain(hungApp, {hung, "600", hungStarted}, hungStarted, true);

    int status = 0;
    ASSERT_EQ(waitpid(hungChain, &status, 0), hungChain);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "hung chain: " << status;
    // The quiet chain's child outlived the other chain's kill; now it may end.
    WriteFile(go, "");
    ASSERT_EQ(waitpid(quietChain, &status, 0), quietChain);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "quiet chain: " << status;
}

}  // namespace
}  // namespace kvo
