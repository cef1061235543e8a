// The SQL Server statement texts as they go to the server.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/queue/QueueStatements.h"
#include "driver/queue/RequeueStatements.h"

namespace kvo::driver {
namespace {

// The fill's last lines: a path is queued only when FilePath gives it back unchanged.
const std::string kSurvivesFilePath =
    "\r\n   and (DA.[FilePath] is null\r\n"
    "        or Convert(varbinary(510), RTrim(Convert(nvarchar(255), DA.[FilePath])))\r\n"
    "         = Convert(varbinary(510), RTrim(Convert(nvarchar(255), Convert(char(255), DA.[FilePath] COLLATE "
    "DATABASE_DEFAULT)))))";

TEST(QueueStatements, LinesAreJoinedByCrLfWithNothingAfterTheLast) {
    EXPECT_EQ(JoinLines({"a", " b ", ""}), "a\r\n b \r\n");
    EXPECT_EQ(JoinLines({"only"}), "only");
    EXPECT_EQ(SqlServerStatements().pendingCount,
              "SELECT count(1) As Total\r\n  From [dbo].[DASearchable]\r\n WHERE [Processed] = 0");
}

TEST(QueueStatements, PathsAreUnicodeLiteralsWithEveryApostropheDoubledAndNothingElseEscaped) {
    EXPECT_EQ(DoubleApostrophes("/d/O'Brien''s \"x\" 100%.tif"), "/d/O''Brien''''s \"x\" 100%.tif");
    EXPECT_EQ(SqlServerStatements().alreadySearchable("12", "host:7:0", "/d/O'Brien Zoë.pdf"),
              "UPDATE [dbo].[DASearchable]\r\n"
              "   SET [TYPE] = 'PDF',\r\n"
              "       [FilePath] = N'/d/O''Brien Zoë.pdf',\r\n"
              "       [Processed] = 3\r\n"
              " WHERE [TrackReference] = 12\r\n"
              "   AND [Processed] = 0\r\n"
              "   AND EXISTS (select 1 from [dbo].[DASearchableWork] W\r\n"
              "                where W.[TrackReference] = 12 and W.[Worker] = N'host:7:0')");
    EXPECT_EQ(SqlServerStatements().closedMatter("7", "D:\\O'B.tif", "'"),
              "UPDATE [dbo].[CloseDiaryAttachments]\r\n"
              "   SET [TYPE] = 'PDF',\r\n"
              "       [FilePath] = N''''\r\n"
              " WHERE [TrackReference] = 7\r\n"
              "   AND ([FilePath] = N'D:\\O''B.tif' or [FilePath] = N'''')");
}

// Every status update carries the same guard; the texts differ only in what they set.
TEST(QueueStatements, StatusUpdatesMoveOnlyAPendingRowTheWorkerHolds) {
    const QueueStatements& sql = SqlServerStatements();
    const std::string guard =
        "\r\n WHERE [TrackReference] = 9\r\n   AND [Processed] = 0\r\n"
        "   AND EXISTS (select 1 from [dbo].[DASearchableWork] W\r\n"
        "                where W.[TrackReference] = 9 and W.[Worker] = N'h:1:0')";
    EXPECT_EQ(sql.notFound("9", "h:1:0"), "UPDATE [dbo].[DASearchable]\r\n   SET [Processed] = 2" + guard);
    EXPECT_EQ(sql.noResult("9", "h:1:0"), "UPDATE [dbo].[DASearchable]\r\n   SET [Processed] = 5" + guard);
    EXPECT_EQ(sql.newPdf("9", "h:1:0", "/p.PDF"),
              "UPDATE [dbo].[DASearchable]\r\n   SET [TYPE] = 'PDF',\r\n       [FilePath] = N'/p.PDF',\r\n"
              "       [Processed] = 2" + guard);
}

TEST(QueueStatements, TheClaimsAreWordForWord) {
    const QueueStatements& sql = SqlServerStatements();
    EXPECT_EQ(sql.claimNext({"scan-01:4711:0", 180, "2026-12-08 09:00:00.000", ""}),
              "WITH [Next] As\r\n"
              "     (SELECT TOP (1) W.[Worker], W.[ClaimedAt]\r\n"
              "        FROM [dbo].[DASearchableWork] W WITH (UPDLOCK, READPAST, ROWLOCK)\r\n"
              "             inner join [dbo].[DASearchable] DS\r\n"
              "                     ON DS.[TrackReference] = W.[TrackReference]\r\n"
              "       WHERE DS.[Processed] = 0\r\n"
              "         AND (W.[Worker] is null or W.[ClaimedAt] < DATEADD(second, -180, GETUTCDATE()))\r\n"
              "         AND (W.[ClaimedAt] is null or W.[ClaimedAt] < Convert(datetime, '2026-12-08 09:00:00.000', 121))\r\n"
              "       ORDER BY W.[TrackReference])\r\n"
              "UPDATE [Next]\r\n"
              "   SET [Worker] = N'scan-01:4711:0',\r\n"
              "       [ClaimedAt] = GETUTCDATE()");
    // Later claims of the cycle go on after the row claimed last.
    const std::string later = sql.claimNext({"w", 60, "2026-12-08 09:00:00.000", "-12"});
    EXPECT_NE(later.find(", 121))\r\n         AND W.[TrackReference] > -12\r\n       ORDER BY"), std::string::npos) << later;
    EXPECT_EQ(sql.heldRow("w"),
              "SELECT IsNull(Convert(varchar(12), DS.[TrackReference]), '0') As TrackReference,\r\n"
              "       RTrim(DS.[FilePath]) As [FilePath],\r\n"
              "       UPPER(DS.[Type]) As [Type]\r\n"
              "  From [dbo].[DASearchable] DS\r\n"
              "       inner join [dbo].[DASearchableWork] W\r\n"
              "               ON W.[TrackReference] = DS.[TrackReference]\r\n"
              " WHERE DS.[Processed] = 0\r\n"
              "   AND W.[Worker] = N'w'");
    EXPECT_EQ(sql.releaseWithReason("9", "w", "it's gone"),
              "UPDATE [dbo].[DASearchableWork]\r\n   SET [Worker] = null,\r\n       [LastError] = N'it''s gone'\r\n"
              " WHERE [TrackReference] = 9\r\n   AND [Worker] = N'w'");
    EXPECT_EQ(sql.raiseAttempts("9", "w", "e"),
              "UPDATE [dbo].[DASearchableWork]\r\n   SET [Attempts] = [Attempts] + 1,\r\n       [LastError] = N'e'\r\n"
              " WHERE [TrackReference] = 9\r\n   AND [Worker] = N'w'");
    EXPECT_EQ(sql.workersOfHost("scan-01:"),
              "SELECT DISTINCT [Worker] As Worker\r\n  From [dbo].[DASearchableWork]\r\n"
              " WHERE LEFT([Worker], 8) = N'scan-01:'");
    EXPECT_EQ(sql.createWork,
              "Create Table\r\n"
              "       [dbo].[DASearchableWork]\r\n"
              "      ([TrackReference]          int not null,\r\n"
              "       [Worker]                  nvarchar(128) null,\r\n"
              "       [ClaimedAt]               datetime null,\r\n"
              "       [Attempts]                int not null,\r\n"
              "       [LastError]               nvarchar(1000) null,\r\n"
              "       [Pages]                   int null,\r\n"
              "       [OriginalType]            char(3) null,\r\n"
              "       [OriginalPath]            nvarchar(255) null,\r\n"
              "       CONSTRAINT [PK_DASearchableWork]\r\n"
              "                  PRIMARY KEY CLUSTERED ([TrackReference] ASC))");
    EXPECT_EQ(sql.addedColumns.back().add, "ALTER TABLE [dbo].[DASearchableWork] ADD [OriginalPath] nvarchar(255) null");
    EXPECT_EQ(sql.columnCount("Pages"),
              "select count(1) As Total\r\n  from sys.columns\r\n"
              " where [object_id] = OBJECT_ID(N'[dbo].[DASearchableWork]')\r\n   and [name] = N'Pages'");
    EXPECT_EQ(sql.renewClaim("9", "w"),
              "UPDATE [dbo].[DASearchableWork]\r\n   SET [ClaimedAt] = GETUTCDATE()\r\n WHERE [TrackReference] = 9\r\n"
              "   AND [Worker] = N'w'");
    EXPECT_EQ(sql.recordOriginal("9", "w", 12, "TIF", "D:\\O'B.tif"),
              "UPDATE [dbo].[DASearchableWork]\r\n   SET [Pages] = 12,\r\n       [OriginalType] = N'TIF',\r\n"
              "       [OriginalPath] = N'D:\\O''B.tif'\r\n WHERE [TrackReference] = 9\r\n   AND [Worker] = N'w'");
    EXPECT_NE(sql.recordOriginal("9", "w", 0, "TIF", std::nullopt)
                  .find("[Pages] = null,\r\n       [OriginalType] = N'TIF',\r\n       [OriginalPath] = null\r\n"),
              std::string::npos);
}

TEST(QueueStatements, ADestinationFitsWhenItHasAtMost255Characters) {
    EXPECT_TRUE(FitsFilePath(std::string(255, 'a')));
    EXPECT_FALSE(FitsFilePath(std::string(256, 'a')));
    std::string accented;
    for (int i = 0; i < 255; ++i) accented += "é";  // two bytes each, one character
    EXPECT_TRUE(FitsFilePath(accented));
    EXPECT_FALSE(FitsFilePath(accented + "x"));
}

TEST(QueueStatements, TheClosedMattersFillDiffersFromTheOpenOneOnlyInItsHostTable) {
    const QueueStatements& sql = SqlServerStatements();
    std::string fill = sql.fillOpen;
    const std::string open = "\r\n  from [dbo].[DiaryAttachments] DA\r\n";
    const std::string closed = "\r\n  from [dbo].[CloseDiaryAttachments] DA\r\n";
    ASSERT_NE(fill.find(open), std::string::npos);
    fill.replace(fill.find(open), open.size(), closed);
    EXPECT_EQ(fill, sql.fillClosed);
    // 30 lines, the last without a line end; the type is stored in three letters, and a path
    // the column would not hold unchanged is left out.
    EXPECT_EQ(std::count(sql.fillOpen.begin(), sql.fillOpen.end(), '\n'), 29);
    EXPECT_NE(sql.fillOpen.find("\r\nselect DA.[TrackReference],\r\n"
                                "       case UPPER(RTrim(DA.[Type]))\r\n"
                                "            WHEN 'TIFF' Then 'TIF'\r\n"
                                "            WHEN 'JPEG' Then 'JPG'\r\n"
                                "            ELSE IsNull(LEFT(UPPER(RTrim(DA.[Type])), 3), '') END As [Type],\r\n"),
              std::string::npos);
    EXPECT_TRUE(sql.fillOpen.ends_with("\r\n where DS.[TrackReference] is null\r\n"
                                       "   and (DA.[FilePath] is null or LEN(DA.[FilePath]) <= 255)" +
                                       kSurvivesFilePath));
}

// SQL Server keeps FilePath as char(255) in the database's code page, where a letter outside it
// becomes "?": such a path would name another file, or none. The fill leaves it out and the
// cycle counts it, comparing the path with what the column gives back as Unicode bytes, so that
// neither case nor accents are folded.
TEST(QueueStatements, AHostPathTheQueueWouldChangeIsLeftOutAndCounted) {
    const QueueStatements& sql = SqlServerStatements();
    EXPECT_EQ(sql.unstorablePaths,
              "select count(1) As Total\r\n"
              "  from (select [TrackReference], [FilePath] from [dbo].[DiaryAttachments]\r\n"
              "        union all\r\n"
              "        select [TrackReference], [FilePath] from [dbo].[CloseDiaryAttachments]) DA\r\n"
              "       left outer join [dbo].[DASearchable] DS\r\n"
              "                    ON DS.[TrackReference] = DA.[TrackReference]\r\n"
              " where DS.[TrackReference] is null\r\n"
              "   and LEN(DA.[FilePath]) <= 255\r\n"
              "   and Convert(varbinary(510), RTrim(Convert(nvarchar(255), DA.[FilePath])))\r\n"
              "    <> Convert(varbinary(510), RTrim(Convert(nvarchar(255), Convert(char(255), DA.[FilePath] COLLATE "
              "DATABASE_DEFAULT))))");
    EXPECT_TRUE(sql.fillClosed.ends_with(kSurvivesFilePath));
}

// A requeued row gets back the type and path its side row kept, where it kept them.
TEST(QueueStatements, TheRequeueRestoresTheOriginalsWordForWord) {
    const RequeueStatements sql = SqlServerRequeue(RowsOfTypes(RowsOfStatus(5), {"TIF", "O'K"}));
    EXPECT_EQ(sql.requeue,
              "UPDATE [dbo].[DASearchable]\r\n"
              "   SET FilePath = CASE WHEN (SELECT W.OriginalType From [dbo].[DASearchableWork] W WHERE W.TrackReference = "
              "[DASearchable].TrackReference) is null THEN FilePath\r\n"
              "                       ELSE (SELECT W.OriginalPath From [dbo].[DASearchableWork] W WHERE "
              "W.TrackReference = [DASearchable].TrackReference) END,\r\n"
              "       Type = COALESCE((SELECT W.OriginalType From [dbo].[DASearchableWork] W WHERE W.TrackReference = "
              "[DASearchable].TrackReference), Type),\r\n"
              "       Processed = 0\r\n"
              " WHERE Processed <> 0 AND Processed = 5 AND UPPER(RTrim(Type)) IN ('TIF', 'O''K')");
    EXPECT_TRUE(SqlServerRequeue(RowsNamed({12, 14})).rowStates.ends_with(
        " WHERE DS.TrackReference IN (SELECT TrackReference From [dbo].[DASearchable] WHERE TrackReference IN (12, 14))"));
    EXPECT_EQ(RowsOfTypes(RowsOfStatus(2), {}), "Processed = 2 AND Type <> 'PDF' AND 1 = 0");
}

// The set-up statements, every line with its leading blanks.
TEST(QueueStatements, TheSetUpStatementsAreWordForWord) {
    const QueueStatements& sql = SqlServerStatements();
    EXPECT_EQ(sql.existence,
              "select count(1) As Total\r\n"
              "  from sysusers SU\r\n"
              "       inner join sysobjects SO\r\n"
              "               on SO.[uid] = SU.[uid]\r\n"
              "              and SO.[xtype] = 'U'\r\n"
              "              and SO.[name] = 'DASearchable'\r\n"
              " where SU.[name] = 'dbo'");
    EXPECT_EQ(sql.createTable,
              "Create Table\r\n"
              "       [dbo].[DASearchable]\r\n"
              "      ([TrackReference]          int not null,\r\n"
              "       [Type]                    char(3) not null,\r\n"
              "       [FilePath]                char(255),\r\n"
              "       [Processed]               int)");
    EXPECT_EQ(sql.primaryKey,
              "Alter Table\r\n"
              "      [dbo].[DASearchable]\r\n"
              "  ADD CONSTRAINT [PK_DASearchable]\r\n"
              "                 PRIMARY KEY CLUSTERED\r\n"
              "                ([TrackReference] ASC)\r\n"
              "  ON [PRIMARY]");
}

}  // namespace
}  // namespace kvo::driver
