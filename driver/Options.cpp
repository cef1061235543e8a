#include "driver/Options.h"

#include <string_view>
#include <vector>

#include "driver/WorkerRules.h"
#include "shared/platform/Text.h"

namespace kvo::driver {

const char* const kUsage =
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

namespace {

// The arguments one after another, each option taking the values it needs.
class Arguments {
public:
    Arguments(int argc, const char* const* argv) : arguments_(argv + 1, argv + argc) {}

    bool done() const { return next_ >= arguments_.size(); }
    std::string_view take() { return arguments_[next_++]; }
    // The value after the option just taken; "" when there is none.
    std::string_view nextValue() { return done() ? std::string_view() : take(); }
    // The values up to the next option.
    std::vector<std::string_view> valuesUpToAnOption() {
        std::vector<std::string_view> values;
        while (!done() && !arguments_[next_].starts_with("--")) values.push_back(take());
        return values;
    }

private:
    std::vector<std::string_view> arguments_;
    std::size_t next_ = 0;
};

int CountOf(std::string_view option, std::string_view value) {
    const std::optional<int> count = ParseWorkerCount(value);
    if (!count)
        throw UsageError(std::string(option) + " needs a count from 1 to " + std::to_string(kMaxWorkers) + ", not '" +
                         std::string(value) + "'");
    return *count;
}

RequeueChoice ReferencesOf(const std::vector<std::string_view>& values) {
    RequeueChoice choice;
    for (const std::string_view value : values) {
        const std::optional<long long> reference = WholeNumber<long long>(value);
        if (!reference || *reference <= 0)
            throw UsageError("--requeue-ref needs TrackReferences (whole numbers), not '" + std::string(value) + "'");
        choice.references.push_back(*reference);
    }
    if (choice.references.empty()) throw UsageError("--requeue-ref needs at least one TrackReference");
    return choice;
}

// The operator's commands each go alone, with their own modifiers only.
void CheckTheCombination(const Options& options, bool check, bool status, bool cycleStartGiven) {
    if (options.json && !status) throw UsageError("--json goes with --status");
    if (options.yes && !options.requeue) throw UsageError("--yes goes with --requeue or --requeue-ref");
    const int commands = check + status + options.requeue.has_value();
    if (commands > 0 && (options.once || options.workers || options.worker || commands > 1))
        throw UsageError("--check, --status, --requeue and --requeue-ref each go alone (with --json or --yes)");
    if (options.worker && !cycleStartGiven) throw UsageError("--worker is started by a driver, with --cycle-start");
}

}  // namespace

Options ParseOptions(int argc, const char* const* argv) {
    Options options;
    bool check = false, status = false, cycleStartGiven = false;
    for (Arguments arguments(argc, argv); !arguments.done();) {
        const std::string_view argument = arguments.take();
        if (argument == "--once") {
            options.once = true;
        } else if (argument == "--workers") {
            options.workers = CountOf(argument, arguments.nextValue());
        } else if (argument == "--worker") {
            options.worker = CountOf(argument, arguments.nextValue());
        } else if (argument == "--cycle-start") {
            const std::optional<long long> seconds = WholeNumber<long long>(arguments.nextValue());
            if (!seconds) throw UsageError("--cycle-start needs the cycle's start in seconds since 1970");
            options.cycleStart = TimePoint(std::chrono::seconds(*seconds));
            cycleStartGiven = true;
        } else if (argument == "--check") {
            check = true;
        } else if (argument == "--status") {
            status = true;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--yes") {
            options.yes = true;
        } else if (argument == "--requeue") {
            const std::string_view value = arguments.nextValue();
            if (value != "2" && value != "3" && value != "5")
                throw UsageError("--requeue needs the status 2, 3 or 5, not '" + std::string(value) + "'");
            options.requeue = RequeueChoice{value[0] - '0', {}};
        } else if (argument == "--requeue-ref") {
            options.requeue = ReferencesOf(arguments.valuesUpToAnOption());
        } else if (argument == "--help" || argument == "-h") {
            options.command = Command::Help;
            return options;
        } else {
            throw UsageError("unknown argument '" + std::string(argument) + "'; see KVOProcess --help");
        }
    }
    CheckTheCombination(options, check, status, cycleStartGiven);
    if (check) options.command = Command::Check;
    else if (status) options.command = Command::ShowStatus;
    else if (options.requeue) options.command = Command::Requeue;
    else if (options.worker) options.command = Command::Worker;
    return options;
}

}  // namespace kvo::driver
