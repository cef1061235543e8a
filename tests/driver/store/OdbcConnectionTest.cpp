// The ODBC store, exercised through unixODBC with Debian's SQLite3 ODBC driver (no SQL Server
// is needed), and the failure of a FreeTDS connection that cannot be made.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "driver/Config.h"
#include "driver/queue/WorkQueue.h"
#include "driver/store/OdbcConnection.h"
#include "driver/store/OdbcConnectionString.h"
#include "driver/queue/QueueTestSupport.h"

namespace kvo::test {
namespace {

using driver::DbError;
using driver::OdbcConnection;

std::unique_ptr<OdbcConnection> OpenOdbc(const std::string& file) {
    auto connection = std::make_unique<OdbcConnection>("Driver=SQLite3;Database=" + file, "local", file, false);
    connection->open();
    return connection;
}

TEST(OdbcStore, ARoundTripKeepsTextNullsAndLongValues) {
    HostDatabase host;
    auto connection = OpenOdbc(host.file());
    ASSERT_TRUE(connection->isOpen());
    const std::string longPath = "/" + std::string(9000, 'p') + "/x.tif";
    connection->execute("INSERT INTO DiaryAttachments VALUES (1, 'pdf', NULL, ''), (2, 'tif', 'Zürich/Straße.tif', 'x'),"
                        " (3, 'tif', '" + longPath + "', NULL)");
    auto rows = connection->query("SELECT TrackReference, FilePath, Description FROM DiaryAttachments ORDER BY 1");
    ASSERT_FALSE(rows->eof());
    EXPECT_EQ(rows->field("TRACKREFERENCE"), "1");
    EXPECT_EQ(rows->field("filepath"), std::nullopt);
    EXPECT_EQ(rows->field("Description"), "");
    EXPECT_THROW(rows->field("Type"), DbError);
    rows->moveNext();
    EXPECT_EQ(rows->field("FilePath"), "Zürich/Straße.tif");
    rows->moveNext();
    EXPECT_EQ(rows->field("FilePath"), longPath);
    EXPECT_EQ(rows->field("Description"), std::nullopt);
    rows->moveNext();
    EXPECT_TRUE(rows->eof());
    rows->close();
    EXPECT_FALSE(rows->isOpen());
}

TEST(OdbcStore, StatementErrorsCarryTheDriversMessage) {
    HostDatabase host;
    auto connection = OpenOdbc(host.file());
    try {
        connection->execute("UPDATE NoSuchTable SET x = 1");
        FAIL();
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find("NoSuchTable"), std::string::npos) << error.what();
    }
    EXPECT_THROW(connection->query("SELEKT 1"), DbError);
    EXPECT_THROW(connection->query("UPDATE DiaryAttachments SET Type = 'X'"), DbError);  // no result set
    connection->close();
    EXPECT_FALSE(connection->isOpen());
    EXPECT_THROW(connection->execute("SELECT 1"), DbError);
}

TEST(OdbcStore, TheQueueRunsThroughOdbcWithTheEmbeddedStatements) {
    HostDatabase host;
    host.open()->execute(
        "INSERT INTO DiaryAttachments VALUES (1, 'tif', '/d/O''Brien.tif', ''), (2, 'png', '/d/2.png', '');"
        "INSERT INTO CloseDiaryAttachments VALUES (3, 'Pdf', NULL);");
    auto selection = OpenOdbc(host.file());
    auto updates = OpenOdbc(host.file());
    driver::WorkQueue queue(*selection, *updates, TestWorker());
    ASSERT_TRUE(queue.setUp());
    EXPECT_EQ(queue.pendingCount(), 2);

    auto first = queue.current();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->trackReference, "1");
    EXPECT_EQ(first->type, "TIF");
    EXPECT_EQ(first->filePath, "/d/O'Brien.tif");
    EXPECT_TRUE(queue.recordNewPdf("1", "/d/O'Brien.tif", "/d/O'Brien.PDF").recorded);
    queue.next();
    auto second = queue.current();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->trackReference, "3");
    EXPECT_EQ(second->filePath, std::nullopt);
    EXPECT_TRUE(queue.markNotFound("3"));
    queue.next();
    EXPECT_FALSE(queue.current());
    queue.closeSelection();

    EXPECT_EQ(AllRows(*host.open(), "SELECT TrackReference AS a, Type AS b, FilePath AS c, Processed AS d "
                                    "FROM DASearchable ORDER BY 1"),
              (std::vector<Row>{{"1", "PDF", "/d/O'Brien.PDF", "2"}, {"2", "PNG", "/d/2.png", "5"},
                                {"3", "PDF", std::nullopt, "2"}}));
    EXPECT_EQ(AllRows(*host.open(), "SELECT FilePath AS a FROM DiaryAttachments WHERE TrackReference = 1"),
              std::vector<Row>{{"/d/O'Brien.PDF"}});
}

TEST(OdbcStore, AServerThatCannotBeReachedIsReportedWithoutThePassword) {
    driver::CycleConfig config;
    config.server = "127.0.0.1,1";
    config.database = "Practice";
    config.login = driver::LoginFrom("", "", "", std::nullopt);
    config.connectionString = driver::BuildConnectionString(config.server, config.database, config.login);
    auto connection = driver::MakeConnection(config);
    ASSERT_TRUE(connection->isSqlServer());
    const auto started = std::chrono::steady_clock::now();
    try {
        connection->open();
        FAIL() << "connected to a closed port";
    } catch (const DbError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("127.0.0.1,1"), std::string::npos) << message;
        EXPECT_NE(message.find("Practice"), std::string::npos) << message;
        EXPECT_EQ(message.find("7owl3"), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
    EXPECT_FALSE(connection->isOpen());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(40));
}

TEST(OdbcStore, AServerThatAcceptsButNeverAnswersIsGivenUpAfterTheLoginTimeout) {
    // A listening socket that nobody serves: the connection is made, the login never answered.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string server = "127.0.0.1," + std::to_string(ntohs(address.sin_port));

    const auto target = driver::TranslateConnectionString(
        driver::BuildConnectionString(server, "Practice", driver::LoginFrom("", "", "", std::nullopt)), "");
    OdbcConnection connection(target.connectionString, target.server, target.database, true, 2);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(connection.open(), DbError);
    const auto waited = std::chrono::steady_clock::now() - started;
    close(listener);
    EXPECT_GE(waited, std::chrono::milliseconds(1500));
    EXPECT_LT(waited, std::chrono::seconds(20));
    EXPECT_FALSE(connection.isOpen());
}

TEST(OdbcStore, AnUnknownOdbcDriverIsReported) {
    OdbcConnection connection("Driver={No Such Driver};Server=x", "x", "db", true);
    EXPECT_THROW(connection.open(), DbError);
    EXPECT_FALSE(connection.isOpen());
}

}  // namespace
}  // namespace kvo::test
