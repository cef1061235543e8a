#pragma once
// Starting a child process and waiting for it: the one way every program of the system runs
// another program, or a function in a process of its own.
//
// A child runs in its own process group (a Ctrl-C at the operator's terminal reaches the driver
// only) and is killed by the kernel when the process that started it dies. Its standard input
// is /dev/null, and it inherits no descriptor of its parent but the ones asked for. No shell is
// involved. Every wait has a time limit, at which the child is killed; the one who started a
// child owns it, and a child dropped before it was waited for is killed and reaped.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shared/ExitStatus.h"
#include "shared/NumberedError.h"
#include "shared/platform/Clock.h"

namespace kvo {

// The failure record of a child that cannot be started: number, source ("SyncShell"),
// description.
class ShellError : public NumberedError {
public:
    using NumberedError::NumberedError;
};
constexpr std::int32_t kShellCannotStart = static_cast<std::int32_t>(0x8004AA02);

// A program to start.
struct ChildSpec {
    // The program, then its arguments. A program named without a folder is looked for on PATH; a
    // path is found without regard to case, and "X.exe" names the program X.
    std::vector<std::string> arguments = {};
    // The child's work folder (TEMP in its environment); "" keeps this process's.
    std::string workFolder = {};
    // Its standard output goes to /dev/null (it runs hidden); its standard error too, when asked
    // (Ghostscript talks there).
    bool discardOutput = true;
    bool discardErrors = false;
    // Descriptors of this process that the child gets, each under the number given with it.
    std::vector<std::pair<int, int>> descriptors = {};
};

// How long a wait for a child may last.
class TimeLimit {
public:
    // So many seconds of real time from now, however a test moves the clock.
    static TimeLimit Seconds(double seconds);
    // The hour limit of a watched child (HourLimit), on the clock that tests may move.
    static TimeLimit Hour();

    bool reached() const;
    // How the limit reads in a message: "120 s", "10 min", "6 h", "the hour limit".
    std::string text() const;

private:
    TimeLimit() = default;
    std::optional<std::chrono::steady_clock::time_point> realDeadline_;
    std::optional<HourLimit> hourLimit_;
    double seconds_ = 0;
};

// How a child ended.
struct ChildEnd {
    enum class How { Exited, Signalled, TimedOut };
    How how = How::Exited;
    int code = 0;       // the exit status, or the signal that ended it
    std::string limit;  // TimedOut: the limit it was stopped at, as TimeLimit::text gives it

    bool exitedWith(int status) const { return how == How::Exited && code == status; }
};

// How the child ended, to follow its name in a message: "ended with status 3", "was ended by
// signal 9", "did not finish within 10 min".
std::string DescribeEnd(const ChildEnd& end);

struct IsolationLimits;
struct IsolatedEnd;

// A child process that this process started and owns.
class Child {
public:
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // A child that was not waited for is killed and reaped.
    ~Child();

    pid_t pid() const { return pid_; }
    // A descriptor that becomes readable once the child has ended (-1 when the system has none),
    // for a wait over several things at once.
    int descriptor() const { return pidfd_; }

    // The child's end once it has ended (it is reaped then), without waiting; nullopt while it
    // runs. The same end every time after.
    std::optional<ChildEnd> poll();
    // Waits until the child ends or `limit` is reached, calling `onPoll` every `pollMs`
    // meanwhile; at the limit the child is killed.
    ChildEnd wait(const TimeLimit& limit, const std::function<void()>& onPoll = {}, int pollMs = 50);
    // Ends the child (SIGKILL) and reaps it; its end is TimedOut at `limit`, unless it had ended.
    ChildEnd stop(const TimeLimit& limit);

    // What a function run by RunIsolated has written so far.
    const std::string& output() const { return output_; }

private:
    friend Child StartChild(const ChildSpec& spec);
    friend IsolatedEnd RunIsolated(const std::function<int(std::string& output)>& body, const IsolationLimits& limits,
                                   const std::function<void()>& onPoll, int pollMs);
    Child(pid_t pid, int outputFd);
    void drainOutput();
    void release();

    pid_t pid_ = -1;
    int pidfd_ = -1;
    int outputFd_ = -1;
    std::string output_;
    std::optional<ChildEnd> end_;
};

// Starts the program. Throws ShellError(kShellCannotStart, "SyncShell", "Failed to Shell child
// process") when it cannot be started; nothing is left behind then.
Child StartChild(const ChildSpec& spec);

// Starts the program and waits for it within `limit` (Child::wait).
ChildEnd RunChild(const ChildSpec& spec, const TimeLimit& limit);

// For a program of the chain after `program` ended: passes a fault of the machine on to this
// program's own end. Killed, stopped at its time limit or ended with kExitEndedFromOutside
// throws EndedFromOutside; ended with kExitNoRoom throws NoRoomForWork.
void PassOnMachineFault(const std::string& program, const ChildEnd& end);

// What a function run by RunIsolated may take: wall-clock seconds, and address space beyond what
// this process holds when it starts the function (0: no bound).
struct IsolationLimits {
    double seconds = 0;
    std::uint64_t memoryBytes = 0;
};

// How a function run by RunIsolated ended (nullopt: its process could not be started), and what
// it put into its output.
struct IsolatedEnd {
    std::optional<ChildEnd> end;
    std::string output;
};

// Runs `body` in a child process of its own (fork, no exec), so that a crash, a hang or a greed
// for memory in it (a library reading an untrusted file) costs this process nothing. The body's
// return value is the child's exit status (kExitFailure when it throws, kExitOutOfMemory when an
// allocation fails); what it puts into `output` reaches IsolatedEnd::output. Waits at most the
// limit's seconds, calling `onPoll` every `pollMs` meanwhile.
IsolatedEnd RunIsolated(const std::function<int(std::string& output)>& body, const IsolationLimits& limits,
                        const std::function<void()>& onPoll = {}, int pollMs = 20);

}  // namespace kvo
