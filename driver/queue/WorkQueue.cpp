#include "driver/queue/WorkQueue.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "driver/JournalLog.h"
#include "driver/queue/QueueStatements.h"
#include "driver/store/DbConnection.h"
#include "shared/AppTester.h"

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
    std::size_t digits = (!id.empty() && id[0] == '-') ? 1 : 0;
    if (digits == id.size()) return false;
    for (std::size_t i = digits; i < id.size(); ++i)
        if (id[i] < '0' || id[i] > '9') return false;
    return true;
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

std::string CutForLastError(std::string text) {
    if (text.size() <= kLastErrorBytes) return text;
    std::size_t end = kLastErrorBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

// A process that still runs the same program as this one (a reused process id runs another).
bool ProcessRuns(pid_t processId) {
    const std::string image = ImageNameOf(processId);
    return !image.empty() && ImageNamesMatch(image, ImageNameOf(getpid()));
}

}  // namespace

std::string WorkerName(const std::string& host, pid_t processId, int workerIndex) {
    return host + ":" + std::to_string(processId) + ":" + std::to_string(workerIndex);
}

std::string ThisWorkerName(int workerIndex) { return WorkerName(HostName(), getpid(), workerIndex); }

std::optional<pid_t> ProcessOfWorker(const std::string& worker, const std::string& host) {
    const std::string prefix = host + ":";
    if (worker.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const char* begin = worker.data() + prefix.size();
    const char* end = worker.data() + worker.size();
    long long pid = 0;
    const auto [afterPid, error] = std::from_chars(begin, end, pid);
    if (error != std::errc() || afterPid == begin || afterPid == end || *afterPid != ':' || pid <= 0 ||
        pid > std::numeric_limits<pid_t>::max())
        return std::nullopt;
    int index = 0;
    const auto [afterIndex, indexError] = std::from_chars(afterPid + 1, end, index);
    if (indexError != std::errc() || afterIndex != end) return std::nullopt;
    return static_cast<pid_t>(pid);
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
    // A side table made before pages were kept gets their column.
    const std::optional<long long> pagesColumns = countOf(connection_, "side table", sql.pagesColumn);
    if (pagesColumns && *pagesColumns == 0) execute(connection_, "side table", sql.addPages);
}

void WorkQueue::releaseDeadClaims() {
    const QueueStatements& sql = StatementsFor(updates_);
    const std::string host = HostName();
    std::vector<std::string> workers;
    try {
        auto claims = updates_.query(sql.workersOfHost(host + ":"));
        for (; !claims->eof(); claims->moveNext()) workers.push_back(claims->field("Worker").value_or(""));
        claims->close();
    } catch (const DbError& error) {
        ReportFailure("claims of this machine", error.what());
        return;
    }
    for (const std::string& worker : workers) {
        const std::optional<pid_t> process = ProcessOfWorker(worker, host);
        if (!process) continue;
        // This worker holds nothing between cycles; another worker of this process may be busy.
        const bool stale = *process == getpid() ? worker == settings_.worker : !ProcessRuns(*process);
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

void WorkQueue::claimNext() {
    held_.reset();
    heldRecorded_ = false;
    if (cycleStart_.empty()) return;
    const QueueStatements& sql = StatementsFor(updates_);
    const int expiryMinutes = std::max(1, static_cast<int>(std::lround(settings_.claimHours * 60)));
    const auto claimed =
        execute(updates_, "claim", sql.claimNext({settings_.worker, expiryMinutes, cycleStart_, lastClaimed_}));
    if (!claimed || *claimed == 0) return;
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

bool WorkQueue::markNotFound(const std::string& id) {
    if (!isHeld("U1", id) || !moveStatus("U1", id, StatementsFor(updates_).notFound(id, settings_.worker))) return false;
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
    if (!isHeld("U4", id)) return record;
    const auto open = execute(updates_, "U4", sql.openMatter(id, originalPath, path));
    if (!open) return record;
    const auto closed = execute(updates_, "U5", sql.closedMatter(id, originalPath, path));
    if (!closed) return record;
    if (*open == 0 && countOf(updates_, "U4", sql.openMatterRows(id)).value_or(0) > 0)
        record.keptByUser.push_back("DiaryAttachments");
    if (*closed == 0 && countOf(updates_, "U5", sql.closedMatterRows(id)).value_or(0) > 0)
        record.keptByUser.push_back("CloseDiaryAttachments");
    record.recorded = moveStatus("U6", id, sql.newPdf(id, settings_.worker, path));
    if (record.recorded && pages > 0) execute(updates_, "pages", sql.recordPages(id, settings_.worker, pages));
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
