#include "driver/queue/Requeue.h"

#include <algorithm>
#include <map>

#include "driver/queue/RequeueStatements.h"
#include "driver/store/DbConnection.h"
#include "shared/AttachmentTypes.h"

namespace kvo::driver {

namespace {

RequeueStatements StatementsFor(const DbConnection& connection, const std::string& rows) {
    return connection.isSqlServer() ? SqlServerRequeue(rows) : SqliteRequeue(rows);
}

RequeuePlan ByStatus(DbConnection& connection, int status) {
    RequeuePlan plan;
    std::vector<std::string> converted;
    long long leftOut = 0;
    for (auto row = connection.query(StatementsFor(connection, RowsOfStatus(status)).typeCounts); !row->eof();
         row->moveNext()) {
        const std::string type = row->field("Type").value_or("");
        const long long rows = std::stoll(row->field("Total").value_or("0"));
        if (GroupOfType(type) == TypeGroup::Other) {
            leftOut += rows;
        } else {
            converted.push_back(type);
            plan.chosen += rows;
        }
    }
    plan.rows = RowsOfTypes(RowsOfStatus(status), converted);
    if (leftOut > 0) plan.notes.push_back(std::to_string(leftOut) + " row(s) left out: their type is not converted");
    return plan;
}

RequeuePlan ByReferences(DbConnection& connection, const std::vector<long long>& references) {
    struct State {
        int status;
        std::string type;
        bool originalKept;
    };
    std::map<long long, State> states;
    for (auto row = connection.query(StatementsFor(connection, RowsNamed(references)).rowStates); !row->eof();
         row->moveNext())
        states[std::stoll(row->field("TrackReference").value_or("0"))] = {
            std::stoi(row->field("Status").value_or("0")), row->field("Type").value_or(""),
            row->field("OriginalType").has_value()};
    RequeuePlan plan;
    std::vector<long long> chosen;
    for (const long long reference : references) {
        const std::string row = "row " + std::to_string(reference);
        const auto found = states.find(reference);
        if (found == states.end()) {
            plan.refusals.push_back("TrackReference " + std::to_string(reference) + " is not in the queue");
        } else if (found->second.status == 0) {
            plan.notes.push_back(row + " is pending already; left as it is");
        } else if (found->second.status == 2 && found->second.type == "PDF" && !found->second.originalKept) {
            // Its path names the searchable PDF: converting that again would only find it searchable.
            plan.refusals.push_back(row + " is left as it is: it may hold a searchable PDF recorded by an earlier "
                                          "version, which kept no record of its original attachment; to convert the "
                                          "original again, set the row's Type and FilePath in DASearchable to the "
                                          "original's and its Processed to 0");
        } else if (std::find(chosen.begin(), chosen.end(), reference) == chosen.end()) {
            chosen.push_back(reference);
        }
    }
    plan.chosen = static_cast<long long>(chosen.size());
    if (!chosen.empty()) plan.rows = RowsNamed(chosen);
    return plan;
}

}  // namespace

RequeuePlan PlanRequeue(DbConnection& connection, const RequeueChoice& choice) {
    return choice.status ? ByStatus(connection, *choice.status) : ByReferences(connection, choice.references);
}

long long CarryOut(DbConnection& connection, const RequeuePlan& plan) {
    if (plan.chosen == 0) return 0;
    const RequeueStatements statements = StatementsFor(connection, plan.rows);
    connection.execute(statements.clearWork);
    return connection.execute(statements.requeue);
}

}  // namespace kvo::driver
