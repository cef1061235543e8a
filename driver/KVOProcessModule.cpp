#include "driver/KVOProcessModule.h"

#include <charconv>
#include <iostream>
#include <optional>
#include <string_view>

#include "driver/Config.h"
#include "driver/LoopRules.h"
#include "driver/PathMap.h"
#include "driver/ProgressDisplay.h"
#include "driver/RowWalk.h"
#include "driver/StopSignals.h"
#include "driver/TerminalProgress.h"
#include "driver/WorkerChannel.h"
#include "driver/WorkerPool.h"
#include "driver/WorkerRules.h"
#include "driver/WriteJournal.h"
#include "driver/fProgress.h"
#include "driver/queue/WorkQueue.h"
#include "driver/store/DbConnection.h"
#include "shared/platform/Clock.h"
#include "shared/platform/Paths.h"

namespace kvo::driver::KVOProcessModule {

bool StopRequested = false;

namespace {

constexpr const char* kDriverProgram = "KVOProcess";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// After a cycle that found a mapped folder missing during the 18 o'clock hour, the check is
// not repeated at once.
constexpr double kMissingFolderPauseSeconds = 60;

constexpr const char* kUsage =
    "Usage: KVOProcess [--once] [--workers N] | --help\n"
    "\n"
    "Makes the document attachments listed in the practice database searchable.\n"
    "\n"
    "  (no argument)  run for ever: work through the queue, then wait for the\n"
    "                 18 o'clock hour and start again; ends only when the operator\n"
    "                 stops it (the Stop button, Ctrl-C, or SIGTERM), after the\n"
    "                 current file\n"
    "  --once         run one cycle over the queue and end, without waiting for\n"
    "                 the 18 o'clock hour (for cron jobs and service timers)\n"
    "  --workers N    convert N attachments at once, each in its own work folder\n"
    "                 under TEMP (1 to 64; default: console.ini [console] Workers=,\n"
    "                 else the number of cores); any number of drivers may share\n"
    "                 one database\n"
    "  --help         show this text\n"
    "\n"
    "The database is named in ZRT.ini in the data folder (console.ini [console] Path,\n"
    "else the program's folder); its optional [PathMap] section maps host path\n"
    "prefixes to local folders (D:\\Docs=/srv/docs). Progress goes to a window\n"
    "when a display is available, else to standard output; one report line per\n"
    "file goes to standard error.\n";

void Report(const std::string& line) { std::cerr << "KVOProcess: " << line << std::endl; }

std::unique_ptr<ProgressDisplay> MakeDefaultDisplay(bool& stopRequested) {
    if (auto window = fProgress::Open(stopRequested)) return window;
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

std::unique_ptr<DbConnection> OpenConnection(const CycleConfig& config) {
    auto connection = MakeConnection(config);
    connection->open();
    if (!connection->isOpen())
        throw DbError("cannot open the database '" + config.database + "' on server '" + config.server + "'");
    return connection;
}

struct CycleResult {
    std::optional<int> exitStatus;  // set: the program ends with it
    bool waitFor18 = true;
    bool mappedFolderMissing = false;
};

// Connects and sets the queue up for worker `workerIndex` of this process (0: the driver
// itself), then lets `use` work with it. Database failures end the program.
template <typename Use>
CycleResult WithQueue(const CycleConfig& config, int workerIndex, Use use) {
    CycleResult result;
    std::unique_ptr<DbConnection> selection, updates;
    try {
        selection = OpenConnection(config);
        updates = OpenConnection(config);
        WorkQueue queue(*selection, *updates, {ThisWorkerName(workerIndex), config.claimHours, config.maxAttempts});
        if (!queue.setUp()) {
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

CycleResult RunCycle(const Options& options, const std::string& appFolder) {
    const TimePoint runStart = Now();
    StopRequested = false;
    std::unique_ptr<ProgressDisplay> display =
        options.makeDisplay ? options.makeDisplay(StopRequested) : MakeDefaultDisplay(StopRequested);
    display->setText(kPreparingText);
    display->processMessages();

    const CycleConfig config = ReadCycleConfig();
    CycleResult result;
    const std::optional<int> workers = ChooseWorkerCount(options.workers, config.workers, CoreCount());
    if (!workers) {
        Report("console.ini [console] Workers=" + config.workers + " is not a count from 1 to " +
               std::to_string(kMaxWorkers));
        result.exitStatus = kExitUsage;
        return result;
    }
    const PathMapEntries missing = MissingTargets(config.pathMap);
    if (!missing.empty()) {
        for (const auto& [hostPrefix, folder] : missing)
            Report("the folder " + folder + " for host paths " + hostPrefix +
                   " does not exist; no row is touched in this cycle");
        result.mappedFolderMissing = true;
        if (options.once) result.exitStatus = kExitFailure;
    } else if (*workers == 1) {
        result = WalkQueue(config, *display, appFolder, runStart);
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

// A driver that was killed while it wrote a file whole left a hidden temporary behind.
void RemoveLeftovers() {
    try {
        if (const int removed = RemoveLeftoverTemporaries(); removed > 0)
            Report("removed " + std::to_string(removed) + " temporary file(s) left by an interrupted run");
    } catch (const std::exception& error) {
        Report(std::string("temporary files left by an interrupted run could not be looked for: ") + error.what());
    }
}

// One worker's share of the cycle its driver runs: the walk, with events instead of a display.
int RunWorker(const Options& options, const std::string& appFolder) {
    BindWorkerToDriver();
    const CycleConfig config = ReadCycleConfig();
    WorkerChannel channel(StopRequested, kWorkerEventsFd, config.pathMap);
    const CycleResult result = WalkQueue(config, channel, appFolder, options.cycleStart, *options.worker);
    if (result.exitStatus) return *result.exitStatus;
    return result.waitFor18 ? 0 : kWorkerTimeLimit;
}

// The value after an option that takes one; nullopt (reported) when it is missing or wrong.
std::optional<int> CountAfter(int argc, char** argv, int& i) {
    const std::string option = argv[i];
    const std::string value = i + 1 < argc ? argv[++i] : "";
    const std::optional<int> count = ParseWorkerCount(value);
    if (!count)
        std::cerr << "KVOProcess: " << option << " needs a count from 1 to " << kMaxWorkers << ", not '" << value
                  << "'\n";
    return count;
}

std::optional<TimePoint> TimeAfter(int argc, char** argv, int& i) {
    if (i + 1 >= argc) return std::nullopt;
    const std::string_view text = argv[++i];
    long long seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return TimePoint(std::chrono::seconds(seconds));
}

}  // namespace

int Run(const Options& options) {
    InstallStopSignals();
    RemoveLeftovers();
    const std::string appFolder = options.appFolder.empty() ? AppFolder() : options.appFolder;
    if (options.worker) return RunWorker(options, appFolder);
    for (;;) {
        const CycleResult result = RunCycle(options, appFolder);
        if (result.exitStatus) return *result.exitStatus;
        if (StopRequested || options.once) return 0;
    }
}

int Main(int argc, char** argv) {
    Options options;
    bool cycleStartGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--once") {
            options.once = true;
        } else if (argument == "--workers") {
            options.workers = CountAfter(argc, argv, i);
            if (!options.workers) return kExitUsage;
        } else if (argument == "--worker") {  // internal: started by a driver, not by an operator
            options.worker = CountAfter(argc, argv, i);
            if (!options.worker) return kExitUsage;
        } else if (argument == "--cycle-start") {  // internal, with --worker
            const auto start = TimeAfter(argc, argv, i);
            if (!start) {
                std::cerr << "KVOProcess: --cycle-start needs the cycle's start in seconds since 1970\n";
                return kExitUsage;
            }
            options.cycleStart = *start;
            cycleStartGiven = true;
        } else if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return 0;
        } else {
            std::cerr << "KVOProcess: unknown argument '" << argument << "'\n" << kUsage;
            return kExitUsage;
        }
    }
    if (options.worker && !cycleStartGiven) {
        std::cerr << "KVOProcess: --worker is started by a driver, with --cycle-start\n";
        return kExitUsage;
    }
    try {
        return Run(options);
    } catch (const std::exception& error) {
        Report(std::string("stopped by an unexpected error: ") + error.what());
        return kExitFailure;
    }
}

}  // namespace kvo::driver::KVOProcessModule
