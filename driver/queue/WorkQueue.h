#pragma once
// The work queue DASearchable: set-up at the start of a cycle, the claims of the rows a worker
// takes, and the record of each outcome.
//
// A worker claims a row in the side table DASearchableWork before it touches it, so that any
// number of workers in any number of drivers, on any number of machines, take each row once.
// The worker renews its claim while it works on the row, and a claim that has not been renewed
// for the configured time expires (a worker that died never holds a row for ever); it is
// released as soon as the row's outcome is recorded. Before it copies a result or records an
// outcome the worker makes sure it still holds the claim: one whose claim was taken over
// records nothing.
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "driver/Config.h"
#include "shared/platform/Clock.h"
#include "shared/platform/ProcessIdentity.h"

namespace kvo::driver {

class DbConnection;

// Status codes of DASearchable.Processed.
enum QueueStatus { kQueued = 0, kFinished = 2, kAlreadySearchable = 3, kNoResult = 5 };

// One row as the walk reads it.
struct QueueRow {
    std::string trackReference;            // {id}, as selected
    std::optional<std::string> filePath;   // trailing blanks removed; nullopt for NULL
    std::string type;                      // upper case
};

// Who claims, and the rules of the claims.
struct WorkerSettings {
    std::string worker;                    // WorkerName(...)
    double claimHours = kDefaultClaimHours;
    int maxAttempts = kDefaultMaxAttempts;
};

// "host:pid:index:boot:pidns:start": the name under which a worker holds its claims. It tells
// people which machine and process hold a claim, and a driver which claims belong to processes
// of its own process list (same machine, boot and PID namespace) that no longer run.
std::string WorkerName(const ProcessIdentity& process, int workerIndex);
// The name of worker `workerIndex` of this process.
std::string ThisWorkerName(int workerIndex);
// The process a worker name stands for; nullopt for a name of another form (an earlier
// version's, whose claims only expire).
std::optional<ProcessIdentity> ProcessOfWorker(const std::string& worker);

// Gives a side table made by an earlier version the columns added since. Throws DbError.
void AddMissingSideColumns(DbConnection& connection);

// How recording a new PDF went.
struct NewPdfRecord {
    bool recorded = false;                 // status 2 written
    bool claimLost = false;                // another worker had taken the claim over: nothing written
    std::vector<std::string> keptByUser;   // host tables whose row a user pointed elsewhere meanwhile
};

// How recording a machine's fault went.
struct FaultRecord {
    bool recorded = false;                 // the attempt was counted
    int attempts = 0;
    bool gaveUp = false;                   // the row reached the most attempts and got status 5
};

class WorkQueue {
public:
    // `connection` sets the queue up; `updates` carries the claims and the updates (may be the
    // same object).
    WorkQueue(DbConnection& connection, DbConnection& updates, WorkerSettings settings);

    // Queue set-up: existence checks, table creation (the queue and its side table), both fills,
    // the pending count; releases the claims of this machine's processes that no longer run,
    // then claims the first row. Returns false when a query did not open (the program is to end;
    // both connections are then closed and the reason is on standard error); errors of the other
    // statements are reported on standard error with the statement's name and the cycle goes on.
    // A worker whose driver has just set the queue up joins it without the creation and fills.
    enum class Join { SetUpAndFill, AlreadySetUp };
    bool setUp(Join join = Join::SetUpAndFill);
    int pendingCount() const;
    // The row this worker holds, or nullopt when no row is left for it in this cycle. next()
    // releases it (unless its outcome was recorded) and claims the next one, in TrackReference
    // order.
    std::optional<QueueRow> current() const;
    void next();
    // Releases the row held, if any; the walk is over.
    void closeSelection();

    // The outcome of the row held. Each moves the row only while its status is 0 and this worker
    // holds it, then releases it; each reports its own error on standard error and returns
    // false when the row was not moved.
    bool markNotFound(const std::string& id);                                  // U1, status 2
    bool markAlreadySearchable(const std::string& id, const std::string& path); // U2, status 3
    bool markNoResult(const std::string& id, const std::string& reason);       // U3, status 5; reason kept
    // U4, U5, then U6; stops at the first that fails, so the row stays pending unless both host
    // tables were updated. A host row that no longer names `originalPath` is left as a user set it.
    // The PDF's page count (when known, above 0) is kept for the operator's rate.
    NewPdfRecord recordNewPdf(const std::string& id, const std::string& originalPath, const std::string& path,
                              int pages = 0);
    // A fault of the machine rather than of the document: the attempt is counted with its error
    // and the row stays pending (for a later cycle), until the most attempts give it status 5.
    FaultRecord recordFault(const std::string& id, const std::string& error);

    // The claim on the row held, renewed now: Held while this worker holds it (it then lasts the
    // claim's whole life from now), Lost once another worker has taken it over (after it
    // expired), Unknown when the store could not say.
    enum class Claim { Held, Lost, Unknown };
    Claim renewClaim(const std::string& id);
    // Renews the claim when a renewal is due (every minute, or every quarter of the claim's life
    // when that is shorter); cheap enough for every poll while the row is worked on.
    void keepClaimFresh();
    // True once this worker has found the claim on the row it held taken over.
    bool claimLost() const { return claimLost_; }

private:
    std::optional<long long> countOf(DbConnection& connection, const char* statementName, const std::string& sql);
    bool endProgram();
    void createSideTable();
    void releaseDeadClaims();
    void claimNext();
    void release();
    static std::optional<long long> execute(DbConnection& connection, const char* statementName, const std::string& sql);
    // Runs a statement about the row `id`; false (reported) when `id` is not the row held.
    bool isHeld(const char* statementName, const std::string& id) const;
    bool moveStatus(const char* statementName, const std::string& id, const std::string& sql);
    // Keeps the held row's original type and path (and the result's pages, when above 0) in its
    // side row; false when the claim was lost or the statement failed.
    bool keepOriginal(const char* statementName, const std::string& id, int pages);
    void noteClaimLost(const std::string& id);
    int claimSeconds() const;

    DbConnection& connection_;
    DbConnection& updates_;
    WorkerSettings settings_;
    int pendingCount_ = 0;
    std::string cycleStart_;
    std::string lastClaimed_;  // the TrackReference claimed last in this cycle; "" before the first
    std::optional<QueueRow> held_;
    bool heldRecorded_ = false;  // the held row's outcome is recorded and its claim released
    bool claimLost_ = false;     // another worker took the held row's claim over
    SteadyPoint lastRenewal_;
};

}  // namespace kvo::driver
