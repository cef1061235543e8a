#pragma once
// The work queue DASearchable: set-up at the start of a cycle, the pending walk, the updates.
#include <memory>
#include <optional>
#include <string>

namespace kvo::driver {

class DbConnection;
class Recordset;

// Status codes of DASearchable.Processed.
enum QueueStatus { kQueued = 0, kFinished = 2, kAlreadySearchable = 3, kNoResult = 5 };

// One pending row as the walk reads it.
struct QueueRow {
    std::string trackReference;            // {id}, as selected
    std::optional<std::string> filePath;   // trailing blanks removed; nullopt for NULL
    std::string type;                      // upper case
};

class WorkQueue {
public:
    // `connection` carries the selection; `updates` is a second connection to the same store
    // for the updates sent while the selection is walked (may be the same object where the
    // store allows it).
    WorkQueue(DbConnection& connection, DbConnection& updates);

    // Queue set-up: existence check, table creation, both fills, pending count, selection.
    // Returns false when a query did not open (the program is to end; both connections are
    // then closed and the reason is on standard error); errors of the other
    // statements are reported on standard error with the statement's name and the cycle goes on.
    bool setUp();
    int pendingCount() const;
    // The current pending row, or nullopt at the end of the selection; next() moves on.
    std::optional<QueueRow> current() const;
    void next();
    void closeSelection();

    // U1 .. U6. Each reports its own error on standard error and returns false on failure.
    bool markNotFound(const std::string& id);                                  // U1, status 2
    bool markAlreadySearchable(const std::string& id, const std::string& path); // U2, status 3
    bool markNoResult(const std::string& id);                                  // U3, status 5
    // U4, U5, then U6; stops at the first that fails, so the row stays pending unless both
    // host tables were updated.
    bool recordNewPdf(const std::string& id, const std::string& path);

private:
    // The Total of a count query; nullopt (reported) when it did not open or gave no row.
    std::optional<int> countOf(const char* statementName, const std::string& sql);
    // A query did not open: both connections are closed and the program is to end.
    bool endProgram();
    // Runs one statement; an error is reported with the statement's name and gives false.
    static bool execute(DbConnection& connection, const char* statementName, const std::string& sql);
    bool update(const char* statementName, const std::string& id, const std::string& sql);

    DbConnection& connection_;
    DbConnection& updates_;
    int pendingCount_ = 0;
    std::unique_ptr<Recordset> selection_;
};

}  // namespace kvo::driver
