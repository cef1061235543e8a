#include "driver/queue/RequeueStatements.h"

#include "driver/queue/QueueStatements.h"

namespace kvo::driver {

namespace {

RequeueStatements Requeue(const std::string& queue, const std::string& work, const std::string& rows) {
    return {
        JoinLines({"SELECT count(1) As Total", "  From " + queue, " WHERE " + rows}),
        JoinLines({
            "UPDATE " + work,
            "   SET Worker = null,",
            "       Attempts = 0,",
            "       LastError = null",
            " WHERE TrackReference IN (SELECT TrackReference From " + queue + " WHERE " + rows + ")",
        }),
        JoinLines({"UPDATE " + queue, "   SET Processed = 0", " WHERE " + rows}),
    };
}

}  // namespace

std::string RowsOfStatus(int status) {
    const std::string chosen = "Processed = " + std::to_string(status);
    return status == 2 ? chosen + " AND Type <> 'PDF'" : chosen;
}

std::string RowsNamed(const std::vector<long long>& trackReferences) {
    std::string list;
    for (const long long reference : trackReferences) list += (list.empty() ? "" : ", ") + std::to_string(reference);
    return "Processed <> 0 AND TrackReference IN (" + list + ")";
}

RequeueStatements SqlServerRequeue(const std::string& rows) {
    return Requeue("[dbo].[DASearchable]", "[dbo].[DASearchableWork]", rows);
}

RequeueStatements SqliteRequeue(const std::string& rows) { return Requeue("DASearchable", "DASearchableWork", rows); }

}  // namespace kvo::driver
