#include "driver/queue/WorkQueue.h"

#include <charconv>
#include <cstdint>
#include <iostream>
#include <limits>

#include "driver/queue/QueueStatements.h"
#include "driver/store/DbConnection.h"

namespace kvo::driver {

namespace {

const QueueStatements& StatementsFor(const DbConnection& connection) {
    return connection.isSqlServer() ? SqlServerStatements() : SqliteStatements();
}

void Report(const char* statementName, const std::string& message) {
    std::cerr << "KVOProcess: queue statement " << statementName << " failed: " << message << std::endl;
}

// {id} goes into the statement text unquoted, so it must be the number S7 selected and
// nothing else.
bool IsTrackReference(const std::string& id) {
    std::size_t digits = (!id.empty() && id[0] == '-') ? 1 : 0;
    if (digits == id.size()) return false;
    for (std::size_t i = digits; i < id.size(); ++i)
        if (id[i] < '0' || id[i] > '9') return false;
    return true;
}

// The Total of a count query, as a 32-bit integer (a larger count is shown as the largest).
std::int32_t TotalOf(const Recordset& counted) {
    const std::string total = counted.field("Total").value_or("0");
    long long value = 0;
    const auto [end, error] = std::from_chars(total.data(), total.data() + total.size(), value);
    if (error == std::errc::result_out_of_range) return std::numeric_limits<std::int32_t>::max();
    if (error != std::errc() || end != total.data() + total.size()) throw DbError("count \"" + total + "\" is no number");
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

}  // namespace

WorkQueue::WorkQueue(DbConnection& connection, DbConnection& updates) : connection_(connection), updates_(updates) {}

bool WorkQueue::setUp() {
    const QueueStatements& sql = StatementsFor(connection_);
    closeSelection();
    pendingCount_ = 0;

    // S1; its recordset is closed before S2 runs, as drivers allow one active statement.
    const std::optional<int> tables = countOf("S1", sql.existence);
    if (!tables) return endProgram();
    if (*tables == 0) {
        execute(connection_, "S2", sql.createTable);
        execute(connection_, "S3", sql.primaryKey);
    }
    execute(connection_, "S4", sql.fillOpen);
    execute(connection_, "S5", sql.fillClosed);

    const std::optional<int> pending = countOf("S6", sql.pendingCount);
    if (!pending) return endProgram();
    pendingCount_ = *pending;

    try {
        selection_ = connection_.query(sql.selection);
        if (!selection_->isOpen()) throw DbError("the query did not open");
    } catch (const DbError& error) {
        Report("S7", error.what());
        return endProgram();
    }
    return true;
}

std::optional<int> WorkQueue::countOf(const char* statementName, const std::string& sql) {
    try {
        auto counted = connection_.query(sql);
        if (!counted->isOpen()) throw DbError("the query did not open");
        if (counted->eof()) throw DbError("the query returned no row");
        const std::int32_t total = TotalOf(*counted);
        counted->close();
        return total;
    } catch (const DbError& error) {
        Report(statementName, error.what());
        return std::nullopt;
    }
}

bool WorkQueue::endProgram() {
    closeSelection();
    connection_.close();
    updates_.close();
    return false;
}

int WorkQueue::pendingCount() const { return pendingCount_; }

std::optional<QueueRow> WorkQueue::current() const {
    if (!selection_ || !selection_->isOpen() || selection_->eof()) return std::nullopt;
    QueueRow row;
    row.trackReference = selection_->field("TrackReference").value_or("0");
    row.filePath = selection_->field("FilePath");
    row.type = selection_->field("TYPE").value_or("");
    return row;
}

void WorkQueue::next() {
    if (!selection_) return;
    try {
        selection_->moveNext();
    } catch (const DbError& error) {
        // The walk cannot go on; what is left stays pending for the next cycle.
        Report("S7", error.what());
        closeSelection();
    }
}

void WorkQueue::closeSelection() {
    if (selection_) selection_->close();
    selection_.reset();
}

bool WorkQueue::markNotFound(const std::string& id) {
    return update("U1", id, StatementsFor(updates_).notFound(id));
}

bool WorkQueue::markAlreadySearchable(const std::string& id, const std::string& path) {
    return update("U2", id, StatementsFor(updates_).alreadySearchable(id, path));
}

bool WorkQueue::markNoResult(const std::string& id) {
    return update("U3", id, StatementsFor(updates_).noResult(id));
}

bool WorkQueue::recordNewPdf(const std::string& id, const std::string& path) {
    // The queue row is finished only once both host tables point at the new PDF; after a
    // failed host update it stays pending and the attachment is done again next cycle.
    const QueueStatements& sql = StatementsFor(updates_);
    return update("U4", id, sql.openMatter(id, path)) && update("U5", id, sql.closedMatter(id, path)) &&
           update("U6", id, sql.newPdf(id, path));
}

bool WorkQueue::execute(DbConnection& connection, const char* statementName, const std::string& sql) {
    try {
        connection.execute(sql);
        return true;
    } catch (const DbError& error) {
        Report(statementName, error.what());
        return false;
    }
}

bool WorkQueue::update(const char* statementName, const std::string& id, const std::string& sql) {
    if (!IsTrackReference(id)) {
        Report(statementName, "TrackReference \"" + id + "\" is not a number; nothing was sent");
        return false;
    }
    return execute(updates_, statementName, sql);
}

}  // namespace kvo::driver
