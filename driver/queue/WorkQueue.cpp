#include "driver/queue/WorkQueue.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

#include "driver/JournalLog.h"
#include "driver/queue/QueueStatements.h"
#include "driver/store/DbConnection.h"
#include "shared/platform/Text.h"

namespace kvo::driver {

namespace {

// LastError is nvarchar(1000): a longer text would make the statement fail.
constexpr std::size_t kLastErrorBytes = 1000;

const QueueStatements& StatementsFor(const DbConnection& connection) {
    return connection.isSqlServer() ? SqlServerStatements() : SqliteStatements();
}

void ReportFailure(const char* statementName, const std::string& message) {
    Report(std::string("queue statement ") + statementName + " failed: " + message);
}

// {id} goes into the statement text unquoted, so it must be a number and nothing else.
bool IsTrackReference(const std::string& id) {
    return AllDigits(std::string_view(id).substr(!id.empty() && id[0] == '-' ? 1 : 0));
}

// The Total of a count query (a larger count is given as the largest 32-bit number).
std::int32_t TotalOf(const Recordset& counted) {
    const std::string total = counted.field("Total").value_or("0");
    long long value = 0;
    const auto [end, error] = std::from_chars(total.data(), total.data() + total.size(), value);
    if (error == std::errc::result_out_of_range) return std::numeric_limits<std::int32_t>::max();
    if (error != std::errc() || end != total.data() + total.size()) throw DbError("count \"" + total + "\" is no number");
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

// The store's clock goes into the claim statement as a literal: only its own digits and marks.
bool IsClockText(const std::string& text) {
    if (text.size() < 19) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || c == '-' || c == ':' || c == ' ' || c == '.')) return false;
    return true;
}

std::string CutForLastError(const std::string& text) { return WholeCharactersWithin(text, kLastErrorBytes); }

// A claim is renewed at least this often while its row is worked on.
constexpr double kLongestRenewalSeconds = 60;

// Digits only, at most `maxDigits` of them.
bool IsNumber(std::string_view text, std::size_t maxDigits) {
    return text.size() <= maxDigits && AllDigits(text);
}

}  // namespace

std::string WorkerName(const ProcessIdentity& process, int workerIndex) {
    return process.host + ":" + std::to_string(process.pid) + ":" + std::to_string(workerIndex) + ":" + process.boot +
           ":" + process.pidNamespace + ":" + std::to_string(process.start);
}

std::string ThisWorkerName(int workerIndex) { return WorkerName(ThisProcess(), workerIndex); }

std::optional<ProcessIdentity> ProcessOfWorker(const std::string& worker) {
    std::vector<std::string_view> fields;
    for (std::string_view rest = worker;;) {
        const std::size_t colon = rest.find(':');
        fields.push_back(rest.substr(0, colon));
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    if (fields.size() != 6 || fields[0].empty() || !IsNumber(fields[1], 9) || !IsNumber(fields[2], 2) ||
        !AllDigits(fields[5]) || (!fields[4].empty() && !IsNumber(fields[4], 20)))
        return std::nullopt;
    const std::optional<pid_t> pid = WholeNumber<pid_t>(fields[1]);
    // A start too large for any clock names no process.
    const std::optional<unsigned long long> start = WholeNumber<unsigned long long>(fields[5]);
    if (!pid || *pid <= 0 || !start) return std::nullopt;
    return ProcessIdentity{std::string(fields[0]), std::string(fields[3]), std::string(fields[4]), *pid, *start};
}

void AddMissingSideColumns(DbConnection& connection) {
    const QueueStatements& sql = StatementsFor(connection);
    for (const AddedColumn& column : sql.addedColumns) {
        auto present = connection.query(sql.columnCount(column.name));
        const bool missing = !present->eof() && TotalOf(*present) == 0;
        present->close();
        if (missing) connection.execute(column.add);
    }
}

WorkQueue::WorkQueue(DbConnection& connection, DbConnection& updates, WorkerSettings settings)
    : connection_(connection), updates_(updates), settings_(std::move(settings)) {}

bool WorkQueue::setUp(Join join) {
    const QueueStatements& sql = StatementsFor(connection_);
    closeSelection();
    pendingCount_ = 0;
    cycleStart_.clear();
    lastClaimed_.clear();

    // S1; its recordset is closed before S2 runs, as drivers allow one active statement.
    const std::optional<long long> tables = countOf(connection_, "S1", sql.existence);
    if (!tables) return endProgram();
    if (join == Join::SetUpAndFill) {
        if (*tables == 0) {
            execute(connection_, "S2", sql.createTable);
            execute(connection_, "S3", sql.primaryKey);
        }
        createSideTable();

        if (const auto tooLong = countOf(connection_, "path width", sql.longPaths); tooLong && *tooLong > 0)
            Report(std::to_string(*tooLong) + " host rows are not queued: their FilePath is longer than " +
                   std::to_string(kFilePathWidth) + " characters",
                   LogPriority::Warning);
        if (const auto unstorable = countOf(connection_, "path letters", sql.unstorablePaths); unstorable && *unstorable > 0)
            Report(std::to_string(*unstorable) + " host rows are not queued: their FilePath holds letters that "
                   "DASearchable's FilePath (char(255)) would not keep",
                   LogPriority::Warning);
        execute(connection_, "S4", sql.fillOpen);
        execute(connection_, "S5", sql.fillClosed);
        execute(connection_, "side rows", sql.workRows);
    }

    const std::optional<long long> pending = countOf(connection_, "S6", sql.pendingCount);
    if (!pending) return endProgram();
    pendingCount_ = static_cast<int>(*pending);

    try {
        auto clock = connection_.query(sql.storeClock);
        if (clock->eof()) throw DbError("the store's clock gave no row");
        cycleStart_ = clock->field("Now").value_or("");
        clock->close();
        if (!IsClockText(cycleStart_)) throw DbError("the store's clock gave \"" + cycleStart_ + "\"");
    } catch (const DbError& error) {
        ReportFailure("clock", error.what());
        return endProgram();
    }
    releaseDeadClaims();
    claimNext();
    return true;
}

void WorkQueue::createSideTable() {
    const QueueStatements& sql = StatementsFor(connection_);
    const std::optional<long long> tables = countOf(connection_, "side table", sql.workExistence);
    if (tables && *tables == 0) execute(connection_, "side table", sql.createWork);
    try {
        AddMissingSideColumns(connection_);
    } catch (const DbError& error) {
        ReportFailure("side table", error.what());
    }
}

void WorkQueue::releaseDeadClaims() {
    const QueueStatements& sql = StatementsFor(updates_);
    std::vector<std::string> workers;
    try {
        auto claims = updates_.query(sql.workersOfHost(ThisProcess().host + ":"));
        for (; !claims->eof(); claims->moveNext()) workers.push_back(claims->field("Worker").value_or(""));
        claims->close();
    } catch (const DbError& error) {
        ReportFailure("claims of this machine", error.what());
        return;
    }
    for (const std::string& worker : workers) {
        const std::optional<ProcessIdentity> process = ProcessOfWorker(worker);
        if (!process) continue;
        // This worker holds nothing between cycles; another worker of this process may be busy.
        // A process of another boot or PID namespace is not judged here: its claims expire.
        const bool stale = *process == ThisProcess() ? worker == settings_.worker : StillRuns(*process) == false;
        if (!stale) continue;
        const auto released = execute(updates_, "release", sql.releaseWorker(worker));
        if (released && *released > 0 && worker != settings_.worker)
            Report("released the claims of " + worker + ", which no longer runs", LogPriority::Info);
    }
}

std::optional<long long> WorkQueue::countOf(DbConnection& connection, const char* statementName,
                                            const std::string& sql) {
    try {
        auto counted = connection.query(sql);
        if (!counted->isOpen()) throw DbError("the query did not open");
        if (counted->eof()) throw DbError("the query returned no row");
        const std::int32_t total = TotalOf(*counted);
        counted->close();
        return total;
    } catch (const DbError& error) {
        ReportFailure(statementName, error.what());
        return std::nullopt;
    }
}

bool WorkQueue::endProgram() {
    held_.reset();
    connection_.close();
    updates_.close();
    return false;
}

int WorkQueue::pendingCount() const { return pendingCount_; }

std::optional<QueueRow> WorkQueue::current() const { return held_; }

int WorkQueue::claimSeconds() const {
    return std::max(1, static_cast<int>(std::lround(settings_.claimHours * 3600)));
}

void WorkQueue::claimNext() {
    held_.reset();
    heldRecorded_ = false;
    claimLost_ = false;
    if (cycleStart_.empty()) return;
    const QueueStatements& sql = StatementsFor(updates_);
    const auto claimed =
        execute(updates_, "claim", sql.claimNext({settings_.worker, claimSeconds(), cycleStart_, lastClaimed_}));
    if (!claimed || *claimed == 0) return;
    lastRenewal_ = SteadyNow();
    try {
        auto row = updates_.query(sql.heldRow(settings_.worker));
        if (row->eof()) return;
        held_ = QueueRow{row->field("TrackReference").value_or("0"), row->field("FilePath"),
                         row->field("TYPE").value_or("")};
        row->close();
        if (IsTrackReference(held_->trackReference)) lastClaimed_ = held_->trackReference;
    } catch (const DbError& error) {
        // The claim stays until this driver starts again or it expires; the walk ends here.
        ReportFailure("claimed row", error.what());
        held_.reset();
    }
}

void WorkQueue::release() {
    if (!held_ || heldRecorded_) return;
    heldRecorded_ = true;
    if (updates_.isOpen())
        execute(updates_, "release", StatementsFor(updates_).release(held_->trackReference, settings_.worker));
}

void WorkQueue::next() {
    if (!held_) return;
    release();
    claimNext();
}

void WorkQueue::closeSelection() {
    release();
    held_.reset();
}

bool WorkQueue::isHeld(const char* statementName, const std::string& id) const {
    if (claimLost_) return false;  // said once, when it was found
    if (!IsTrackReference(id)) {
        ReportFailure(statementName, "TrackReference \"" + id + "\" is not a number; nothing was sent");
        return false;
    }
    if (!held_ || heldRecorded_ || held_->trackReference != id) {
        ReportFailure(statementName, "row " + id + " is not held by " + settings_.worker + "; nothing was sent");
        return false;
    }
    return true;
}

bool WorkQueue::moveStatus(const char* statementName, const std::string& id, const std::string& sql) {
    const auto moved = execute(updates_, statementName, sql);
    if (!moved) return false;
    if (*moved == 0) {
        ReportFailure(statementName, "row " + id + " was not changed: its status is no longer 0 or " +
                                         settings_.worker + " no longer holds its claim");
        heldRecorded_ = true;  // nothing of it is ours any more
        return false;
    }
    return true;
}

bool WorkQueue::keepOriginal(const char* statementName, const std::string& id, int pages) {
    const auto kept = execute(updates_, statementName,
                              StatementsFor(updates_).recordOriginal(id, settings_.worker, pages, held_->type, held_->filePath));
    if (kept && *kept == 0) noteClaimLost(id);
    return kept && *kept > 0;
}

void WorkQueue::noteClaimLost(const std::string& id) {
    claimLost_ = true;
    heldRecorded_ = true;  // nothing of it is ours any more
    Report("the claim of " + settings_.worker + " on row " + id +
           " was taken over by another worker after it expired; nothing is recorded for it here",
           LogPriority::Warning);
}

WorkQueue::Claim WorkQueue::renewClaim(const std::string& id) {
    if (claimLost_) return Claim::Lost;
    if (!isHeld("renewal", id)) return Claim::Unknown;
    lastRenewal_ = SteadyNow();
    const auto renewed = execute(updates_, "renewal", StatementsFor(updates_).renewClaim(id, settings_.worker));
    if (!renewed) return Claim::Unknown;
    if (*renewed > 0) return Claim::Held;
    noteClaimLost(id);
    return Claim::Lost;
}

void WorkQueue::keepClaimFresh() {
    if (!held_ || heldRecorded_ || !updates_.isOpen()) return;
    if (SecondsSince(lastRenewal_) < std::min(kLongestRenewalSeconds, claimSeconds() / 4.0)) return;
    renewClaim(held_->trackReference);
}

bool WorkQueue::markNotFound(const std::string& id) {
    if (!isHeld("U1", id) || !keepOriginal("U1", id, 0) ||
        !moveStatus("U1", id, StatementsFor(updates_).notFound(id, settings_.worker)))
        return false;
    release();
    return true;
}

bool WorkQueue::markAlreadySearchable(const std::string& id, const std::string& path) {
    if (!isHeld("U2", id) ||
        !moveStatus("U2", id, StatementsFor(updates_).alreadySearchable(id, settings_.worker, path)))
        return false;
    release();
    return true;
}

bool WorkQueue::markNoResult(const std::string& id, const std::string& reason) {
    const QueueStatements& sql = StatementsFor(updates_);
    if (!isHeld("U3", id) || !moveStatus("U3", id, sql.noResult(id, settings_.worker))) return false;
    heldRecorded_ = true;
    execute(updates_, "reason", sql.releaseWithReason(id, settings_.worker, CutForLastError(reason)));
    return true;
}

NewPdfRecord WorkQueue::recordNewPdf(const std::string& id, const std::string& originalPath, const std::string& path,
                                     int pages) {
    // The queue row is finished only once both host tables point at the new PDF (or keep what a
    // user set meanwhile); after a failed host update it stays pending and is done again later.
    const QueueStatements& sql = StatementsFor(updates_);
    NewPdfRecord record;
    // Kept first: it also makes sure this worker still holds the claim before a host row changes.
    if (!isHeld("U4", id) || !keepOriginal("U4", id, pages)) {
        record.claimLost = claimLost_;
        return record;
    }
    const auto open = execute(updates_, "U4", sql.openMatter(id, originalPath, path));
    if (!open) return record;
    const auto closed = execute(updates_, "U5", sql.closedMatter(id, originalPath, path));
    if (!closed) return record;
    if (*open == 0 && countOf(updates_, "U4", sql.openMatterRows(id)).value_or(0) > 0)
        record.keptByUser.push_back("DiaryAttachments");
    if (*closed == 0 && countOf(updates_, "U5", sql.closedMatterRows(id)).value_or(0) > 0)
        record.keptByUser.push_back("CloseDiaryAttachments");
    record.recorded = moveStatus("U6", id, sql.newPdf(id, settings_.worker, path));
    if (record.recorded) release();
    return record;
}

FaultRecord WorkQueue::recordFault(const std::string& id, const std::string& error) {
    const QueueStatements& sql = StatementsFor(updates_);
    FaultRecord record;
    if (!isHeld("attempt", id)) return record;
    const std::string lastError = CutForLastError(error);
    const auto raised = execute(updates_, "attempt", sql.raiseAttempts(id, settings_.worker, lastError));
    if (!raised) return record;
    if (*raised == 0) {
        ReportFailure("attempt", "row " + id + " is no longer held by " + settings_.worker);
        heldRecorded_ = true;
        return record;
    }
    record.recorded = true;
    record.attempts = static_cast<int>(countOf(updates_, "attempts", sql.attempts(id)).value_or(0));
    if (record.attempts >= settings_.maxAttempts)
        record.gaveUp = markNoResult(id, "gave up after " + std::to_string(record.attempts) + " attempts: " + error);
    else
        release();
    return record;
}

std::optional<long long> WorkQueue::execute(DbConnection& connection, const char* statementName,
                                            const std::string& sql) {
    try {
        return connection.execute(sql);
    } catch (const DbError& error) {
        ReportFailure(statementName, error.what());
        return std::nullopt;
    }
}

}  // namespace kvo::driver
