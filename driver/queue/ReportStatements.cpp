// A claim is released when a row's outcome is recorded, but its ClaimedAt stays: it is when the
// row was last taken up, which dates outcomes closely enough for a rate and an order.
#include "driver/queue/ReportStatements.h"

#include "driver/queue/QueueStatements.h"

namespace kvo::driver {

const ReportStatements& SqlServerReportStatements() {
    static const ReportStatements statements{
        JoinLines({
            "SELECT [Processed] As Status, count(1) As Total",
            "  From [dbo].[DASearchable]",
            " GROUP BY [Processed]",
            " ORDER BY [Processed]",
        }),
        JoinLines({
            "SELECT W.[Worker] As Worker, Convert(varchar(12), W.[TrackReference]) As TrackReference,",
            "       RTrim(DS.[FilePath]) As FilePath, Convert(varchar(19), W.[ClaimedAt], 120) As ClaimedAt",
            "  From [dbo].[DASearchableWork] W",
            "       inner join [dbo].[DASearchable] DS ON DS.[TrackReference] = W.[TrackReference]",
            " WHERE W.[Worker] is not null AND DS.[Processed] = 0",
            " ORDER BY W.[ClaimedAt], W.[TrackReference]",
        }),
        JoinLines({
            "SELECT count(1) As Total, IsNull(Sum(CASE WHEN DS.[Processed] = 2 THEN W.[Pages] END), 0) As Pages",
            "  From [dbo].[DASearchableWork] W",
            "       inner join [dbo].[DASearchable] DS ON DS.[TrackReference] = W.[TrackReference]",
            " WHERE DS.[Processed] <> 0 AND W.[ClaimedAt] >= DATEADD(hour, -1, GETUTCDATE())",
        }),
        JoinLines({
            "SELECT TOP 20 Convert(varchar(12), DS.[TrackReference]) As TrackReference,",
            "       RTrim(DS.[FilePath]) As FilePath, W.[LastError] As LastError",
            "  From [dbo].[DASearchable] DS",
            "       left outer join [dbo].[DASearchableWork] W ON W.[TrackReference] = DS.[TrackReference]",
            " WHERE DS.[Processed] = 5",
            " ORDER BY W.[ClaimedAt] DESC, DS.[TrackReference] DESC",
        }),
    };
    return statements;
}

const ReportStatements& SqliteReportStatements() {
    static const ReportStatements statements{
        JoinLines({
            "SELECT Processed As Status, count(1) As Total",
            "  From DASearchable",
            " GROUP BY Processed",
            " ORDER BY Processed",
        }),
        JoinLines({
            "SELECT W.Worker As Worker, W.TrackReference As TrackReference,",
            "       RTrim(DS.FilePath) As FilePath, substr(W.ClaimedAt, 1, 19) As ClaimedAt",
            "  From DASearchableWork W",
            "       inner join DASearchable DS ON DS.TrackReference = W.TrackReference",
            " WHERE W.Worker is not null AND DS.Processed = 0",
            " ORDER BY W.ClaimedAt, W.TrackReference",
        }),
        JoinLines({
            "SELECT count(1) As Total, IfNull(Sum(CASE WHEN DS.Processed = 2 THEN W.Pages END), 0) As Pages",
            "  From DASearchableWork W",
            "       inner join DASearchable DS ON DS.TrackReference = W.TrackReference",
            " WHERE DS.Processed <> 0 AND W.ClaimedAt >= strftime('%Y-%m-%d %H:%M:%f', 'now', '-1 hour')",
        }),
        JoinLines({
            "SELECT DS.TrackReference As TrackReference,",
            "       RTrim(DS.FilePath) As FilePath, W.LastError As LastError",
            "  From DASearchable DS",
            "       left outer join DASearchableWork W ON W.TrackReference = DS.TrackReference",
            " WHERE DS.Processed = 5",
            " ORDER BY W.ClaimedAt DESC, DS.TrackReference DESC",
            " LIMIT 20",
        }),
    };
    return statements;
}

}  // namespace kvo::driver
