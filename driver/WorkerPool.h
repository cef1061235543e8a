#pragma once
// The driver's side of the pool: one cycle's worker processes, each a KVOProcess walking queue
// rows in its own private work folder, and the display of what they all do.
#include <optional>
#include <string>

#include "shared/platform/Clock.h"
#include "shared/platform/WorkFolders.h"

namespace kvo::driver {

class ProgressDisplay;

struct WorkerPoolSettings {
    int workers = 1;
    std::string program;     // the KVOProcess to start with --worker
    std::string workFolder;  // the driver's TEMP; each worker gets a folder "worker-N" in it
    TimePoint cycleStart;
    int pendingAtStart = 0;
};

struct WorkerPoolEnd {
    bool timeLimit = false;  // a worker stopped at the cycle's time limit
    bool databaseFailed = false;
};

// Starts the workers, shows their progress, passes a confirmed stop on to them, and returns
// once every one has ended. A worker that dies is reported and does not hold up the others.
WorkerPoolEnd RunWorkerPool(const WorkerPoolSettings& settings, ProgressDisplay& display, const bool& stopRequested);

// The work folder of a driver that walks the queue itself, held while this lives: TEMP when no
// other chain holds it, else the next free worker-<n> folder in it, at which TEMP then points
// (the chain's programs inherit it). Throws std::runtime_error when no folder is free.
class LoneWorkFolder {
public:
    LoneWorkFolder();
    ~LoneWorkFolder();
    LoneWorkFolder(const LoneWorkFolder&) = delete;
    LoneWorkFolder& operator=(const LoneWorkFolder&) = delete;

    const std::string& path() const { return folder_.path; }

private:
    std::optional<std::string> temp_;  // TEMP as it was
    HeldFolder folder_;
};

// The processors this process may run on (at least 1).
int CoreCount();

}  // namespace kvo::driver
