// Starting children and waiting for them: what every program of the system relies on.
#include "shared/ChildProcess.h"

#include "ProcessTestSupport.h"
#include "shared/AppTester.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

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
bool NoChildLeft() { return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

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

// A minute from the call: a limit made once would run out for every test after the first minute
// of a run of the whole suite in one process.
TimeLimit AMinute() { return TimeLimit::Seconds(60); }

TEST(ChildProcess, EveryEndIsToldAndDescribedInOneWay) {
    const struct {
        std::vector<std::string> arguments;
        double limitSeconds;
        ChildEnd::How how;
        int code;
        const char* description;
    } cases[] = {
        {{Helper("proc_exit_with"), "3"}, 60, ChildEnd::How::Exited, 3, "ended with status 3"},
        {{Helper("proc_exit_with"), "0"}, 60, ChildEnd::How::Exited, 0, "ended with status 0"},
        {{Helper("proc_exit_with"), "-9"}, 60, ChildEnd::How::Signalled, SIGKILL, "was ended by signal 9"},
        {{Helper("proc_sleeper"), "600"}, 1, ChildEnd::How::TimedOut, 0, "did not finish within 1 s"},
    };
    for (const auto& c : cases) {
        const ChildEnd end = RunChild({.arguments = c.arguments}, TimeLimit::Seconds(c.limitSeconds));
        EXPECT_EQ(end.how, c.how) << c.description;
        EXPECT_EQ(end.code, c.code) << c.description;
        EXPECT_EQ(DescribeEnd(end), c.description);
    }
    EXPECT_EQ(TimeLimit::Seconds(600).text(), "10 min");
    EXPECT_EQ(TimeLimit::Seconds(6 * 3600).text(), "6 h");
    EXPECT_EQ(TimeLimit::Hour().text(), "the hour limit");
    EXPECT_TRUE(NoChildLeft());
}

TEST(ChildProcess, TheChildGetsOnlyTheDescriptorsAskedForUnderTheirNumbers) {
    int leaked = open("/dev/null", O_RDONLY);  // deliberately inheritable
    ASSERT_GE(leaked, 0);
    EXPECT_TRUE(RunChild({.arguments = {Helper("proc_exit_with"), "fds"}}, AMinute()).exitedWith(0));
    // Given the other way round from where they lie, so that placing one could overwrite the other.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const ChildEnd given = RunChild({.arguments = {Helper("proc_exit_with"), "fds"},
                                     .descriptors = {{pipeFds[0], pipeFds[1]}, {pipeFds[1], pipeFds[0]}}},
                                    AMinute());
    EXPECT_TRUE(given.exitedWith(2)) << DescribeEnd(given);
    for (int fd : {leaked, pipeFds[0], pipeFds[1]}) close(fd);
}

TEST(ChildProcess, FindsProgramsOnPathAndByWindowsName) {
    ScratchDir app;
    InstallProgram(Helper("proc_exit_with"), app.path(), "KVOOCR");
    EXPECT_TRUE(RunChild({.arguments = {app.str() + "/KVOOCR.exe", "4"}}, AMinute()).exitedWith(4));
    EXPECT_TRUE(RunChild({.arguments = {app.str() + "/kvoocr", "5"}}, AMinute()).exitedWith(5));
    test::EnvVar path("PATH", app.str() + ":/usr/bin:/bin");
    EXPECT_TRUE(RunChild({.arguments = {"KVOOCR", "6"}}, AMinute()).exitedWith(6));
}

TEST(ChildProcess, AProgramThatCannotStartFailsAndLeavesNothingBehind) {
    ScratchDir dir;
    test::WriteFile(dir / "not-executable", "data");
    fs::create_directory(dir / "folder");
    int descriptors = OpenDescriptorCount();
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{dir.str() + "/missing-program"},
                                               {dir.str() + "/not-executable"},
                                               {dir.str() + "/folder"},
                                               {"no-such-program-on-path", "x"},
                                               {},
                                               {"", "arg"}}) {
        try {
            StartChild({.arguments = arguments});
            ADD_FAILURE() << "no failure for " << (arguments.empty() ? "no program" : arguments[0]);
        } catch (const ShellError& error) {
            EXPECT_EQ(error.number(), static_cast<std::int32_t>(0x8004AA02));
            EXPECT_EQ(error.number(), -2147177982);
            EXPECT_EQ(error.source(), "SyncShell");
            EXPECT_EQ(error.description(), "Failed to Shell child process");
        }
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_TRUE(NoChildLeft());
}

TEST(ChildProcess, AwkwardArgumentsAndTheWorkFolderReachTheChildIntact) {
    ScratchDir dir;
    fs::path folder = dir / "Akte \"Müller\" O'Brien 100%";
    std::string program = InstallProgram(Helper("proc_print_args"), folder, "print args").string();
    fs::path output = folder / "args out.bin";
    const std::string awkward = (folder / "Scan \"1\".tif").string();
    EXPECT_TRUE(RunChild({.arguments = {program, output.string(), awkward, "-r300", "-dash and trailing\\", ""}},
                         AMinute())
                    .exitedWith(0));
    EXPECT_THAT(ArgumentsWritten(output), ElementsAre(awkward, "-r300", "-dash and trailing\\", ""));

    // The work folder is the child's TEMP; the rest of the environment is this process's.
    const fs::path temp = dir / "work folder";
    test::EnvVar marker("KVO_CHILD_MARKER", "kept");
    const std::string script = "printf '%s %s' \"$TEMP\" \"$KVO_CHILD_MARKER\" > '" + (dir / "env").string() + "'";
    EXPECT_TRUE(RunChild({.arguments = {"sh", "-c", script}, .workFolder = temp.string()}, AMinute()).exitedWith(0));
    EXPECT_EQ(ReadFile(dir / "env"), temp.string() + " kept");
}

TEST(ChildProcess, AHiddenChildsOutputIsDiscardedAndItsErrorsWhenAsked) {
    ScratchDir dir;
    const std::vector<std::string> printArgs{Helper("proc_print_args"), (dir / "a").string(), "hello"};
    Captured hidden = Capture([&] { RunChild({.arguments = printArgs}, AMinute()); });
    EXPECT_EQ(hidden.out, "");
    EXPECT_EQ(hidden.err, "to stderr\n");
    Captured shown = Capture([&] { RunChild({.arguments = printArgs, .discardOutput = false}, AMinute()); });
    EXPECT_EQ(shown.out, "hello\n");
    Captured quiet = Capture([&] { RunChild({.arguments = printArgs, .discardErrors = true}, AMinute()); });
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "");
}

TEST(ChildProcess, AStartedChildRunsOnUntilWaitedForAndOneDroppedIsKilledAndReaped) {
    ScratchDir dir;
    std::string sleeper = InstallProgram(Helper("proc_sleeper"), dir.path(), "kvo_owned_sleeper").string();
    fs::path marker = dir / "marker";
    {
        Child child = StartChild({.arguments = {sleeper, "600", marker.string()}});
        EXPECT_TRUE(IsAppRunning("kvo_owned_sleeper"));
        EXPECT_TRUE(WaitUntil([&] { return ReadFile(marker) == "started\n"; }));
        EXPECT_EQ(child.poll(), std::nullopt);
    }
    EXPECT_FALSE(IsAppRunning("kvo_owned_sleeper"));
    EXPECT_TRUE(NoChildLeft());

    // Once it has ended it is a zombie until reaped; it never counts as running.
    Child quick = StartChild({.arguments = {Helper("proc_exit_with"), "7"}});
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(quick.pid()), &info, WEXITED | WNOWAIT), 0);
    EXPECT_FALSE(IsAppRunning("proc_exit_with"));
    ASSERT_TRUE(quick.poll());
    EXPECT_TRUE(quick.poll()->exitedWith(7));
    EXPECT_TRUE(NoChildLeft());
}

TEST(ChildProcess, TheChildRunsInItsOwnGroupAndDiesWithItsParent) {
    ScratchDir dir;
    std::string sleeper = InstallProgram(Helper("proc_sleeper"), dir.path(), "kvo_orphan_sleeper").string();
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t middle = fork();
    if (middle == 0) {  // a parent that starts the sleeper, reports its id and dies
        Child child = StartChild({.arguments = {sleeper, "600"}});
        pid_t sent[2] = {child.pid(), getpgid(child.pid())};
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
