// The SQL Server statement texts as they go to the server.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/queue/QueueStatements.h"

namespace kvo::driver {
namespace {

TEST(QueueStatements, LinesAreJoinedByCrLfWithNothingAfterTheLast) {
    EXPECT_EQ(JoinLines({"a", " b ", ""}), "a\r\n b \r\n");
    EXPECT_EQ(JoinLines({"only"}), "only");
    EXPECT_EQ(SqlServerStatements().pendingCount,
              "SELECT count(1) As Total\r\n  From [dbo].[DASearchable]\r\n WHERE [Processed] = 0");
}

TEST(QueueStatements, PathsHaveEveryApostropheDoubledAndNothingElseEscaped) {
    EXPECT_EQ(DoubleApostrophes("/d/O'Brien''s \"x\" 100%.tif"), "/d/O''Brien''''s \"x\" 100%.tif");
    EXPECT_EQ(SqlServerStatements().alreadySearchable("12", "/d/O'Brien.pdf"),
              "UPDATE [dbo].[DASearchable]\r\n"
              "   SET [TYPE] = 'PDF',\r\n"
              "       [FilePath] = '/d/O''Brien.pdf',\r\n"
              "       [Processed] = 3\r\n"
              " WHERE [TrackReference] = 12");
    EXPECT_EQ(SqlServerStatements().closedMatter("7", "'"),
              "UPDATE [dbo].[CloseDiaryAttachments]\r\n"
              "   SET [TYPE] = 'PDF',\r\n"
              "       [FilePath] = ''''\r\n"
              " WHERE [TrackReference] = 7");
}

TEST(QueueStatements, TheUpdatesPlaceTheSelectedIdUnquoted) {
    const QueueStatements& sql = SqlServerStatements();
    EXPECT_EQ(sql.notFound("00123"), "UPDATE [dbo].[DASearchable]\r\n   SET [Processed] = 2\r\n WHERE [TrackReference] = 00123");
    EXPECT_EQ(sql.noResult("-4"), "UPDATE [dbo].[DASearchable]\r\n   SET [Processed] = 5\r\n WHERE [TrackReference] = -4");
    EXPECT_EQ(sql.openMatter("9", "/p.PDF"),
              "UPDATE [dbo].[DiaryAttachments]\r\n   SET [TYPE] = 'PDF',\r\n       [FilePath] = '/p.PDF'\r\n"
              " WHERE [TrackReference] = 9");
    EXPECT_EQ(sql.newPdf("9", "/p.PDF"),
              "UPDATE [dbo].[DASearchable]\r\n   SET [TYPE] = 'PDF',\r\n       [FilePath] = '/p.PDF',\r\n"
              "       [Processed] = 2\r\n WHERE [TrackReference] = 9");
}

TEST(QueueStatements, TheClosedMattersFillDiffersFromTheOpenOneOnlyInItsHostTable) {
    const QueueStatements& sql = SqlServerStatements();
    std::string fill = sql.fillOpen;
    const std::string open = "\r\n  from [dbo].[DiaryAttachments] DA\r\n";
    const std::string closed = "\r\n  from [dbo].[CloseDiaryAttachments] DA\r\n";
    ASSERT_NE(fill.find(open), std::string::npos);
    fill.replace(fill.find(open), open.size(), closed);
    EXPECT_EQ(fill, sql.fillClosed);
    // 23 lines, the last without a line end.
    EXPECT_EQ(std::count(sql.fillOpen.begin(), sql.fillOpen.end(), '\n'), 22);
    EXPECT_TRUE(sql.fillOpen.ends_with("\r\n where DS.[TrackReference] is null"));
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

TEST(QueueStatements, TheSelectionNamesTheFieldsTheWalkReads) {
    EXPECT_EQ(SqlServerStatements().selection,
              "SELECT IsNull(Convert(varchar(12), TrackReference), '0') As TrackReference,\r\n"
              "       RTrim([FilePath]) As [FilePath],\r\n"
              "       UPPER([Type]) As [Type]\r\n"
              "  From [dbo].[DASearchable]\r\n"
              " WHERE [Processed] = 0");
}

}  // namespace
}  // namespace kvo::driver
