// The statements sent to SQL Server, each line exactly as the host database expects it. They
// are plain T-SQL that SQL Server 2008 and later run. Every text value is sent as a Unicode
// literal (N'…'), so a path with letters outside the server's code page is not turned into "?".
#include "driver/queue/QueueStatements.h"

namespace kvo::driver {

namespace {

std::string N(std::string_view text) { return "N'" + DoubleApostrophes(text) + "'"; }

std::string CountOfTables(std::string_view name) {
    return JoinLines({
        "select count(1) As Total",
        "  from sysusers SU",
        "       inner join sysobjects SO",
        "               on SO.[uid] = SU.[uid]",
        "              and SO.[xtype] = 'U'",
        "              and SO.[name] = '" + std::string(name) + "'",
        " where SU.[name] = 'dbo'",
    });
}

// A host path as it is and as the queue's FilePath column (char(255), in the database's code
// page) would give it back, each as the bytes of its Unicode text, so that the comparison folds
// neither case nor accents; the blanks the column pads with are trimmed. A path with a letter
// outside that code page comes back with "?" in its place.
constexpr const char* kPathAsItIs = "Convert(varbinary(510), RTrim(Convert(nvarchar(255), DA.[FilePath])))";
constexpr const char* kPathAsQueued =
    "Convert(varbinary(510), RTrim(Convert(nvarchar(255), Convert(char(255), DA.[FilePath] COLLATE DATABASE_DEFAULT))))";

// The count of the host rows not queued yet whose path meets the conditions (lines "   and …").
std::string HostRowsLeftOut(std::initializer_list<std::string_view> pathConditions) {
    std::string text = JoinLines({
        "select count(1) As Total",
        "  from (select [TrackReference], [FilePath] from [dbo].[DiaryAttachments]",
        "        union all",
        "        select [TrackReference], [FilePath] from [dbo].[CloseDiaryAttachments]) DA",
        "       left outer join [dbo].[DASearchable] DS",
        "                    ON DS.[TrackReference] = DA.[TrackReference]",
        " where DS.[TrackReference] is null",
    });
    for (std::string_view line : pathConditions) (text += "\r\n") += line;
    return text;
}

// S4 and S5 differ only in the host table of line 23. The type is stored in the three letters
// the column holds, and a path the column would not hold unchanged (too wide, or with letters
// outside its code page) is left out, so that one host row never makes the whole fill fail
// and no row is queued under a path that names another file or none.
std::string Fill(std::string_view hostLine) {
    return FillStatement(
        {
            "INSERT",
            "  INTO [dbo].[DASearchable]",
            "      ([TrackReference],",
            "       [Type],",
            "       [FilePath],",
            "       [Processed])",
            "select DA.[TrackReference],",
            "       case UPPER(RTrim(DA.[Type]))",
        },
        {
            "            ELSE IsNull(LEFT(UPPER(RTrim(DA.[Type])), 3), '') END As [Type],",
            "       DA.[FilePath] As [FilePath],",
            "       case UPPER(DA.[Type])",
        },
        {
            "            ELSE 5 END As [Processed]",
            std::string(hostLine),
            "       left outer join [dbo].[DASearchable] DS",
            "                    ON DS.[TrackReference] = DA.[TrackReference]",
            " where DS.[TrackReference] is null",
            "   and (DA.[FilePath] is null or LEN(DA.[FilePath]) <= 255)",
            "   and (DA.[FilePath] is null",
            "        or " + std::string(kPathAsItIs),
            "         = " + std::string(kPathAsQueued) + ")",
        });
}

// The condition every status update adds: the row is still to do and this worker holds it.
std::string StatusUpdate(std::initializer_list<std::string_view> setLines, const std::string& id,
                         const std::string& worker) {
    std::string text = "UPDATE [dbo].[DASearchable]";
    for (std::string_view line : setLines) (text += "\r\n") += line;
    return text + "\r\n" +
           JoinLines({
               " WHERE [TrackReference] = " + id,
               "   AND [Processed] = 0",
               "   AND EXISTS (select 1 from [dbo].[DASearchableWork] W",
               "                where W.[TrackReference] = " + id + " and W.[Worker] = " + N(worker) + ")",
           });
}

std::string U1(const std::string& id, const std::string& worker) {
    return StatusUpdate({"   SET [Processed] = 2"}, id, worker);
}

std::string U2(const std::string& id, const std::string& worker, const std::string& path) {
    return StatusUpdate({"   SET [TYPE] = 'PDF',", "       [FilePath] = " + N(path) + ",", "       [Processed] = 3"}, id,
                        worker);
}

std::string U3(const std::string& id, const std::string& worker) {
    return StatusUpdate({"   SET [Processed] = 5"}, id, worker);
}

std::string U6(const std::string& id, const std::string& worker, const std::string& path) {
    return StatusUpdate({"   SET [TYPE] = 'PDF',", "       [FilePath] = " + N(path) + ",", "       [Processed] = 2"}, id,
                        worker);
}

// A user who pointed the host row elsewhere meanwhile keeps that change.
std::string HostUpdate(std::string_view line1, const std::string& id, const std::string& original,
                       const std::string& path) {
    return JoinLines({
        line1,
        "   SET [TYPE] = 'PDF',",
        "       [FilePath] = " + N(path),
        " WHERE [TrackReference] = " + id,
        "   AND ([FilePath] = " + N(original) + " or [FilePath] = " + N(path) + ")",
    });
}

std::string U4(const std::string& id, const std::string& original, const std::string& path) {
    return HostUpdate("UPDATE [dbo].[DiaryAttachments]", id, original, path);
}

std::string U5(const std::string& id, const std::string& original, const std::string& path) {
    return HostUpdate("UPDATE [dbo].[CloseDiaryAttachments]", id, original, path);
}

std::string HostRows(std::string_view table, const std::string& id) {
    return JoinLines({"select count(1) As Total", "  from [dbo].[" + std::string(table) + "]",
                      " where [TrackReference] = " + id});
}

std::string OpenMatterRows(const std::string& id) { return HostRows("DiaryAttachments", id); }
std::string ClosedMatterRows(const std::string& id) { return HostRows("CloseDiaryAttachments", id); }

// The next row to do that nobody holds (or whose claim has expired) and that was not tried in
// this cycle. READPAST skips rows another worker is claiming at this moment, UPDLOCK keeps two
// workers from taking the same row.
std::string ClaimNext(const ClaimTerms& terms) {
    return JoinLines({
        "WITH [Next] As",
        "     (SELECT TOP (1) W.[Worker], W.[ClaimedAt]",
        "        FROM [dbo].[DASearchableWork] W WITH (UPDLOCK, READPAST, ROWLOCK)",
        "             inner join [dbo].[DASearchable] DS",
        "                     ON DS.[TrackReference] = W.[TrackReference]",
        "       WHERE DS.[Processed] = 0",
        "         AND (W.[Worker] is null or W.[ClaimedAt] < DATEADD(second, -" +
            std::to_string(terms.expirySeconds) + ", GETUTCDATE()))",
        "         AND (W.[ClaimedAt] is null or W.[ClaimedAt] < Convert(datetime, '" + terms.cycleStart + "', 121))",
        (terms.after.empty() ? std::string() : "         AND W.[TrackReference] > " + terms.after + "\r\n") +
            "       ORDER BY W.[TrackReference])",
        "UPDATE [Next]",
        "   SET [Worker] = " + N(terms.worker) + ",",
        "       [ClaimedAt] = GETUTCDATE()",
    });
}

std::string HeldRow(const std::string& worker) {
    return JoinLines({
        "SELECT IsNull(Convert(varchar(12), DS.[TrackReference]), '0') As TrackReference,",
        "       RTrim(DS.[FilePath]) As [FilePath],",
        "       UPPER(DS.[Type]) As [Type]",
        "  From [dbo].[DASearchable] DS",
        "       inner join [dbo].[DASearchableWork] W",
        "               ON W.[TrackReference] = DS.[TrackReference]",
        " WHERE DS.[Processed] = 0",
        "   AND W.[Worker] = " + N(worker),
    });
}

std::string WorkersOfHost(const std::string& hostPrefix) {
    return JoinLines({
        "SELECT DISTINCT [Worker] As Worker",
        "  From [dbo].[DASearchableWork]",
        " WHERE LEFT([Worker], " + std::to_string(hostPrefix.size()) + ") = " + N(hostPrefix),
    });
}

std::string ReleaseWorker(const std::string& worker) {
    return JoinLines({"UPDATE [dbo].[DASearchableWork]", "   SET [Worker] = null", " WHERE [Worker] = " + N(worker)});
}

// A change of the side row `id` while `worker` holds it.
std::string ClaimUpdate(std::initializer_list<std::string_view> setLines, const std::string& id,
                        const std::string& worker) {
    std::string text = "UPDATE [dbo].[DASearchableWork]";
    for (std::string_view line : setLines) (text += "\r\n") += line;
    return text + "\r\n WHERE [TrackReference] = " + id + "\r\n   AND [Worker] = " + N(worker);
}

std::string Release(const std::string& id, const std::string& worker) {
    return ClaimUpdate({"   SET [Worker] = null"}, id, worker);
}

std::string ReleaseWithReason(const std::string& id, const std::string& worker, const std::string& reason) {
    return ClaimUpdate({"   SET [Worker] = null,", "       [LastError] = " + N(reason)}, id, worker);
}

std::string RaiseAttempts(const std::string& id, const std::string& worker, const std::string& error) {
    return ClaimUpdate({"   SET [Attempts] = [Attempts] + 1,", "       [LastError] = " + N(error)}, id, worker);
}

std::string Attempts(const std::string& id) {
    return JoinLines({"SELECT [Attempts] As Total", "  From [dbo].[DASearchableWork]", " WHERE [TrackReference] = " + id});
}

std::string RenewClaim(const std::string& id, const std::string& worker) {
    return ClaimUpdate({"   SET [ClaimedAt] = GETUTCDATE()"}, id, worker);
}

std::string RecordOriginal(const std::string& id, const std::string& worker, int pages, const std::string& type,
                           const std::optional<std::string>& path) {
    return ClaimUpdate({"   SET [Pages] = " + (pages > 0 ? std::to_string(pages) : std::string("null")) + ",",
                        "       [OriginalType] = " + N(type) + ",",
                        "       [OriginalPath] = " + (path ? N(*path) : std::string("null"))},
                       id, worker);
}

std::string ColumnCount(const std::string& column) {
    return JoinLines({
        "select count(1) As Total",
        "  from sys.columns",
        " where [object_id] = OBJECT_ID(N'[dbo].[DASearchableWork]')",
        "   and [name] = " + N(column),
    });
}

std::string AddColumn(const std::string& column, const std::string& type) {
    return "ALTER TABLE [dbo].[DASearchableWork] ADD [" + column + "] " + type;
}

}  // namespace

const QueueStatements& SqlServerStatements() {
    static const QueueStatements statements{
        // S1
        CountOfTables("DASearchable"),
        // S2
        JoinLines({
            "Create Table",
            "       [dbo].[DASearchable]",
            "      ([TrackReference]          int not null,",
            "       [Type]                    char(3) not null,",
            "       [FilePath]                char(255),",
            "       [Processed]               int)",
        }),
        // S3
        JoinLines({
            "Alter Table",
            "      [dbo].[DASearchable]",
            "  ADD CONSTRAINT [PK_DASearchable]",
            "                 PRIMARY KEY CLUSTERED",
            "                ([TrackReference] ASC)",
            "  ON [PRIMARY]",
        }),
        // Paths the fill leaves out: too wide, or changed by the column
        HostRowsLeftOut({"   and LEN(DA.[FilePath]) > 255"}),
        HostRowsLeftOut({"   and LEN(DA.[FilePath]) <= 255", "   and " + std::string(kPathAsItIs),
                         "    <> " + std::string(kPathAsQueued)}),
        // S4, S5
        Fill("  from [dbo].[DiaryAttachments] DA"),
        Fill("  from [dbo].[CloseDiaryAttachments] DA"),
        // S6
        JoinLines({
            "SELECT count(1) As Total",
            "  From [dbo].[DASearchable]",
            " WHERE [Processed] = 0",
        }),
        // The side table
        CountOfTables("DASearchableWork"),
        JoinLines({
            "Create Table",
            "       [dbo].[DASearchableWork]",
            "      ([TrackReference]          int not null,",
            "       [Worker]                  nvarchar(128) null,",
            "       [ClaimedAt]               datetime null,",
            "       [Attempts]                int not null,",
            "       [LastError]               nvarchar(1000) null,",
            "       [Pages]                   int null,",
            "       [OriginalType]            char(3) null,",
            "       [OriginalPath]            nvarchar(255) null,",
            "       CONSTRAINT [PK_DASearchableWork]",
            "                  PRIMARY KEY CLUSTERED ([TrackReference] ASC))",
        }),
        ColumnCount,
        AddedColumns(AddColumn),
        // HOLDLOCK keeps two drivers from adding the same side row at the same time.
        JoinLines({
            "INSERT",
            "  INTO [dbo].[DASearchableWork]",
            "      ([TrackReference],",
            "       [Attempts],",
            "       [LastError])",
            "select DS.[TrackReference],",
            "       0,",
            "       case when DS.[Processed] = 5",
            "                 and DS.[Type] not in " + StoredConvertedTypeList(),
            "            then N'the type ''' + RTrim(DS.[Type]) + N''' is not converted' END",
            "  from [dbo].[DASearchable] DS",
            " where not exists (select 1 from [dbo].[DASearchableWork] W WITH (UPDLOCK, HOLDLOCK)",
            "                    where W.[TrackReference] = DS.[TrackReference])",
        }),
        "SELECT Convert(varchar(23), GETUTCDATE(), 121) As Now",
        ClaimNext, HeldRow, WorkersOfHost, ReleaseWorker, Release, ReleaseWithReason, RaiseAttempts, Attempts,
        RenewClaim, RecordOriginal, U1, U2, U3, U6, U4, U5, OpenMatterRows, ClosedMatterRows,
    };
    return statements;
}

}  // namespace kvo::driver
