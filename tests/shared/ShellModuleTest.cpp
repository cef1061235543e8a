#include "shared/ShellModule.h"

#include "ProcessTestSupport.h"
#include "shared/AppTester.h"
#include "shared/platform/CommandLine.h"

#include <cerrno>
#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvo {
namespace {

using ::testing::ElementsAre;
using test::Helper;
using test::InstallProgram;
using test::OpenDescriptorCount;
using test::ReadFile;
using test::ScratchDir;
using test::WaitUntil;
namespace fs = std::filesystem;

// True when this process has no child at all, ended or running.
bool NoChildLeft() {
    ReapChildren();
    return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

std::vector<std::string> ArgumentsWritten(const fs::path& file) {
    std::string content = ReadFile(file);
    std::vector<std::string> arguments;
    for (size_t start = 0, end; (end = content.find('\0', start)) != std::string::npos; start = end + 1)
        arguments.push_back(content.substr(start, end - start));
    return arguments;
}

// Runs `action` with this process's standard output and error captured into files.
struct Captured {
    std::string out, err;
};
Captured Capture(const std::function<void()>& action) {
    ScratchDir dir;
    fflush(stdout);
    fflush(stderr);
    int savedOut = dup(STDOUT_FILENO), savedErr = dup(STDERR_FILENO);
    int out = open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    close(out);
    close(err);
    action();
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    close(savedOut);
    close(savedErr);
    return {ReadFile(dir / "out"), ReadFile(dir / "err")};
}

TEST(SyncShell, ReturnsTheChildsExitCode) {
    EXPECT_EQ(SyncShell(QuoteArgument(Helper("proc_exit_with")) + " 3", kWindowHidden), 3);
    EXPECT_EQ(SyncShell(Helper("proc_exit_with") + " 0", kWindowHidden), 0);
    EXPECT_EQ(SyncShell(Helper("proc_exit_with") + " -9", kWindowHidden), 128 + SIGKILL);
    EXPECT_TRUE(NoChildLeft());
}

TEST(SyncShell, TheChildInheritsNoDescriptorOfTheCaller) {
    int leaked = open("/dev/null", O_RDONLY);  // deliberately inheritable
    ASSERT_GE(leaked, 0);
    EXPECT_EQ(SyncShell(Helper("proc_exit_with") + " fds", kWindowHidden), 0);
    close(leaked);
}

TEST(SyncShell, FindsProgramsOnPathAndByWindowsName) {
    ScratchDir app;
    InstallProgram(Helper("proc_exit_with"), app.path(), "KVOOCR");
    EXPECT_EQ(SyncShell(app.str() + "/KVOOCR.exe 4", kWindowHidden), 4);
    EXPECT_EQ(SyncShell(app.str() + "/kvoocr 5", kWindowHidden), 5);
    test::EnvVar path("PATH", app.str() + ":/usr/bin:/bin");
    EXPECT_EQ(SyncShell("KVOOCR 6", kWindowHidden), 6);
}

TEST(SyncShell, AProgramThatCannotStartFailsAndLeavesNothingBehind) {
    ScratchDir dir;
    test::WriteFile(dir / "not-executable", "data");
    fs::create_directory(dir / "folder");
    int descriptors = OpenDescriptorCount();
    for (const std::string& line : {dir.str() + "/missing-program", QuoteArgument(dir.str() + "/not-executable"),
                                    dir.str() + "/folder", std::string("no-such-program-on-path x"), std::string("  "),
                                    std::string("\"\" arg")}) {
        try {
            SyncShell(line, kWindowHidden);
            ADD_FAILURE() << "no failure for " << line;
        } catch (const ShellError& error) {
            EXPECT_EQ(error.number(), static_cast<std::int32_t>(0x8004AA02));
            EXPECT_EQ(error.number(), -2147177982);
            EXPECT_EQ(error.source(), "SyncShell");
            EXPECT_EQ(error.description(), "Failed to Shell child process");
        }
        try {
            AsyncShell(line, kWindowHidden);
            ADD_FAILURE() << "no failure for " << line;
        } catch (const ShellError& error) {
            EXPECT_EQ(error.number(), kShellCannotStart);
            EXPECT_EQ(error.source(), "SyncShell");
        }
        EXPECT_EQ(StartProgram(line, kWindowHidden), 0);
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_TRUE(NoChildLeft());
}

TEST(SyncShell, AQuotedPathWithADoubleQuoteReachesTheChildAsOneArgument) {
    ScratchDir dir;
    fs::path folder = dir / "Akte \"Müller\" O'Brien 100%";
    std::string program = InstallProgram(Helper("proc_print_args"), folder, "print args").string();
    fs::path output = folder / "args out.bin";
    const std::string awkward = (folder / "Scan \"1\".tif").string();
    std::string line = QuoteArgument(program) + " " + QuoteArgument(output.string()) + " " + QuoteArgument(awkward) +
                       " -r300 " + QuoteArgument("-dash and trailing\\") + " \"\"";
    EXPECT_EQ(SyncShell(line, kWindowHidden), 0);
    EXPECT_THAT(ArgumentsWritten(output), ElementsAre(awkward, "-r300", "-dash and trailing\\", ""));
}

TEST(SyncShell, AHiddenChildsOutputIsDiscardedAndGhostscriptsErrorsToo) {
    ScratchDir dir;
    std::string printArgs = QuoteArgument(Helper("proc_print_args")) + " " + QuoteArgument((dir / "a").string());
    Captured hidden = Capture([&] { SyncShell(printArgs + " hello", kWindowHidden); });
    EXPECT_EQ(hidden.out, "");
    EXPECT_EQ(hidden.err, "to stderr\n");
    Captured minimised = Capture([&] { SyncShell(printArgs + " hello", kWindowMinimised); });
    EXPECT_EQ(minimised.out, "hello\n");

    std::string gs = InstallProgram(Helper("proc_print_args"), dir / "gsdir", "gs").string();
    Captured ghostscript = Capture([&] { SyncShell(QuoteArgument(gs) + " " + QuoteArgument((dir / "b").string()), 0); });
    EXPECT_EQ(ghostscript.out, "");
    EXPECT_EQ(ghostscript.err, "");
}

TEST(SyncShell, WaitsForTheChildWhileAsyncShellReturnsAtOnce) {
    ScratchDir dir;
    std::string sleeper = InstallProgram(Helper("proc_sleeper"), dir.path(), "kvo_sync_sleeper").string();
    fs::path marker = dir / "marker";
    EXPECT_EQ(SyncShell(QuoteArgument(sleeper) + " 1 " + QuoteArgument(marker.string()), kWindowHidden), 0);
    EXPECT_EQ(ReadFile(marker), "started\nfinished\n");

    int descriptors = OpenDescriptorCount();
    AsyncShell(QuoteArgument(sleeper) + " 600 " + QuoteArgument(marker.string()), kWindowHidden);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_TRUE(IsAppRunning("kvo_sync_sleeper"));
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(marker) == "started\n"; }));
    KillAppByName("kvo_sync_sleeper");
    EXPECT_TRUE(WaitUntil(NoChildLeft));
    EXPECT_FALSE(IsAppRunning("kvo_sync_sleeper"));
}

TEST(AsyncShell, AnEndedChildIsReapedAndNeverCountsAsRunning) {
    ScratchDir dir;
    std::string quick = InstallProgram(Helper("proc_exit_with"), dir.path(), "kvo_quick_child").string();
    pid_t pid = StartProgram(QuoteArgument(quick) + " 7", kWindowHidden);
    ASSERT_GT(pid, 0);
    // Once it has ended it is a zombie until reaped; it must not count as running either way.
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
    EXPECT_FALSE(IsAppRunning("kvo_quick_child"));
    EXPECT_TRUE(NoChildLeft());

    AsyncShell(QuoteArgument(quick), kWindowHidden);
    EXPECT_TRUE(WaitUntil(NoChildLeft));
}

TEST(AsyncShell, TheChildRunsInItsOwnGroupAndDiesWithItsParent) {
    ScratchDir dir;
    std::string sleeper = InstallProgram(Helper("proc_sleeper"), dir.path(), "kvo_orphan_sleeper").string();
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t middle = fork();
    if (middle == 0) {  // a parent that starts the sleeper, reports its id and dies
        pid_t child = StartProgram(QuoteArgument(sleeper) + " 600", kWindowHidden);
        pid_t group = child > 0 ? getpgid(child) : 0;
        pid_t sent[2] = {child, group};
        ssize_t ignored = write(report[1], sent, sizeof sent);
        (void)ignored;
        _exit(0);
    }
    close(report[1]);
    pid_t received[2] = {0, 0};
    ASSERT_EQ(read(report[0], received, sizeof received), static_cast<ssize_t>(sizeof received));
    close(report[0]);
    waitpid(middle, nullptr, 0);
    ASSERT_GT(received[0], 0);
    EXPECT_EQ(received[1], received[0]);
    EXPECT_TRUE(WaitUntil([] { return !IsAppRunning("kvo_orphan_sleeper"); }));
}

}  // namespace
}  // namespace kvo
