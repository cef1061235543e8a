#pragma once
// One interface over the two stores: SQL Server through ODBC (FreeTDS) and embedded SQLite.
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace kvo::driver {

struct CycleConfig;

// What a connection may do. An operator's view reads with ReadOnly: it changes nothing in the
// store (not even its journal mode) and works on a database the operator may only read.
enum class DbAccess { ReadWrite, ReadOnly };

// An error the database reported for a statement (the message is the driver's or server's).
class DbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A forward-only, read-only result. Fields are read by name without regard to case; NULL is
// nullopt, told apart from "".
class Recordset {
public:
    virtual ~Recordset() = default;
    virtual bool isOpen() const = 0;
    virtual bool eof() const = 0;          // no current row
    virtual void moveNext() = 0;           // throws DbError
    virtual std::optional<std::string> field(const std::string& name) const = 0;  // throws DbError for an unknown name
    virtual void close() = 0;
};

class DbConnection {
public:
    virtual ~DbConnection() = default;
    // Opens the connection (giving up after 30 seconds). Throws DbError with a clear message
    // naming server and database (never the password) when it cannot.
    virtual void open() = 0;
    virtual bool isOpen() const = 0;       // the State = 1 test
    // Runs a statement that returns no rows; gives the count of rows the (last) statement
    // changed, -1 when the store does not tell. Throws DbError.
    virtual long long execute(const std::string& sql) = 0;
    // Opens a query; the first row (if any) is current. Throws DbError.
    virtual std::unique_ptr<Recordset> query(const std::string& sql) = 0;
    virtual void close() = 0;
    // Which statement texts this store speaks.
    virtual bool isSqlServer() const = 0;
};

// The store chosen by the configuration (Provider=sqlite selects SQLite, else ODBC/FreeTDS).
// Nothing is opened yet. Throws DbError for a Provider it does not know. A cycle makes two:
// one for the queue selection, one for the updates sent while the selection is walked.
std::unique_ptr<DbConnection> MakeConnection(const CycleConfig& config, DbAccess access = DbAccess::ReadWrite);

// MakeConnection, opened. Throws DbError naming the database and its server when it cannot be.
std::unique_ptr<DbConnection> OpenConnection(const CycleConfig& config, DbAccess access = DbAccess::ReadWrite);

// The SQLite database file: ZRT.ini's Database, absolute or relative to the data folder.
std::string SqliteDatabasePath(const CycleConfig& config);

}  // namespace kvo::driver
