#include "driver/KVOProcessModule.h"

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
#include "driver/WriteJournal.h"
#include "driver/fProgress.h"
#include "driver/queue/WorkQueue.h"
#include "driver/store/DbConnection.h"
#include "shared/platform/Clock.h"
#include "shared/platform/Paths.h"

namespace kvo::driver::KVOProcessModule {

bool StopRequested = false;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// After a cycle that found a mapped folder missing during the 18 o'clock hour, the check is
// not repeated at once.
constexpr double kMissingFolderPauseSeconds = 60;

constexpr const char* kUsage =
    "Usage: KVOProcess [--once | --help]\n"
    "\n"
    "Makes the document attachments listed in the practice database searchable.\n"
    "\n"
    "  (no argument)  run for ever: work through the queue, then wait for the\n"
    "                 18 o'clock hour and start again; ends only when the operator\n"
    "                 stops it (the Stop button, Ctrl-C, or SIGTERM), after the\n"
    "                 current file\n"
    "  --once         run one cycle over the queue and end, without waiting for\n"
    "                 the 18 o'clock hour (for cron jobs and service timers)\n"
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

// Connects, sets the queue up and walks it. Database failures end the program.
CycleResult WalkQueue(const CycleConfig& config, ProgressDisplay& display, const std::string& appFolder,
                      TimePoint runStart) {
    CycleResult result;
    std::unique_ptr<DbConnection> selection, updates;
    try {
        selection = OpenConnection(config);
        updates = OpenConnection(config);
        WorkQueue queue(*selection, *updates, {ThisWorkerName(0), config.claimHours, config.maxAttempts});
        if (!queue.setUp()) {
            Report("the work queue could not be read; ending");
            result.exitStatus = kExitFailure;
        } else {
            RowWalk walk(queue, display, StopRequested, config.pathMap, appFolder);
            const RowWalk::End end = walk.run(runStart);
            result.waitFor18 = end != RowWalk::End::TimeLimit;
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

CycleResult RunCycle(const Options& options, const std::string& appFolder) {
    const TimePoint runStart = Now();
    StopRequested = false;
    std::unique_ptr<ProgressDisplay> display =
        options.makeDisplay ? options.makeDisplay(StopRequested) : MakeDefaultDisplay(StopRequested);
    display->setText(kPreparingText);
    display->processMessages();

    const CycleConfig config = ReadCycleConfig();
    CycleResult result;
    const PathMapEntries missing = MissingTargets(config.pathMap);
    if (!missing.empty()) {
        for (const auto& [hostPrefix, folder] : missing)
            Report("the folder " + folder + " for host paths " + hostPrefix +
                   " does not exist; no row is touched in this cycle");
        result.mappedFolderMissing = true;
        if (options.once) result.exitStatus = kExitFailure;
    } else {
        result = WalkQueue(config, *display, appFolder, runStart);
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

}  // namespace

int Run(const Options& options) {
    InstallStopSignals();
    RemoveLeftovers();
    const std::string appFolder = options.appFolder.empty() ? AppFolder() : options.appFolder;
    for (;;) {
        const CycleResult result = RunCycle(options, appFolder);
        if (result.exitStatus) return *result.exitStatus;
        if (StopRequested || options.once) return 0;
    }
}

int Main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--once") {
            options.once = true;
        } else if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return 0;
        } else {
            std::cerr << "KVOProcess: unknown argument '" << argument << "'\n" << kUsage;
            return kExitUsage;
        }
    }
    try {
        return Run(options);
    } catch (const std::exception& error) {
        Report(std::string("stopped by an unexpected error: ") + error.what());
        return kExitFailure;
    }
}

}  // namespace kvo::driver::KVOProcessModule
