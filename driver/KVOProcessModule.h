#pragma once
// The batch driver KVOProcess: run cycles over the work queue until the operator stops it.
#include <functional>
#include <memory>
#include <string>

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
};

// Runs cycles as `options` say; returns the exit status (0 after a stop or a single cycle,
// 1 when the database cannot be used or, with `once`, when a mapped folder is missing).
int Run(const Options& options);

// The program: "KVOProcess", "KVOProcess --once" or "KVOProcess --help".
int Main(int argc, char** argv);

}  // namespace kvo::driver::KVOProcessModule
