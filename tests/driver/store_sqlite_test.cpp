// The embedded store on real database files.
#include <gtest/gtest.h>

#include "driver/Config.h"
#include "driver/store/SqliteConnection.h"
#include "queue_test_support.h"

namespace kvo::test {
namespace {

using driver::DbError;
using driver::SqliteConnection;

TEST(SqliteStore, AMissingDatabaseFileIsReportedAndNotCreated) {
    ScratchDir dir;
    const std::string file = (dir / "absent.db").string();
    SqliteConnection connection(file);
    try {
        connection.open();
        FAIL() << "opened a missing database";
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find(file), std::string::npos) << error.what();
    }
    EXPECT_FALSE(connection.isOpen());
    EXPECT_FALSE(fs::exists(file));
}

TEST(SqliteStore, AFileThatIsNoDatabaseIsReported) {
    ScratchDir dir;
    const std::string file = (dir / "text.db").string();
    WriteFile(file, std::string(4096, 'x'));
    SqliteConnection connection(file);
    EXPECT_THROW(connection.open(), DbError);
    EXPECT_FALSE(connection.isOpen());
}

TEST(SqliteStore, OpeningSwitchesTheDatabaseToWriteAheadLogging) {
    HostDatabase host;
    auto connection = host.open();
    auto mode = connection->query("PRAGMA journal_mode");
    EXPECT_EQ(mode->field("JOURNAL_MODE"), "wal");
}

TEST(SqliteStore, FieldsAreReadByNameWithoutRegardToCaseAndNullIsToldFromEmpty) {
    HostDatabase host;
    auto connection = host.open();
    connection->execute(
        "INSERT INTO DiaryAttachments VALUES (1, 'pdf', NULL, ''), (2, 'tif', 'Zürich/Straße.tif', 'x')");
    auto rows = connection->query("SELECT TrackReference, FilePath, Description FROM DiaryAttachments ORDER BY 1");
    ASSERT_TRUE(rows->isOpen());
    ASSERT_FALSE(rows->eof());
    EXPECT_EQ(rows->field("trackreference"), "1");
    EXPECT_EQ(rows->field("FILEPATH"), std::nullopt);
    EXPECT_EQ(rows->field("Description"), "");
    EXPECT_THROW(rows->field("Type"), DbError);
    rows->moveNext();
    EXPECT_EQ(rows->field("FilePath"), "Zürich/Straße.tif");
    rows->moveNext();
    EXPECT_TRUE(rows->eof());
    rows->close();
    EXPECT_FALSE(rows->isOpen());
}

TEST(SqliteStore, StatementErrorsCarryTheDatabasesMessage) {
    HostDatabase host;
    auto connection = host.open();
    try {
        connection->execute("UPDATE NoSuchTable SET x = 1");
        FAIL();
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find("NoSuchTable"), std::string::npos) << error.what();
    }
    EXPECT_THROW(connection->query("SELEKT 1"), DbError);
    connection->close();
    EXPECT_FALSE(connection->isOpen());
    EXPECT_THROW(connection->execute("SELECT 1"), DbError);
}

TEST(SqliteStore, TheDatabaseFileIsTakenRelativeToTheDataFolder) {
    driver::CycleConfig config;
    config.dataFolder = "/srv/kvo data";
    config.database = "host.db";
    EXPECT_EQ(driver::SqliteDatabasePath(config), "/srv/kvo data/host.db");
    config.database = "/var/lib/kvo/host.db";
    EXPECT_EQ(driver::SqliteDatabasePath(config), "/var/lib/kvo/host.db");
}

}  // namespace
}  // namespace kvo::test
