#pragma once
// KVOProcess's command line: what the operator, or a driver starting a worker, asks for.
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "driver/queue/Requeue.h"
#include "shared/platform/Clock.h"

namespace kvo::driver {

class ProgressDisplay;

// A command line that asks for nothing this program does; what() says why (status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Command {
    RunCycles,  // no option, --once, --workers N
    Worker,     // internal --worker N --cycle-start T: one worker of a running driver
    Check,      // --check
    ShowStatus, // --status [--json]
    Requeue,    // --requeue S or --requeue-ref ID... [--yes]
    Help,       // --help
};

struct Options {
    Command command = Command::RunCycles;
    // One cycle, then the end, without waiting for the 18 o'clock hour.
    bool once = false;
    // Conversions at once (--workers); empty: console.ini's Workers=, else the number of cores.
    // With one, the driver walks the queue itself; with more, it starts worker processes.
    std::optional<int> workers;
    // A worker's number, and the start of the cycle its driver runs.
    std::optional<int> worker;
    TimePoint cycleStart;
    bool json = false;  // --status as one JSON object
    bool yes = false;   // --requeue without asking
    std::optional<RequeueChoice> requeue;

    // Not on the command line. The folder holding KVOProcessSlides; empty: the folder of the
    // running program.
    std::string appFolder;
    // Makes each cycle's progress display; empty: the window when a display can be opened,
    // else the terminal.
    std::function<std::unique_ptr<ProgressDisplay>(bool& stopRequested)> makeDisplay;
};

// The options of the arguments after the program's name. Throws UsageError.
Options ParseOptions(int argc, const char* const* argv);

// What --help prints.
extern const char* const kUsage;

}  // namespace kvo::driver
