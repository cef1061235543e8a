#include "driver/OperatorCommands.h"

#include <unistd.h>

#include <iostream>
#include <memory>

#include "driver/Config.h"
#include "driver/JournalLog.h"
#include "driver/Options.h"
#include "driver/StatusReport.h"
#include "driver/SystemCheck.h"
#include "driver/queue/QueueStatements.h"
#include "driver/queue/Requeue.h"
#include "driver/queue/WorkQueue.h"
#include "driver/store/DbConnection.h"
#include "shared/ExitStatus.h"

namespace kvo::driver {
namespace {

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

bool Confirmed(long long rows) {
    std::cout << "Put " << rows << " row(s) back to pending? [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}

}  // namespace

int CheckCommand() {
    bool passed = true;
    for (const CheckLine& line : RunChecks()) {
        std::cout << CheckText(line) << "\n";
        passed = passed && line.passed;
    }
    return passed ? kExitOk : kExitFailure;
}

int StatusCommand(bool json) {
    try {
        const auto connection = OpenExistingQueue(DbAccess::ReadOnly);
        if (!connection) return kExitFailure;
        const StatusReport report = ReadStatusReport(*connection);
        connection->close();
        std::cout << (json ? StatusJson(report) : StatusText(report));
        return kExitOk;
    } catch (const std::exception& error) {
        Report(error.what());
        return kExitFailure;
    }
}

int RequeueCommand(const RequeueChoice& choice, bool yes) {
    if (!yes && !isatty(STDIN_FILENO))
        throw UsageError("requeueing changes the queue: confirm on a terminal, or add --yes");
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
        return plan.refusals.empty() ? kExitOk : kExitFailure;
    } catch (const std::exception& error) {
        Report(error.what());
        return kExitFailure;
    }
}

}  // namespace kvo::driver
