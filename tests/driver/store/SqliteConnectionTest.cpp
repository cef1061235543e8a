// The embedded store on real database files.
#include <gtest/gtest.h>

#include "driver/Config.h"
#include "driver/store/SqliteConnection.h"
#include "driver/queue/QueueTestSupport.h"

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

TEST(SqliteStore, NetworkFileSystemsAreToldFromLocalOnes) {
    // Network ones by name; ext4, XFS and tmpfs are local.
    const std::pair<std::uint32_t, std::optional<std::string>> cases[] = {
        {0x6969, "NFS"}, {0x517B, "SMB"}, {0xFE534D42, "SMB2"}, {0xFF534D42, "CIFS"}, {0x00C36400, "Ceph"},
        {0xEF53, std::nullopt}, {0x58465342, std::nullopt}, {0x01021994, std::nullopt},
    };
    for (const auto& [type, name] : cases) EXPECT_EQ(driver::NetworkFileSystemName(type), name) << std::hex << type;
    EXPECT_EQ(driver::NetworkFileSystemName(*driver::StatfsType(ScratchDir().str())), std::nullopt);
}

// Machines sharing one SQLite file over NFS would corrupt the queue: it is never opened there.
TEST(SqliteStore, ADatabaseOnANetworkFileSystemIsRefusedWithTheFix) {
    HostDatabase host;
    SqliteConnection connection(host.file(), SqliteConnection::kDefaultBusyTimeoutMs, driver::DbAccess::ReadWrite,
                                [](const std::string&) { return std::optional<std::uint32_t>(0x6969); });
    try {
        connection.open();
        FAIL() << "opened a database on NFS";
    } catch (const DbError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find(host.file()), std::string::npos) << message;
        for (const char* part : {"network file system (NFS)", "fix: ", "SQL Server"})
            EXPECT_NE(message.find(part), std::string::npos) << message;
    }
    EXPECT_FALSE(connection.isOpen());
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
