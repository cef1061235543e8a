#pragma once
// A host database file for the queue tests, reached through the embedded store.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/queue/WorkQueue.h"
#include "driver/store/SqliteConnection.h"
#include "support/TestSupport.h"

namespace kvo::test {

using Row = std::vector<std::optional<std::string>>;

// Every row of a query, each field as text or nullopt.
inline std::vector<Row> AllRows(driver::DbConnection& connection, const std::string& sql) {
    std::vector<Row> rows;
    auto result = connection.query(sql);
    for (; !result->eof(); result->moveNext()) {
        Row row;
        for (const char* name : {"a", "b", "c", "d"}) {
            try {
                row.push_back(result->field(name));
            } catch (const driver::DbError&) {
                break;
            }
        }
        rows.push_back(row);
    }
    return rows;
}

// The settings of worker `index` of this process.
inline driver::WorkerSettings TestWorker(int index = 0) { return {driver::ThisWorkerName(index)}; }

// An empty database file with the two host tables, as the host system keeps them.
class HostDatabase {
public:
    HostDatabase() : file_((dir_ / "host.db").string()) {
        WriteFile(file_, "");
        auto connection = open();
        connection->execute(
            "CREATE TABLE DiaryAttachments (TrackReference INTEGER, Type TEXT, FilePath TEXT, Description TEXT);"
            "CREATE TABLE CloseDiaryAttachments (TrackReference INTEGER, Type TEXT, FilePath TEXT);");
    }

    const std::string& file() const { return file_; }
    const ScratchDir& dir() const { return dir_; }

    std::unique_ptr<driver::SqliteConnection> open(int busyTimeoutMs = 5000) const {
        auto connection = std::make_unique<driver::SqliteConnection>(file_, busyTimeoutMs);
        connection->open();
        return connection;
    }

private:
    ScratchDir dir_{"kvo-queue"};
    std::string file_;
};

}  // namespace kvo::test
