#include "driver/KVOProcessModule.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <algorithm>
#include <iostream>
#include <optional>
#include <string_view>

#include "driver/Config.h"
#include "driver/JournalLog.h"
#include "driver/LoopRules.h"
#include "driver/PathMap.h"
#include "driver/ProgressDisplay.h"
#include "driver/RowWalk.h"
#include "driver/StatusReport.h"
#include "driver/SystemCheck.h"
#include "driver/StopSignals.h"
#include "driver/TerminalProgress.h"
#include "driver/WorkerChannel.h"
#include "driver/WorkerPool.h"
#include "driver/WorkerRules.h"
#include "driver/WriteJournal.h"
#include "driver/fProgress.h"
#include "driver/queue/QueueStatements.h"
#include "driver/queue/Requeue.h"
#include "driver/queue/WorkQueue.h"
#include "driver/store/DbConnection.h"
#include "shared/ExitStatus.h"
#include "shared/platform/Clock.h"
#include "shared/platform/Paths.h"

namespace kvo::driver::KVOProcessModule {

bool StopRequested = false;

namespace {

constexpr const char* kDriverProgram = "KVOProcess";
// After a cycle that found a mapped folder missing during the 18 o'clock hour, the check is
// not repeated at once.
constexpr double kMissingFolderPauseSeconds = 60;

constexpr const char* kUsage =
    "Usage: KVOProcess [--once] [--workers N] | --check | --status [--json]\n"
    "       | --requeue STATUS [--yes] | --requeue-ref ID... [--yes] | --help\n"
    "Makes the document attachments listed in the practice database searchable.\n"
    "\n"
    "  (no argument)  run for ever: work the queue, wait for 18 o'clock, repeat\n"
    "  --once         run one cycle over the queue and end (cron, service timers)\n"
    "  --workers N    convert N attachments at once (1 to 64; default console.ini Workers=)\n"
    "  --check        check what a cycle needs, one line each; status 0 only when all pass\n"
    "  --status       show the queue: rows per status, claims, rate, latest failures\n"
    "  --json         with --status: the same as one JSON object\n"
    "  --requeue S    put the rows of status 2, 3 or 5 back to pending (status 2: not converted ones)\n"
    "  --requeue-ref ID...  put these TrackReferences back to pending, whatever their outcome\n"
    "                 (a converted row: its original attachment, to be converted again)\n"
    "  --yes          with --requeue or --requeue-ref: change without asking\n"
    "  --help         show this text\n"
    "  --worker N --cycle-start T  internal: one worker of a running driver\n"
    "\n"
    "console.ini lies in $windir, else /etc/kvo; ZRT.ini (database, [PathMap]) in its\n"
    "[console] Path, else the program's folder. Ctrl-C or SIGTERM stops after the current file.\n";

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

std::unique_ptr<DbConnection> OpenConnection(const CycleConfig& config, DbAccess access = DbAccess::ReadWrite) {
    auto connection = MakeConnection(config, access);
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

void RemoveLeftovers();

// A driver that walks the queue itself works in a folder that no other chain holds: TEMP, or a
// worker folder of its own when another driver's chain works in TEMP.
CycleResult WalkAlone(const CycleConfig& config, ProgressDisplay& display, const std::string& appFolder,
                      TimePoint runStart) {
    std::optional<LoneWorkFolder> folder;
    try {
        folder.emplace();
    } catch (const std::exception& error) {
        Report(std::string("no work folder: ") + error.what());
        CycleResult result;
        result.exitStatus = kExitFailure;
        return result;
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

CycleResult RunCycle(const Options& options, const std::string& appFolder) {
    const TimePoint runStart = Now();
    StopRequested = false;
    std::unique_ptr<ProgressDisplay> display =
        options.makeDisplay ? options.makeDisplay(StopRequested) : MakeDefaultDisplay(StopRequested);
    display->setText(kPreparingText);
    display->processMessages();

    const CycleConfig config = ReadCycleConfig();
    CycleResult result;
    if (const auto problems = ProfileProblems(config); !problems.empty()) {
        for (const std::string& problem : problems) Report(problem);
        result.exitStatus = kExitFailure;
        return result;
    }
    if (const std::vector<CheckLine> missing = MissingSetUp(config.consoleIni); !missing.empty()) {
        for (const CheckLine& line : missing) Report("cannot convert anything: " + line.what + ": " + line.detail);
        result.exitStatus = kExitFailure;
        return result;
    }
    const std::optional<int> workers = ChooseWorkerCount(options.workers, config.workers, CoreCount());
    if (!workers) {
        Report("console.ini [console] Workers=" + config.workers + " is not a count from 1 to " +
               std::to_string(kMaxWorkers));
        result.exitStatus = kExitUsage;
        return result;
    }
    const PathMapEntries missing = MissingTargets(config.pathMap);
    bool unreachable = !missing.empty();
    for (const auto& [hostPrefix, folder] : missing)
        Report("the folder " + folder + " for host paths " + hostPrefix + " does not exist; no row is touched in this cycle");
    for (const auto& [hostPrefix, folder] : config.pathMap)
        if (std::find(missing.begin(), missing.end(), std::pair(hostPrefix, folder)) == missing.end() &&
            LooksUnmounted(folder)) {
            unreachable = true;
            Report("the folder " + folder + " for host paths " + hostPrefix +
                   " is empty on its parent's device, so its share is not mounted; no row is touched in this cycle");
        }
    if (unreachable) {
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

// One worker's share of the cycle its driver runs: the walk, with events instead of a display.
int RunWorker(const Options& options, const std::string& appFolder) {
    BindWorkerToDriver();
    const CycleConfig config = ReadCycleConfig();
    WorkerChannel channel(StopRequested, kWorkerEventsFd, config.pathMap);
    const CycleResult result = WalkQueue(config, channel, appFolder, options.cycleStart, *options.worker);
    if (result.exitStatus) return *result.exitStatus;
    return result.waitFor18 ? 0 : kExitWorkerTimeLimit;
}

// Opens the store of an operator's command, once the profile files and the queue are there;
// nullptr (reported) when they are not.
std::unique_ptr<DbConnection> OpenExistingQueue(DbAccess access) {
    const CycleConfig config = ReadCycleConfig();
    if (const auto problems = ProfileProblems(config); !problems.empty()) {
        for (const std::string& problem : problems) Report(problem);
        return nullptr;
    }
    auto connection = OpenConnection(config, access);
    const QueueStatements& statements = connection->isSqlServer() ? SqlServerStatements() : SqliteStatements();
    for (const std::string* existence : {&statements.existence, &statements.workExistence}) {
        auto count = connection->query(*existence);
        if (count->eof() || count->field("Total").value_or("0") == "0") {
            Report("the work queue has not been set up yet; a cycle (KVOProcess --once) creates it");
            return nullptr;
        }
    }
    return connection;
}

// The operator's report; reads the queue and changes nothing.
int ShowStatus(bool json) {
    try {
        const auto connection = OpenExistingQueue(DbAccess::ReadOnly);
        if (!connection) return kExitFailure;
        const StatusReport report = ReadStatusReport(*connection);
        connection->close();
        std::cout << (json ? StatusJson(report) : StatusText(report));
        return 0;
    } catch (const std::exception& error) {
        Report(error.what());
        return kExitFailure;
    }
}

bool Confirmed(long long rows) {
    std::cout << "Put " << rows << " row(s) back to pending? [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}

int Requeue(const RequeueChoice& choice, bool yes) {
    if (!yes && !isatty(STDIN_FILENO)) {
        Report("requeueing changes the queue: confirm on a terminal, or add --yes");
        return kExitUsage;
    }
    try {
        const auto connection = OpenExistingQueue(DbAccess::ReadWrite);
        if (!connection) return kExitFailure;
        AddMissingSideColumns(*connection);
        const RequeuePlan plan = PlanRequeue(*connection, choice);
        for (const std::string& note : plan.notes) std::cout << note << "\n";
        for (const std::string& refusal : plan.refusals) Report(refusal);
        if (plan.chosen > 0 && !yes && !Confirmed(plan.chosen)) {
            Report("nothing changed");
            return kExitFailure;
        }
        const long long changed = CarryOut(*connection, plan);
        connection->close();
        std::cout << changed << " row(s) put back to pending\n";
        return plan.refusals.empty() ? 0 : kExitFailure;
    } catch (const std::exception& error) {
        Report(error.what());
        return kExitFailure;
    }
}

// The TrackReferences after --requeue-ref, up to the next option; nullopt (reported) when one
// is no positive whole number or there is none.
std::optional<std::vector<long long>> ReferencesAfter(int argc, char** argv, int& i) {
    std::vector<long long> references;
    while (i + 1 < argc && std::string_view(argv[i + 1]).rfind("--", 0) != 0) {
        const std::string_view text = argv[++i];
        long long reference = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), reference);
        if (error != std::errc() || end != text.data() + text.size() || reference <= 0) {
            std::cerr << "KVOProcess: --requeue-ref needs TrackReferences (whole numbers), not '" << text << "'\n";
            return std::nullopt;
        }
        references.push_back(reference);
    }
    if (references.empty()) std::cerr << "KVOProcess: --requeue-ref needs at least one TrackReference\n";
    if (references.empty()) return std::nullopt;
    return references;
}

int Check() {
    bool passed = true;
    for (const CheckLine& line : RunChecks()) {
        std::cout << CheckText(line) << "\n";
        passed = passed && line.passed;
    }
    return passed ? 0 : kExitFailure;
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
    EnvironmentPassword();  // out of the environment before any program is started
    InstallStopSignals();
    // What the chain makes in the work folder (Ghostscript's page renderings among it) is for
    // the service's user alone; a result beside an attachment is given the attachment's bits.
    umask(077);
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
    bool status = false, json = false, yes = false, check = false;
    std::optional<RequeueChoice> requeue;
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
        } else if (argument == "--check") {
            check = true;
        } else if (argument == "--status") {
            status = true;
        } else if (argument == "--json") {
            json = true;
        } else if (argument == "--yes") {
            yes = true;
        } else if (argument == "--requeue") {
            const std::string value = i + 1 < argc ? argv[++i] : "";
            if (value != "2" && value != "3" && value != "5") {
                std::cerr << "KVOProcess: --requeue needs the status 2, 3 or 5, not '" << value << "'\n";
                return kExitUsage;
            }
            requeue = RequeueChoice{std::stoi(value), {}};
        } else if (argument == "--requeue-ref") {
            const auto references = ReferencesAfter(argc, argv, i);
            if (!references) return kExitUsage;
            requeue = RequeueChoice{std::nullopt, *references};
        } else if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return 0;
        } else {
            std::cerr << "KVOProcess: unknown argument '" << argument << "'; see KVOProcess --help\n";
            return kExitUsage;
        }
    }
    if (json && !status) {
        std::cerr << "KVOProcess: --json goes with --status\n";
        return kExitUsage;
    }
    if (yes && !requeue) {
        std::cerr << "KVOProcess: --yes goes with --requeue or --requeue-ref\n";
        return kExitUsage;
    }
    if ((check || status || requeue) &&
        (options.once || options.workers || options.worker || (check + status + requeue.has_value()) > 1)) {
        std::cerr << "KVOProcess: --check, --status, --requeue and --requeue-ref each go alone (with --json or --yes)\n";
        return kExitUsage;
    }
    if (check) return Check();
    if (status) return ShowStatus(json);
    if (requeue) return Requeue(*requeue, yes);
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
