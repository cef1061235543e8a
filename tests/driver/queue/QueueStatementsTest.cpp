// The statements of each store, word for word: every statement, with fixed values where it takes
// some, is written out and compared whole with the store's expected file, so that any change to
// a text shows as a difference there. What the statements do is tested by running the embedded
// store's set (QueueSetUp, QueueClaims, QueueUpdates, the requeue).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "driver/queue/QueueStatements.h"
#include "driver/queue/ReportStatements.h"
#include "driver/queue/RequeueStatements.h"
#include "support/TestSupport.h"

namespace kvo::driver {
namespace {

using Statements = std::vector<std::pair<std::string, std::string>>;

const std::string kId = "12";
const std::string kWorker = "scan-01:4711:0:1a2b3c4d:4026531836:98765";
const std::string kOriginal = "D:\\Docs\\O'Brien Zoë.tif";
const std::string kPath = "D:\\Docs\\O'Brien Zoë.PDF";
const std::string kCycleStart = "2026-12-08 09:00:00.000";

Statements AllOf(const QueueStatements& sql, const ReportStatements& report,
                 RequeueStatements (*requeue)(const std::string& rows)) {
    Statements all{
        {"existence (S1)", sql.existence},
        {"createTable (S2)", sql.createTable},
        {"primaryKey (S3)", sql.primaryKey},
        {"longPaths", sql.longPaths},
        {"unstorablePaths", sql.unstorablePaths},
        {"fillOpen (S4)", sql.fillOpen},
        {"fillClosed (S5)", sql.fillClosed},
        {"pendingCount (S6)", sql.pendingCount},
        {"workExistence", sql.workExistence},
        {"createWork", sql.createWork},
        {"columnCount", sql.columnCount("Pages")},
    };
    for (const AddedColumn& column : sql.addedColumns) all.emplace_back("addedColumns " + column.name, column.add);
    const std::vector<std::pair<std::string, std::string>> more{
        {"workRows", sql.workRows},
        {"storeClock", sql.storeClock},
        {"claimNext, first of the cycle", sql.claimNext({kWorker, 900, kCycleStart, ""})},
        {"claimNext, after row 12", sql.claimNext({kWorker, 900, kCycleStart, kId})},
        {"heldRow", sql.heldRow(kWorker)},
        {"workersOfHost", sql.workersOfHost("scan-01:")},
        {"releaseWorker", sql.releaseWorker(kWorker)},
        {"release", sql.release(kId, kWorker)},
        {"releaseWithReason", sql.releaseWithReason(kId, kWorker, "it's gone")},
        {"raiseAttempts", sql.raiseAttempts(kId, kWorker, "it's gone")},
        {"attempts", sql.attempts(kId)},
        {"renewClaim", sql.renewClaim(kId, kWorker)},
        {"recordOriginal", sql.recordOriginal(kId, kWorker, 3, "TIF", kOriginal)},
        {"recordOriginal, no pages, no path", sql.recordOriginal(kId, kWorker, 0, "TIF", std::nullopt)},
        {"notFound (U1)", sql.notFound(kId, kWorker)},
        {"alreadySearchable (U2)", sql.alreadySearchable(kId, kWorker, kOriginal)},
        {"noResult (U3)", sql.noResult(kId, kWorker)},
        {"newPdf (U6)", sql.newPdf(kId, kWorker, kPath)},
        {"openMatter (U4)", sql.openMatter(kId, kOriginal, kPath)},
        {"closedMatter (U5)", sql.closedMatter(kId, kOriginal, kPath)},
        {"openMatterRows", sql.openMatterRows(kId)},
        {"closedMatterRows", sql.closedMatterRows(kId)},
        {"report statusCounts", report.statusCounts},
        {"report claims", report.claims},
        {"report finishedLastHour", report.finishedLastHour},
        {"report failures", report.failures},
    };
    all.insert(all.end(), more.begin(), more.end());
    const RequeueStatements byStatus = requeue(RowsOfTypes(RowsOfStatus(5), {"TIF", "O'K"}));
    const RequeueStatements byReference = requeue(RowsNamed({12, 14}));
    all.insert(all.end(), {{"requeue 5 typeCounts", byStatus.typeCounts},
                           {"requeue 5 clearWork", byStatus.clearWork},
                           {"requeue 5 requeue", byStatus.requeue},
                           {"requeue 2, no type converted", requeue(RowsOfTypes(RowsOfStatus(2), {})).requeue},
                           {"requeue-ref 12 14 rowStates", byReference.rowStates}});
    return all;
}

// The statements one after another, each under its name, with its CR LF shown as line feeds.
std::string Listing(const Statements& statements) {
    std::string listing;
    for (const auto& [name, text] : statements) {
        std::string shown = text;
        for (std::size_t at = shown.find("\r\n"); at != std::string::npos; at = shown.find("\r\n", at))
            shown.replace(at, 2, "\n");
        listing += "-- " + name + "\n" + shown + "\n\n";
    }
    return listing;
}

void ExpectListing(const Statements& statements, const std::string& expectedFile) {
    const std::string expected =
        test::ReadFile(std::filesystem::path(KVO_SOURCE_DIR) / "tests/driver/queue" / expectedFile);
    const std::string listing = Listing(statements);
    if (listing == expected) return;
    const std::filesystem::path actual = std::filesystem::path(::testing::TempDir()) / (expectedFile + ".actual");
    std::ofstream(actual, std::ios::binary) << listing;
    ADD_FAILURE() << "the statements differ from tests/driver/queue/" << expectedFile << "; they are written to "
                  << actual.string();
}

TEST(QueueStatements, SqlServerSetIsWordForWordItsExpectedFile) {
    ExpectListing(AllOf(SqlServerStatements(), SqlServerReportStatements(), SqlServerRequeue),
                  "SqlServerStatements.expected");
}

TEST(QueueStatements, EmbeddedStoreSetIsWordForWordItsExpectedFile) {
    ExpectListing(AllOf(SqliteStatements(), SqliteReportStatements(), SqliteRequeue), "SqliteStatements.expected");
}

// Every statement is its lines joined by CR LF, with nothing after the last line.
TEST(QueueStatements, LinesAreJoinedByCrLfWithNothingAfterTheLast) {
    EXPECT_EQ(JoinLines({"a", " b ", ""}), "a\r\n b \r\n");
    EXPECT_EQ(JoinLines({"only"}), "only");
    for (const Statements& set : {AllOf(SqlServerStatements(), SqlServerReportStatements(), SqlServerRequeue),
                                  AllOf(SqliteStatements(), SqliteReportStatements(), SqliteRequeue)})
        for (const auto& [name, text] : set) {
            for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
                EXPECT_TRUE(at > 0 && text[at - 1] == '\r') << name;
            EXPECT_FALSE(text.ends_with("\n") || text.ends_with("\r")) << name;
        }
}

}  // namespace
}  // namespace kvo::driver
