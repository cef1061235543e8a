#include "shared/ShellModule.h"

#include "shared/AppTester.h"
#include "shared/platform/CommandLine.h"
#include "shared/platform/FileSearch.h"

#include <algorithm>
#include <new>
#include <cerrno>
#include <chrono>
#include <thread>
#include <cstdio>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <system_error>
#include <vector>

namespace kvo {

namespace {

const char* const kSource = "SyncShell";
// Longest wait for a child that is already tearing itself down.
constexpr int kExitingChildMs = 5000;

// Children started without waiting, reaped by ReapChildren.
std::vector<pid_t>& UnwaitedChildren() {
    static std::vector<pid_t> children;
    return children;
}

// The exit statuses of the latest reaped children, for ExitStatusOf.
constexpr std::size_t kRememberedExits = 64;
std::vector<std::pair<pid_t, int>>& EndedChildren() {
    static std::vector<std::pair<pid_t, int>> ended;
    return ended;
}

[[noreturn]] void ThrowCannotStart() { throw ShellError(kShellCannotStart, kSource, "Failed to Shell child process"); }

// The file to execute. A name without a folder is searched on PATH by exec itself; a path is
// found without regard to case, and a program named the Windows way ("KVOOCR.exe") is found
// as the file without ".exe".
std::string ProgramPath(const std::string& name) {
    if (name.find('/') == std::string::npos || access(name.c_str(), F_OK) == 0) return name;
    if (auto real = ResolveFile(name)) return *real;
    if (std::string bare = WithoutExeSuffix(name); bare != name)
        if (auto real = ResolveFile(bare)) return *real;
    return name;
}

bool IsGhostscript(const std::string& program) {
    std::string image = program.substr(program.rfind('/') + 1);
    return ImageNamesMatch(image, "gs") || ImageNamesMatch(image, "gswin32c");
}

// Moves a new descriptor above the standard ones, so that the child's redirections never
// overwrite it (the parent may run with a standard descriptor closed).
int AboveStdio(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

struct ChildSetup {
    const char* program;
    char* const* argv;
    int devNull;
    int report;  // write end of the close-on-exec pipe that carries an exec failure
    bool discardStdout;
    bool discardStderr;
    pid_t parent;
};

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void RunChild(const ChildSetup& setup) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have died before the line above took effect.
    if (getppid() != setup.parent) _exit(127);

    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signalNumber : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) signal(signalNumber, SIG_DFL);

    // A child in its own process group that read the terminal would be stopped for good.
    dup2(setup.devNull, STDIN_FILENO);
    if (setup.discardStdout) dup2(setup.devNull, STDOUT_FILENO);
    if (setup.discardStderr) dup2(setup.devNull, STDERR_FILENO);
    // Descriptors the parent left inheritable (database sockets, open files) stay with it.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);

    execvp(setup.program, setup.argv);
    int error = errno;
    ssize_t ignored = write(setup.report, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// Starts the program of the command line; the process id, or -1 when it could not be started
// (nothing is left behind then).
pid_t Launch(const std::string& commandLine, int windowStyle) {
    std::vector<std::string> arguments = SplitCommandLine(commandLine);
    if (arguments.empty() || arguments[0].empty()) return -1;
    std::string program = ProgramPath(arguments[0]);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int devNull = AboveStdio(open("/dev/null", O_RDWR | O_CLOEXEC));
    if (devNull < 0) return -1;
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        close(devNull);
        return -1;
    }
    report[0] = AboveStdio(report[0]);
    report[1] = AboveStdio(report[1]);
    ChildSetup setup{program.c_str(), argv.data(), devNull, report[1], windowStyle == kWindowHidden,
                     IsGhostscript(program), getpid()};

    pid_t pid = report[0] < 0 || report[1] < 0 ? -1 : fork();
    if (pid == 0) RunChild(setup);
    close(report[1]);
    close(devNull);
    if (pid < 0) {
        close(report[0]);
        return -1;
    }
    setpgid(pid, pid);  // also from this side, so the group exists before anyone signals it

    int childError = 0;
    ssize_t got;
    do got = read(report[0], &childError, sizeof childError);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got != 0) {  // exec failed (or the pipe broke): collect the child that exited
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return -1;
    }
    return pid;
}

}  // namespace

std::int32_t SyncShell(const std::string& commandLine, int windowStyle) {
    pid_t pid = Launch(commandLine, windowStyle);
    if (pid < 0) ThrowCannotStart();
    int status = 0;
    pid_t waited;
    do waited = waitpid(pid, &status, 0);
    while (waited < 0 && errno == EINTR);
    if (waited != pid)
        throw ShellError(kShellNoExitCode, kSource, "Failed to retrieve exit code, error " + std::to_string(errno));
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

pid_t AsyncShell(const std::string& commandLine, int windowStyle) {
    const pid_t pid = StartProgram(commandLine, windowStyle);
    if (pid == 0) ThrowCannotStart();
    return pid;
}

pid_t StartProgram(const std::string& commandLine, int windowStyle) {
    ReapChildren();
    pid_t pid = Launch(commandLine, windowStyle);
    if (pid < 0) return 0;
    // A reused id must not report the exit of the child that had it before.
    std::erase_if(EndedChildren(), [pid](const auto& ended) { return ended.first == pid; });
    UnwaitedChildren().push_back(pid);
    return pid;
}

void ReapChildren() {
    std::erase_if(UnwaitedChildren(), [](pid_t pid) {
        int status = 0;
        const pid_t reaped = waitpid(pid, &status, WNOHANG);
        if (reaped == pid) {
            auto& ended = EndedChildren();
            if (ended.size() >= kRememberedExits) ended.erase(ended.begin());
            ended.emplace_back(pid, WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status));
        }
        return reaped == pid || (reaped < 0 && errno == ECHILD);
    });
}

std::optional<int> ExitStatusOf(pid_t pid) {
    ReapChildren();
    // A child on its way out gives up its program image a moment before it can be collected:
    // a watch by image name no longer sees it, so its end is waited for here, briefly.
    if (std::ranges::find(UnwaitedChildren(), pid) != UnwaitedChildren().end() && ImageNameOf(pid).empty()) {
        const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        if (pidfd >= 0) {
            pollfd ended{pidfd, POLLIN, 0};
            poll(&ended, 1, kExitingChildMs);
            close(pidfd);
        }
        ReapChildren();
    }
    for (auto it = EndedChildren().rbegin(); it != EndedChildren().rend(); ++it)
        if (it->first == pid) return it->second;
    return std::nullopt;
}

namespace {

// In the isolated child: bounds the address space to what it holds now plus `bytes`.
void LimitAddressSpace(std::uint64_t bytes) {
    if (bytes == 0) return;
    const rlim_t bound = static_cast<rlim_t>(AddressSpaceBytes().value_or(0) + bytes);
    const rlimit limit{bound, bound};
    setrlimit(RLIMIT_AS, &limit);
}

[[noreturn]] void RunIsolatedBody(const std::function<int(std::string&)>& body, const IsolationLimits& limits,
                                  pid_t parent, int outputFd) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    LimitAddressSpace(limits.memoryBytes);
    // A library may catch the failure and go on with half its data: the first allocation that
    // fails ends the body.
    std::set_new_handler([] { _exit(kExitOutOfMemory); });
    int status = 1;
    std::string output;
    try {
        status = body(output);
    } catch (...) {
    }
    for (std::size_t written = 0; written < output.size();) {
        const ssize_t got = write(outputFd, output.data() + written, output.size() - written);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        written += static_cast<std::size_t>(got);
    }
    _exit(status);
}

// Moves what the child has written so far into `output`; false once the pipe has closed.
bool DrainOutput(int fd, std::string& output) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) output.append(buffer, static_cast<std::size_t>(got));
        else if (got < 0 && errno == EINTR) continue;
        else return got < 0 && errno == EAGAIN;
    }
}

}  // namespace

IsolatedEnd RunIsolated(const std::function<int(std::string& output)>& body, const IsolationLimits& limits,
                        const std::function<void()>& onPoll, int pollMs) {
    std::fflush(nullptr);  // buffered output must not be written twice
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return {};
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        RunIsolatedBody(body, limits, parent, pipeFds[1]);
    }
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        return {};
    }
    fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    IsolatedEnd end;
    bool reading = true;
    // Real time, not the replaceable clock: a hang is a hang however a test moves time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limits.seconds);
    for (;;) {
        if (reading) reading = DrainOutput(pipeFds[0], end.output);
        int status = 0;
        const pid_t waited = waitpid(pid, &status, WNOHANG);
        if (waited == pid) {
            if (reading) {
                fcntl(pipeFds[0], F_SETFL, 0);  // the child is gone: the rest is there to read
                DrainOutput(pipeFds[0], end.output);
            }
            end.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
            break;
        }
        if (waited < 0 && errno != EINTR) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            end.timedOut = true;
            end.output.clear();
            break;
        }
        if (onPoll) onPoll();
        pollfd readable{pipeFds[0], POLLIN, 0};
        poll(&readable, reading ? 1 : 0, pollMs);
    }
    close(pipeFds[0]);
    return end;
}

void PassOnMachineFault(const std::string& program, int status) {
    if (status == kExitNoRoom) throw NoRoomForWork(program + " found no room in the work folder");
    if (EndedBySignal(status) || status == kExitEndedFromOutside)
        throw EndedFromOutside(program + " was ended from outside (status " + std::to_string(status) + ")");
}

}  // namespace kvo
