#include "driver/Cycle.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "driver/Config.h"
#include "driver/JournalLog.h"
#include "driver/LoopRules.h"
#include "driver/Options.h"
#include "driver/PathMap.h"
#include "driver/ProgressDisplay.h"
#include "driver/ProgressWindow.h"
#include "driver/RowWalk.h"
#include "driver/StopSignals.h"
#include "driver/SystemCheck.h"
#include "driver/TerminalProgress.h"
#include "driver/WorkerChannel.h"
#include "driver/WorkerPool.h"
#include "driver/WorkerRules.h"
#include "driver/WriteJournal.h"
#include "driver/queue/WorkQueue.h"
#include "driver/store/DbConnection.h"
#include "shared/ExitStatus.h"
#include "shared/platform/Clock.h"
#include "shared/platform/Paths.h"
#include "shared/platform/WholeFile.h"

namespace kvo::driver {
namespace {

constexpr const char* kDriverProgram = "KVOProcess";
// After a cycle that found a mapped folder missing during the 18 o'clock hour, the check is
// not repeated at once.
constexpr double kMissingFolderPauseSeconds = 60;

// The operator's confirmed stop: cleared as every cycle starts, set only by the progress
// display, read by the loop.
bool StopRequested = false;

std::unique_ptr<ProgressDisplay> MakeDefaultDisplay(bool& stopRequested) {
    if (auto window = ProgressWindow::Open(stopRequested)) return window;
    return std::make_unique<TerminalProgress>(stopRequested);
}

// Sleeps a second at a time, reacting to a stop within that second, until `done` says so.
template <typename Done>
void WaitRespondingToStop(ProgressDisplay& display, Done done) {
    while (!done()) {
        SleepMs(1000);
        if (StopRequested) return;
        display.processMessages();
    }
}

void WaitForSixPm(ProgressDisplay& display) {
    WaitRespondingToStop(display, [] { return LocalHour(Now()) == 18; });
}

struct CycleResult {
    std::optional<int> exitStatus;  // set: the program ends with it
    bool waitFor18 = true;
    bool mappedFolderMissing = false;
};

CycleResult EndWith(int exitStatus) {
    CycleResult result;
    result.exitStatus = exitStatus;
    return result;
}

// Connects and sets the queue up for worker `workerIndex` of this process (0: the driver
// itself, which also creates and fills it; a worker joins what its driver set up), then lets
// `use` work with it. Database failures end the program.
template <typename Use>
CycleResult WithQueue(const CycleConfig& config, int workerIndex, Use use) {
    CycleResult result;
    std::unique_ptr<DbConnection> selection, updates;
    try {
        selection = OpenConnection(config);
        updates = OpenConnection(config);
        WorkQueue queue(*selection, *updates, {ThisWorkerName(workerIndex), config.claimHours, config.maxAttempts});
        if (!queue.setUp(workerIndex == 0 ? WorkQueue::Join::SetUpAndFill : WorkQueue::Join::AlreadySetUp)) {
            Report("the work queue could not be read; ending");
            result.exitStatus = kExitFailure;
        } else {
            use(queue, result);
            queue.closeSelection();
        }
    } catch (const DbError& error) {
        Report(error.what());
        result.exitStatus = kExitFailure;
    }
    for (auto* connection : {selection.get(), updates.get()})
        if (connection && connection->isOpen()) connection->close();
    return result;
}

CycleResult WalkQueue(const CycleConfig& config, ProgressDisplay& display, const std::string& appFolder,
                      TimePoint runStart, int workerIndex = 0) {
    return WithQueue(config, workerIndex, [&](WorkQueue& queue, CycleResult& result) {
        RowWalk walk(queue, display, StopRequested, config.pathMap, appFolder);
        result.waitFor18 = walk.run(runStart) != RowWalk::End::TimeLimit;
    });
}

// A driver that was killed while it wrote a file whole left a hidden temporary behind.
void RemoveLeftovers() {
    try {
        if (const int removed = RemoveLeftoverTemporaries(); removed > 0)
            Report("removed " + std::to_string(removed) + " temporary file(s) left by an interrupted run", LogPriority::Info);
    } catch (const std::exception& error) {
        Report(std::string("temporary files left by an interrupted run could not be looked for: ") + error.what(),
               LogPriority::Warning);
    }
}

// A driver that walks the queue itself works in a folder that no other chain holds: TEMP, or a
// worker folder of its own when another driver's chain works in TEMP.
CycleResult WalkAlone(const CycleConfig& config, ProgressDisplay& display, const std::string& appFolder,
                      TimePoint runStart) {
    std::optional<LoneWorkFolder> folder;
    try {
        folder.emplace();
    } catch (const std::exception& error) {
        Report(std::string("no work folder: ") + error.what());
        return EndWith(kExitFailure);
    }
    RemoveLeftovers();  // of an earlier driver killed in this folder
    return WalkQueue(config, display, appFolder, runStart);
}

// The driver sets the queue up and counts it; the workers walk it, each on its own
// connections.
CycleResult RunWorkers(const CycleConfig& config, ProgressDisplay& display, const std::string& appFolder,
                       TimePoint runStart, int workers) {
    int pending = 0;
    CycleResult result = WithQueue(config, 0, [&](WorkQueue& queue, CycleResult&) { pending = queue.pendingCount(); });
    if (result.exitStatus) return result;
    const WorkerPoolEnd end = RunWorkerPool({.workers = workers,
                                             .program = appFolder + "/" + kDriverProgram,
                                             .workFolder = TempFolder(),
                                             .cycleStart = runStart,
                                             .pendingAtStart = pending},
                                            display, StopRequested);
    result.waitFor18 = !end.timeLimit;
    if (end.databaseFailed) result.exitStatus = kExitFailure;
    return result;
}

// True when a mapped folder is missing or looks unmounted (each reported): no row is touched.
bool MappedFolderMissing(const PathMapEntries& pathMap) {
    const PathMapEntries missing = MissingTargets(pathMap);
    bool unreachable = !missing.empty();
    for (const auto& [hostPrefix, folder] : missing)
        Report("the folder " + folder + " for host paths " + hostPrefix + " does not exist; no row is touched in this cycle");
    for (const auto& [hostPrefix, folder] : pathMap)
        if (std::find(missing.begin(), missing.end(), std::pair(hostPrefix, folder)) == missing.end() &&
            LooksUnmounted(folder)) {
            unreachable = true;
            Report("the folder " + folder + " for host paths " + hostPrefix +
                   " is empty on its parent's device, so its share is not mounted; no row is touched in this cycle");
        }
    return unreachable;
}

// One cycle: the configuration read and checked, the queue walked, and the waits after it.
CycleResult RunCycle(const Options& options, const std::string& appFolder) {
    const TimePoint runStart = Now();
    StopRequested = false;
    std::unique_ptr<ProgressDisplay> display =
        options.makeDisplay ? options.makeDisplay(StopRequested) : MakeDefaultDisplay(StopRequested);
    display->setText(kPreparingText);
    display->processMessages();

    const CycleConfig config = ReadCycleConfig();
    if (const auto problems = ProfileProblems(config); !problems.empty()) {
        for (const std::string& problem : problems) Report(problem);
        return EndWith(kExitFailure);
    }
    if (const std::vector<CheckLine> missing = MissingSetUp(config.consoleIni); !missing.empty()) {
        for (const CheckLine& line : missing) Report("cannot convert anything: " + line.what + ": " + line.detail);
        return EndWith(kExitFailure);
    }
    const std::optional<int> workers = ChooseWorkerCount(options.workers, config.workers, CoreCount());
    if (!workers) {
        Report("console.ini [console] Workers=" + config.workers + " is not a count from 1 to " +
               std::to_string(kMaxWorkers));
        return EndWith(kExitUsage);
    }
    CycleResult result;
    if (MappedFolderMissing(config.pathMap)) {
        result.mappedFolderMissing = true;
        if (options.once) result.exitStatus = kExitFailure;
    } else if (*workers == 1) {
        result = WalkAlone(config, *display, appFolder, runStart);
    } else {
        result = RunWorkers(config, *display, appFolder, runStart, *workers);
    }
    if (result.exitStatus || options.once) return result;

    if (result.waitFor18) {
        display->setText(kWaitText);
        display->processMessages();
        if (!StopRequested) WaitForSixPm(*display);
    }
    if (result.mappedFolderMissing && !StopRequested) {
        const SteadyPoint noted = SteadyNow();
        WaitRespondingToStop(*display, [&] { return SecondsSince(noted) >= kMissingFolderPauseSeconds; });
    }
    return result;
}

// One worker's share of the cycle its driver runs: the walk, with events instead of a display.
int RunWorker(const Options& options, const std::string& appFolder) {
    BindWorkerToDriver();
    const CycleConfig config = ReadCycleConfig();
    WorkerChannel channel(StopRequested, kWorkerEventsFd, config.pathMap);
    const CycleResult result = WalkQueue(config, channel, appFolder, options.cycleStart, *options.worker);
    if (result.exitStatus) return *result.exitStatus;
    return result.waitFor18 ? kExitOk : kExitWorkerTimeLimit;
}

}  // namespace

int RunBatch(const Options& options) {
    EnvironmentPassword();  // out of the environment before any program is started
    InstallStopSignals();
    // What the chain makes in the work folder (Ghostscript's page renderings among it) is for
    // the service's user alone; a result beside an attachment is given the attachment's bits.
    umask(077);
    RemoveLeftovers();
    const std::string appFolder = options.appFolder.empty() ? AppFolder() : options.appFolder;
    if (options.command == Command::Worker) return RunWorker(options, appFolder);
    for (;;) {
        const CycleResult result = RunCycle(options, appFolder);
        if (result.exitStatus) return *result.exitStatus;
        if (StopRequested || options.once) return kExitOk;
    }
}

}  // namespace kvo::driver
