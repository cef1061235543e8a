// The statements of the embedded store. They have the effects of the SQL Server set: the same
// columns and status codes, open matters filled before closed ones, types upper-cased and cut to
// three letters, the same claims, and no update ever touches a queue row whose status is no
// longer 0 or whose claim another worker holds.
#include "driver/queue/QueueStatements.h"

namespace kvo::driver {

namespace {

std::string Quoted(std::string_view text) { return "'" + DoubleApostrophes(text) + "'"; }

// The store's UTC clock, in the form ClaimedAt is kept in (text that sorts as time does).
constexpr const char* kNow = "strftime('%Y-%m-%d %H:%M:%f', 'now')";

// Host columns may be blank-padded; SQL Server ignores trailing blanks when it compares and
// stores char(3), so the type is trimmed here before it is compared and stored.
std::string Fill(std::string_view hostTable) {
    return FillStatement(
        {
            "INSERT",
            "  INTO DASearchable",
            "      (TrackReference,",
            "       Type,",
            "       FilePath,",
            "       Processed)",
            "select DA.TrackReference,",
            "       case UPPER(RTRIM(DA.Type))",
        },
        {
            "            ELSE IfNull(substr(UPPER(RTRIM(DA.Type)), 1, 3), '') END As Type,",
            "       DA.FilePath As FilePath,",
            "       case UPPER(RTRIM(DA.Type))",
        },
        {
            "            ELSE 5 END As Processed",
            "  from " + std::string(hostTable) + " DA",
            "       left outer join DASearchable DS",
            "                    ON DS.TrackReference = DA.TrackReference",
            " where DS.TrackReference is null",
            "   and (DA.FilePath is null or length(RTRIM(DA.FilePath)) <= 255)",
        });
}

std::string StatusUpdate(std::initializer_list<std::string_view> setLines, const std::string& id,
                         const std::string& worker) {
    std::string text = "UPDATE DASearchable";
    for (std::string_view line : setLines) (text += "\r\n") += line;
    return text + "\r\n" +
           JoinLines({
               " WHERE TrackReference = " + id,
               "   AND Processed = 0",
               "   AND EXISTS (select 1 from DASearchableWork W",
               "                where W.TrackReference = " + id + " and W.Worker = " + Quoted(worker) + ")",
           });
}

std::string U1(const std::string& id, const std::string& worker) { return StatusUpdate({"   SET Processed = 2"}, id, worker); }

std::string U2(const std::string& id, const std::string& worker, const std::string& path) {
    return StatusUpdate({"   SET Type = 'PDF',", "       FilePath = " + Quoted(path) + ",", "       Processed = 3"}, id,
                        worker);
}

std::string U3(const std::string& id, const std::string& worker) { return StatusUpdate({"   SET Processed = 5"}, id, worker); }

std::string U6(const std::string& id, const std::string& worker, const std::string& path) {
    return StatusUpdate({"   SET Type = 'PDF',", "       FilePath = " + Quoted(path) + ",", "       Processed = 2"}, id,
                        worker);
}

std::string HostUpdate(std::string_view hostTable, const std::string& id, const std::string& original,
                       const std::string& path) {
    return JoinLines({
        "UPDATE " + std::string(hostTable),
        "   SET Type = 'PDF',",
        "       FilePath = " + Quoted(path),
        " WHERE TrackReference = " + id,
        "   AND (RTRIM(FilePath) = " + Quoted(original) + " or RTRIM(FilePath) = " + Quoted(path) + ")",
    });
}

std::string U4(const std::string& id, const std::string& original, const std::string& path) {
    return HostUpdate("DiaryAttachments", id, original, path);
}

std::string U5(const std::string& id, const std::string& original, const std::string& path) {
    return HostUpdate("CloseDiaryAttachments", id, original, path);
}

std::string HostRows(std::string_view table, const std::string& id) {
    return JoinLines({"select count(1) As Total", "  from " + std::string(table), " where TrackReference = " + id});
}

std::string OpenMatterRows(const std::string& id) { return HostRows("DiaryAttachments", id); }
std::string ClosedMatterRows(const std::string& id) { return HostRows("CloseDiaryAttachments", id); }

// One statement, so the choice and the claim happen under the store's single write lock.
std::string ClaimNext(const ClaimTerms& terms) {
    return JoinLines({
        "UPDATE DASearchableWork",
        "   SET Worker = " + Quoted(terms.worker) + ",",
        "       ClaimedAt = " + std::string(kNow),
        " WHERE TrackReference =",
        "       (select W.TrackReference",
        "          from DASearchableWork W",
        "               inner join DASearchable DS",
        "                       ON DS.TrackReference = W.TrackReference",
        "         where DS.Processed = 0",
        "           and (W.Worker is null or W.ClaimedAt < strftime('%Y-%m-%d %H:%M:%f', 'now', '-" +
            std::to_string(terms.expirySeconds) + " seconds'))",
        "           and (W.ClaimedAt is null or W.ClaimedAt < " + Quoted(terms.cycleStart) + ")",
        (terms.after.empty() ? std::string() : "           and W.TrackReference > " + terms.after + "\r\n") +
            "         order by W.TrackReference",
        "         limit 1)",
    });
}

std::string HeldRow(const std::string& worker) {
    return JoinLines({
        "SELECT IfNull(Cast(DS.TrackReference As Text), '0') As TrackReference,",
        "       RTrim(DS.FilePath) As FilePath,",
        "       UPPER(DS.Type) As Type",
        "  From DASearchable DS",
        "       inner join DASearchableWork W",
        "               ON W.TrackReference = DS.TrackReference",
        " WHERE DS.Processed = 0",
        "   AND W.Worker = " + Quoted(worker),
    });
}

std::string WorkersOfHost(const std::string& hostPrefix) {
    return JoinLines({
        "SELECT DISTINCT Worker As Worker",
        "  From DASearchableWork",
        " WHERE substr(Worker, 1, " + std::to_string(hostPrefix.size()) + ") = " + Quoted(hostPrefix),
    });
}

std::string ReleaseWorker(const std::string& worker) {
    return JoinLines({"UPDATE DASearchableWork", "   SET Worker = null", " WHERE Worker = " + Quoted(worker)});
}

std::string ClaimUpdate(std::initializer_list<std::string_view> setLines, const std::string& id,
                        const std::string& worker) {
    std::string text = "UPDATE DASearchableWork";
    for (std::string_view line : setLines) (text += "\r\n") += line;
    return text + "\r\n WHERE TrackReference = " + id + "\r\n   AND Worker = " + Quoted(worker);
}

std::string Release(const std::string& id, const std::string& worker) {
    return ClaimUpdate({"   SET Worker = null"}, id, worker);
}

std::string ReleaseWithReason(const std::string& id, const std::string& worker, const std::string& reason) {
    return ClaimUpdate({"   SET Worker = null,", "       LastError = " + Quoted(reason)}, id, worker);
}

std::string RaiseAttempts(const std::string& id, const std::string& worker, const std::string& error) {
    return ClaimUpdate({"   SET Attempts = Attempts + 1,", "       LastError = " + Quoted(error)}, id, worker);
}

std::string Attempts(const std::string& id) {
    return JoinLines({"SELECT Attempts As Total", "  From DASearchableWork", " WHERE TrackReference = " + id});
}

std::string RenewClaim(const std::string& id, const std::string& worker) {
    return ClaimUpdate({"   SET ClaimedAt = " + std::string(kNow)}, id, worker);
}

std::string RecordOriginal(const std::string& id, const std::string& worker, int pages, const std::string& type,
                           const std::optional<std::string>& path) {
    return ClaimUpdate({"   SET Pages = " + (pages > 0 ? std::to_string(pages) : std::string("null")) + ",",
                        "       OriginalType = " + Quoted(type) + ",",
                        "       OriginalPath = " + (path ? Quoted(*path) : std::string("null"))},
                       id, worker);
}

std::string ColumnCount(const std::string& column) {
    return JoinLines({
        "select count(1) As Total",
        "  from pragma_table_info('DASearchableWork')",
        " where name = " + Quoted(column) + " COLLATE NOCASE",
    });
}

std::string AddColumn(const std::string& column, const std::string& type) {
    return "ALTER TABLE DASearchableWork ADD COLUMN " + column + " " + type;
}

std::string CountOfTables(std::string_view name) {
    return JoinLines({
        "select count(1) As Total",
        "  from sqlite_master",
        " where type = 'table'",
        "   and name = '" + std::string(name) + "' COLLATE NOCASE",
    });
}

}  // namespace

const QueueStatements& SqliteStatements() {
    static const QueueStatements statements{
        // S1
        CountOfTables("DASearchable"),
        // S2
        JoinLines({
            "Create Table",
            "       DASearchable",
            "      (TrackReference          int not null,",
            "       Type                    char(3) not null,",
            "       FilePath                char(255),",
            "       Processed               int)",
        }),
        // S3: the primary key as a unique index of that name (SQLite cannot add a constraint
        // to an existing table).
        JoinLines({
            "Create Unique Index",
            "       PK_DASearchable",
            "    ON DASearchable (TrackReference ASC)",
        }),
        // Paths the fill leaves out
        JoinLines({
            "select count(1) As Total",
            "  from (select TrackReference, FilePath from DiaryAttachments",
            "        union all",
            "        select TrackReference, FilePath from CloseDiaryAttachments) DA",
            "       left outer join DASearchable DS",
            "                    ON DS.TrackReference = DA.TrackReference",
            " where DS.TrackReference is null",
            "   and length(RTRIM(DA.FilePath)) > 255",
        }),
        // The store keeps every path as it is.
        "select 0 As Total",
        // S4, S5
        Fill("DiaryAttachments"),
        Fill("CloseDiaryAttachments"),
        // S6
        JoinLines({
            "SELECT count(1) As Total",
            "  From DASearchable",
            " WHERE Processed = 0",
        }),
        // The side table
        CountOfTables("DASearchableWork"),
        JoinLines({
            "Create Table",
            "       DASearchableWork",
            "      (TrackReference          int not null,",
            "       Worker                  nvarchar(128) null,",
            "       ClaimedAt               datetime null,",
            "       Attempts                int not null,",
            "       LastError               nvarchar(1000) null,",
            "       Pages                   int null,",
            "       OriginalType            char(3) null,",
            "       OriginalPath            nvarchar(255) null,",
            "       CONSTRAINT PK_DASearchableWork",
            "                  PRIMARY KEY (TrackReference))",
        }),
        ColumnCount,
        AddedColumns(AddColumn),
        JoinLines({
            "INSERT OR IGNORE",
            "  INTO DASearchableWork",
            "      (TrackReference,",
            "       Attempts,",
            "       LastError)",
            "select DS.TrackReference,",
            "       0,",
            "       case when DS.Processed = 5",
            "                 and DS.Type not in " + StoredConvertedTypeList(),
            "            then 'the type ''' || RTrim(DS.Type) || ''' is not converted' END",
            "  from DASearchable DS",
            " where not exists (select 1 from DASearchableWork W",
            "                    where W.TrackReference = DS.TrackReference)",
        }),
        std::string("SELECT ") + kNow + " As Now",
        ClaimNext, HeldRow, WorkersOfHost, ReleaseWorker, Release, ReleaseWithReason, RaiseAttempts, Attempts,
        RenewClaim, RecordOriginal, U1, U2, U3, U6, U4, U5, OpenMatterRows, ClosedMatterRows,
    };
    return statements;
}

}  // namespace kvo::driver
