#pragma once
// The batch driver KVOProcess: run cycles over the work queue until the operator stops it.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "shared/platform/Clock.h"

namespace kvo::driver {
class ProgressDisplay;
}

namespace kvo::driver::KVOProcessModule {

// The operator's confirmed stop: cleared as every cycle starts, set only by the progress
// display, read by the loop.
extern bool StopRequested;

struct Options {
    // One cycle, then the end, without waiting for the 18 o'clock hour.
    bool once = false;
    // Folder holding KVOProcessSlides; empty: the folder of the running program.
    std::string appFolder;
    // Makes each cycle's progress display; empty: the window when a display can be opened,
    // else the terminal.
    std::function<std::unique_ptr<ProgressDisplay>(bool& stopRequested)> makeDisplay;
    // Conversions at once (--workers); empty: console.ini's Workers=, else the number of cores.
    // With one, the driver walks the queue itself; with more, it starts worker processes.
    std::optional<int> workers;
    // Set in a worker process (internal --worker N): it walks rows for the driver that started
    // it, in the cycle that began at `cycleStart`, and ends.
    std::optional<int> worker;
    TimePoint cycleStart;
};

// Runs cycles as `options` say; returns the exit status (0 after a stop or a single cycle,
// 1 when the database cannot be used or, with `once`, when a mapped folder is missing,
// 2 when the Workers= setting is not a count).
int Run(const Options& options);

// The program: "KVOProcess", "KVOProcess --once", "KVOProcess --workers N" or
// "KVOProcess --help".
int Main(int argc, char** argv);

}  // namespace kvo::driver::KVOProcessModule
