#include "driver/queue/RequeueStatements.h"

#include "driver/queue/QueueStatements.h"

namespace kvo::driver {

namespace {

// `queue` names DASearchable in full, `queueName` as a column of it is qualified in a subquery.
RequeueStatements Requeue(const std::string& queue, const std::string& queueName, const std::string& work,
                          const std::string& trackReferenceText, const std::string& rows) {
    const std::string chosen = "(SELECT TrackReference From " + queue + " WHERE " + rows + ")";
    const std::string kept = "(SELECT W.OriginalType From " + work + " W WHERE W.TrackReference = " + queueName +
                             ".TrackReference)";
    return {
        JoinLines({"SELECT UPPER(RTrim(Type)) As Type, count(1) As Total", "  From " + queue, " WHERE " + rows,
                   " GROUP BY UPPER(RTrim(Type))"}),
        JoinLines({
            "SELECT " + trackReferenceText + " As TrackReference, DS.Processed As Status,",
            "       UPPER(RTrim(DS.Type)) As Type, W.OriginalType As OriginalType",
            "  From " + queue + " DS",
            "       left outer join " + work + " W ON W.TrackReference = DS.TrackReference",
            " WHERE DS.TrackReference IN " + chosen,
        }),
        JoinLines({
            "UPDATE " + work,
            "   SET Worker = null,",
            "       Attempts = 0,",
            "       LastError = null",
            " WHERE TrackReference IN " + chosen,
        }),
        JoinLines({
            "UPDATE " + queue,
            "   SET FilePath = CASE WHEN " + kept + " is null THEN FilePath",
            "                       ELSE (SELECT W.OriginalPath From " + work + " W WHERE W.TrackReference = " +
                queueName + ".TrackReference) END,",
            "       Type = COALESCE(" + kept + ", Type),",
            "       Processed = 0",
            " WHERE Processed <> 0 AND " + rows,
        }),
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
    return "TrackReference IN (" + list + ")";
}

std::string RowsOfTypes(const std::string& rows, const std::vector<std::string>& types) {
    std::string list;
    for (const std::string& type : types) list += (list.empty() ? "'" : ", '") + DoubleApostrophes(type) + "'";
    return rows + (list.empty() ? " AND 1 = 0" : " AND UPPER(RTrim(Type)) IN (" + list + ")");
}

RequeueStatements SqlServerRequeue(const std::string& rows) {
    return Requeue("[dbo].[DASearchable]", "[DASearchable]", "[dbo].[DASearchableWork]",
                   "Convert(varchar(12), DS.TrackReference)", rows);
}

RequeueStatements SqliteRequeue(const std::string& rows) {
    return Requeue("DASearchable", "DASearchable", "DASearchableWork", "DS.TrackReference", rows);
}

}  // namespace kvo::driver
