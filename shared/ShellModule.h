#pragma once
// Starting child programs from a command line.
//
// The command line is split by the Windows rules (platform/CommandLine.h); no shell is
// involved. A program named without a folder is searched on PATH; a program path is found
// without regard to case, and "X.exe" names the program X. Every child runs in its own process
// group and is killed by the kernel when the program that started it dies. The window style is
// accepted for the callers' sake and has no effect; a hidden child's standard output is
// discarded, and so is Ghostscript's ("gs") standard error. Standard input is /dev/null, and
// no other descriptor of the caller is inherited.
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/types.h>

#include "shared/ExitStatus.h"
#include "shared/NumberedError.h"

namespace kvo {

// The failure record of SyncShell and AsyncShell: number, source ("SyncShell"), description.
class ShellError : public NumberedError {
public:
    using NumberedError::NumberedError;
};

constexpr std::int32_t kShellNoExitCode = static_cast<std::int32_t>(0x8004AA00);
constexpr std::int32_t kShellCannotOpen = static_cast<std::int32_t>(0x8004AA01);
constexpr std::int32_t kShellCannotStart = static_cast<std::int32_t>(0x8004AA02);

// True for a status SyncShell or ExitStatusOf gives for a program ended by a signal.
constexpr bool EndedBySignal(int status) { return status > 128; }

// For a program of the chain that ran `program` and got `status`: passes a fault of the
// machine on to this program's own end (throws EndedFromOutside or NoRoomForWork).
void PassOnMachineFault(const std::string& program, int status);

constexpr int kWindowHidden = 0;
constexpr int kWindowMinimised = 2;

// Starts the program, waits for it to end and returns its exit code (128 + signal number
// when a signal ended it). Throws ShellError(kShellCannotStart, "SyncShell",
// "Failed to Shell child process") when the program cannot be started.
std::int32_t SyncShell(const std::string& commandLine, int windowStyle);

// Starts the program and returns its process id at once; the child is reaped as soon as it
// ends (see ReapChildren). Throws ShellError like SyncShell when it cannot be started.
pid_t AsyncShell(const std::string& commandLine, int windowStyle);

// The plain program start (no wait, no error raised): returns the process id, or 0 when the
// program could not be started. The child is reaped as soon as it ends.
pid_t StartProgram(const std::string& commandLine, int windowStyle);

// Reaps every child started by AsyncShell/StartProgram that has ended, by process id only
// (never waitpid(-1)), so that no zombie is left and none counts as running.
void ReapChildren();

// The exit status of a child started by AsyncShell or StartProgram once it has ended (128 +
// signal number when a signal ended it); nullopt while it runs, or for an unknown id.
std::optional<int> ExitStatusOf(pid_t processId);

// What a body run by RunIsolated may take: wall-clock seconds, and address space beyond what
// this process holds when it starts the body (0: no bound).
struct IsolationLimits {
    double seconds = 0;
    std::uint64_t memoryBytes = 0;
};

// How a body run by RunIsolated ended: its exit status (128 + signal number when a signal
// ended it), or nullopt when it was killed at the time limit or could not be started; and what
// it wrote to its output.
struct IsolatedEnd {
    std::optional<int> status;
    bool timedOut = false;
    std::string output;
};

// Runs `body` in a child process of its own (fork, no exec), so that a crash, a hang or a
// greed for memory in it (a library reading an untrusted file) costs this process nothing; the
// body's return value is the child's exit status (1 when it throws, kExitOutOfMemory when
// it runs out of memory), and what it puts into its `output` reaches IsolatedEnd::output. Waits
// at most the limit's seconds, calling `onPoll` every `pollMs` meanwhile; a child still running
// then is killed. The child dies with this process.
IsolatedEnd RunIsolated(const std::function<int(std::string& output)>& body, const IsolationLimits& limits,
                        const std::function<void()>& onPoll = {}, int pollMs = 20);

}  // namespace kvo
