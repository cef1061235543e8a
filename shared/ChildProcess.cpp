#include "shared/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "shared/AppTester.h"
#include "shared/platform/FileSearch.h"

extern char** environ;

namespace kvo {

namespace {

const char* const kSource = "SyncShell";
// The most descriptors a child is given besides its standard ones.
constexpr std::size_t kMostDescriptors = 8;

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

// Moves a new descriptor above the standard ones, so that the child's redirections never
// overwrite it (the parent may run with a standard descriptor closed).
int AboveStdio(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// This process's environment, with TEMP naming `workFolder`.
std::vector<std::string> EnvironmentWithTemp(const std::string& workFolder) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, "TEMP=", 5) != 0) entries.emplace_back(*entry);
    entries.push_back("TEMP=" + workFolder);
    return entries;
}

struct ChildSetup {
    const char* program;
    char* const* argv;
    char* const* envp;
    int devNull;
    int report;  // write end of the close-on-exec pipe that carries an exec failure
    bool discardOutput;
    bool discardErrors;
    const std::pair<int, int>* descriptors;
    std::size_t descriptorCount;
    int firstFree;  // above every descriptor number the child is given
    pid_t parent;
};

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void RunChildSide(const ChildSetup& setup) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have died before the line above took effect.
    if (getppid() != setup.parent) _exit(kExitNotStarted);

    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signalNumber : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) signal(signalNumber, SIG_DFL);

    // A child in its own process group that read the terminal would be stopped for good.
    dup2(setup.devNull, STDIN_FILENO);
    if (setup.discardOutput) dup2(setup.devNull, STDOUT_FILENO);
    if (setup.discardErrors) dup2(setup.devNull, STDERR_FILENO);
    // What the child is given, and the report pipe, move above every number it is given first,
    // so that placing one never overwrites another.
    int report = fcntl(setup.report, F_DUPFD_CLOEXEC, setup.firstFree);
    int moved[kMostDescriptors];
    for (std::size_t i = 0; i < setup.descriptorCount; ++i)
        moved[i] = fcntl(setup.descriptors[i].first, F_DUPFD_CLOEXEC, setup.firstFree);
    // Descriptors the parent left inheritable (database sockets, open files) stay with it.
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    for (std::size_t i = 0; i < setup.descriptorCount; ++i) dup2(moved[i], setup.descriptors[i].second);

    execvpe(setup.program, setup.argv, setup.envp);
    int error = errno;
    ssize_t ignored = write(report, &error, sizeof error);
    (void)ignored;
    _exit(kExitNotStarted);
}

// In the isolated child: bounds the address space to what it holds now plus `bytes`.
void LimitAddressSpace(std::uint64_t bytes) {
    if (bytes == 0) return;
    const rlim_t bound = static_cast<rlim_t>(AddressSpaceBytes().value_or(0) + bytes);
    const rlimit limit{bound, bound};
    setrlimit(RLIMIT_AS, &limit);
}

[[noreturn]] void RunIsolatedBody(const std::function<int(std::string&)>& body, const IsolationLimits& limits,
                                  pid_t parent, int outputFd) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(kExitFailure);
    LimitAddressSpace(limits.memoryBytes);
    // A library may catch the failure and go on with half its data: the first allocation that
    // fails ends the body.
    std::set_new_handler([] { _exit(kExitOutOfMemory); });
    int status = kExitFailure;
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

ChildEnd EndOf(int status) {
    if (WIFSIGNALED(status)) return {ChildEnd::How::Signalled, WTERMSIG(status), ""};
    return {ChildEnd::How::Exited, WEXITSTATUS(status), ""};
}

std::string WholeNumber(double value) { return std::to_string(static_cast<long long>(std::llround(value))); }

}  // namespace

TimeLimit TimeLimit::Seconds(double seconds) {
    TimeLimit limit;
    limit.seconds_ = seconds;
    limit.realDeadline_ = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    return limit;
}

TimeLimit TimeLimit::Hour() {
    TimeLimit limit;
    limit.hourLimit_.emplace();
    return limit;
}

bool TimeLimit::reached() const {
    return hourLimit_ ? hourLimit_->reached() : std::chrono::steady_clock::now() >= *realDeadline_;
}

std::string TimeLimit::text() const {
    if (hourLimit_) return "the hour limit";
    if (seconds_ < 600) return WholeNumber(seconds_) + " s";
    if (seconds_ < 3 * 3600 || std::fmod(seconds_, 3600) != 0) return WholeNumber(seconds_ / 60) + " min";
    return WholeNumber(seconds_ / 3600) + " h";
}

std::string DescribeEnd(const ChildEnd& end) {
    switch (end.how) {
        case ChildEnd::How::Exited: return "ended with status " + std::to_string(end.code);
        case ChildEnd::How::Signalled: return "was ended by signal " + std::to_string(end.code);
        case ChildEnd::How::TimedOut: break;
    }
    return "did not finish within " + end.limit;
}

Child::Child(pid_t pid, int outputFd)
    : pid_(pid), pidfd_(static_cast<int>(syscall(SYS_pidfd_open, pid, 0))), outputFd_(outputFd) {
    if (pidfd_ >= 0) fcntl(pidfd_, F_SETFD, FD_CLOEXEC);
}

Child::Child(Child&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), pidfd_(std::exchange(other.pidfd_, -1)),
      outputFd_(std::exchange(other.outputFd_, -1)), output_(std::move(other.output_)), end_(std::move(other.end_)) {}

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        release();
        pid_ = std::exchange(other.pid_, -1);
        pidfd_ = std::exchange(other.pidfd_, -1);
        outputFd_ = std::exchange(other.outputFd_, -1);
        output_ = std::move(other.output_);
        end_ = std::move(other.end_);
    }
    return *this;
}

Child::~Child() { release(); }

void Child::release() {
    if (pid_ > 0 && !end_) {
        ::kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    for (int* fd : {&pidfd_, &outputFd_})
        if (*fd >= 0) close(std::exchange(*fd, -1));
    pid_ = -1;
}

void Child::drainOutput() {
    char buffer[1 << 16];
    while (outputFd_ >= 0) {
        const ssize_t got = read(outputFd_, buffer, sizeof buffer);
        if (got > 0) {
            output_.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            if (got == 0 || errno != EAGAIN) close(std::exchange(outputFd_, -1));
            return;
        }
    }
}

std::optional<ChildEnd> Child::poll() {
    drainOutput();
    if (end_ || pid_ <= 0) return end_;
    int status = 0;
    const pid_t waited = waitpid(pid_, &status, WNOHANG);
    if (waited == 0 || (waited < 0 && errno == EINTR)) return std::nullopt;
    // Reaped (or, should another have reaped it, gone all the same).
    end_ = waited == pid_ ? EndOf(status) : ChildEnd{ChildEnd::How::Exited, -1, ""};
    if (outputFd_ >= 0) {
        fcntl(outputFd_, F_SETFL, 0);  // the child is gone: the rest is there to read
        drainOutput();
    }
    if (pidfd_ >= 0) close(std::exchange(pidfd_, -1));
    return end_;
}

ChildEnd Child::wait(const TimeLimit& limit, const std::function<void()>& onPoll, int pollMs) {
    for (;;) {
        if (const std::optional<ChildEnd> end = poll()) return *end;
        if (limit.reached()) return stop(limit);
        if (onPoll) onPoll();
        pollfd watched[2];
        nfds_t count = 0;
        for (int fd : {pidfd_, outputFd_})
            if (fd >= 0) watched[count++] = {fd, POLLIN, 0};
        if (count > 0) ::poll(watched, count, pollMs);
        else std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
}

ChildEnd Child::stop(const TimeLimit& limit) {
    if (const std::optional<ChildEnd> end = poll()) return *end;
    ::kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    end_ = ChildEnd{ChildEnd::How::TimedOut, 0, limit.text()};
    output_.clear();  // cut off in the middle
    for (int* fd : {&pidfd_, &outputFd_})
        if (*fd >= 0) close(std::exchange(*fd, -1));
    return *end_;
}

Child StartChild(const ChildSpec& spec) {
    std::vector<std::string> arguments = spec.arguments;
    if (arguments.empty() || arguments[0].empty() || spec.descriptors.size() > kMostDescriptors) ThrowCannotStart();
    const std::string program = ProgramPath(arguments[0]);
    std::vector<char*> argv = Pointers(arguments);
    std::vector<std::string> environment;
    if (!spec.workFolder.empty()) environment = EnvironmentWithTemp(spec.workFolder);
    std::vector<char*> envp = Pointers(environment);
    int firstFree = 3;
    for (const auto& [from, to] : spec.descriptors) firstFree = std::max(firstFree, to + 1);

    const int devNull = AboveStdio(open("/dev/null", O_RDWR | O_CLOEXEC));
    if (devNull < 0) ThrowCannotStart();
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        close(devNull);
        ThrowCannotStart();
    }
    report[0] = AboveStdio(report[0]);
    report[1] = AboveStdio(report[1]);
    const ChildSetup setup{program.c_str(),
                           argv.data(),
                           spec.workFolder.empty() ? environ : envp.data(),
                           devNull,
                           report[1],
                           spec.discardOutput,
                           spec.discardErrors,
                           spec.descriptors.data(),
                           spec.descriptors.size(),
                           firstFree,
                           getpid()};

    const pid_t pid = report[0] < 0 || report[1] < 0 ? -1 : fork();
    if (pid == 0) RunChildSide(setup);
    close(report[1]);
    close(devNull);
    if (pid < 0) {
        close(report[0]);
        ThrowCannotStart();
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
        ThrowCannotStart();
    }
    return Child(pid, -1);
}

ChildEnd RunChild(const ChildSpec& spec, const TimeLimit& limit) { return StartChild(spec).wait(limit); }

void PassOnMachineFault(const std::string& program, const ChildEnd& end) {
    if (end.exitedWith(kExitNoRoom)) throw NoRoomForWork(program + " found no room in the work folder");
    if (end.exitedWith(kExitEndedFromOutside))
        throw EndedFromOutside(program + " " + DescribeEnd(end) + ": a program it ran was ended from outside");
    if (end.how != ChildEnd::How::Exited) throw EndedFromOutside(program + " " + DescribeEnd(end));
}

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
    Child child(pid, pipeFds[0]);
    // Real time, not the replaceable clock: a hang is a hang however a test moves time.
    IsolatedEnd isolated{child.wait(TimeLimit::Seconds(limits.seconds), onPoll, pollMs), ""};
    isolated.output = child.output();
    return isolated;
}

}  // namespace kvo
