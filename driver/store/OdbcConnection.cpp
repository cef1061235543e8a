#include "driver/store/OdbcConnection.h"

#include <sql.h>
#include <sqlext.h>

#include <vector>

#include "driver/store/FieldNames.h"

namespace kvo::driver {

namespace {

bool Succeeded(SQLRETURN result) { return result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO; }

// The driver's diagnostic records of a handle, joined into one line.
std::string Diagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
    std::string joined;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLCHAR state[6] = {};
        SQLCHAR message[SQL_MAX_MESSAGE_LENGTH + 1] = {};
        SQLINTEGER nativeError = 0;
        SQLSMALLINT length = 0;
        if (!Succeeded(SQLGetDiagRec(handleType, handle, record, state, &nativeError, message, sizeof message, &length)))
            break;
        const std::string text = reinterpret_cast<const char*>(message);
        if (joined.find(text) != std::string::npos) continue;  // drivers repeat themselves
        if (!joined.empty()) joined += "; ";
        joined += text;
    }
    for (char& c : joined)
        if (c == '\n' || c == '\r') c = ' ';
    return joined.empty() ? "the ODBC driver gave no reason" : joined;
}

class OdbcRecordset : public Recordset {
public:
    // Takes over a statement that has been executed and has a result.
    explicit OdbcRecordset(SQLHSTMT statement) : statement_(statement) {
        SQLSMALLINT columns = 0;
        SQLNumResultCols(statement_, &columns);
        std::vector<std::string> names;
        for (SQLSMALLINT column = 1; column <= columns; ++column) {
            SQLCHAR name[256] = {};
            SQLSMALLINT nameLength = 0, dataType = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            SQLDescribeCol(statement_, column, name, sizeof name, &nameLength, &dataType, &size, &digits, &nullable);
            names.emplace_back(reinterpret_cast<const char*>(name));
        }
        names_ = FieldNames(std::move(names));
        fetch();
    }
    ~OdbcRecordset() override { close(); }

    bool isOpen() const override { return statement_ != nullptr; }
    bool eof() const override { return !hasRow_; }

    void moveNext() override {
        if (!statement_) throw DbError("the recordset is closed");
        if (hasRow_) fetch();
    }

    std::optional<std::string> field(const std::string& name) const override {
        const int column = names_.indexOf(name);
        if (!hasRow_) throw DbError("no current row to read field " + name + " from");
        return row_[static_cast<std::size_t>(column)];
    }

    void close() override {
        if (statement_) {
            SQLCloseCursor(statement_);
            SQLFreeHandle(SQL_HANDLE_STMT, statement_);
        }
        statement_ = nullptr;
        hasRow_ = false;
    }

private:
    // Fetches the next row and reads every column at once, in column order, as text.
    void fetch() {
        const SQLRETURN result = SQLFetch(statement_);
        hasRow_ = Succeeded(result);
        if (result == SQL_NO_DATA) return;
        if (!hasRow_) fail();
        row_.assign(names_.size(), std::nullopt);
        for (std::size_t column = 0; column < names_.size(); ++column) row_[column] = readColumn(column + 1);
    }

    std::optional<std::string> readColumn(std::size_t column) {
        std::string value;
        char buffer[4096];
        for (;;) {
            SQLLEN indicator = 0;
            const SQLRETURN result = SQLGetData(statement_, static_cast<SQLUSMALLINT>(column), SQL_C_CHAR, buffer,
                                                sizeof buffer, &indicator);
            if (result == SQL_NO_DATA) break;
            if (!Succeeded(result)) fail();
            if (indicator == SQL_NULL_DATA) return std::nullopt;
            // A part that did not fit fills the buffer less its terminator; the last part says
            // how long it is.
            const bool partial = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer);
            value.append(buffer, partial ? sizeof buffer - 1 : static_cast<std::size_t>(indicator));
            if (!partial) break;
        }
        return value;
    }

    [[noreturn]] void fail() {
        std::string message = Diagnostics(SQL_HANDLE_STMT, statement_);
        close();
        throw DbError(message);
    }

    SQLHSTMT statement_;
    FieldNames names_;
    std::vector<std::optional<std::string>> row_;
    bool hasRow_ = false;
};

}  // namespace

OdbcConnection::OdbcConnection(std::string odbcConnectionString, std::string server, std::string database,
                               bool sqlServer, int loginTimeoutSeconds, std::string password, DbAccess access)
    : connectionString_(std::move(odbcConnectionString)),
      server_(std::move(server)),
      database_(std::move(database)),
      sqlServer_(sqlServer),
      loginTimeoutSeconds_(loginTimeoutSeconds),
      password_(std::move(password)),
      access_(access) {}

std::string OdbcConnection::withoutPassword(std::string message) const {
    if (password_.empty()) return message;
    for (auto at = message.find(password_); at != std::string::npos; at = message.find(password_, at + 3))
        message.replace(at, password_.size(), "***");
    return message;
}

OdbcConnection::~OdbcConnection() { close(); }

void OdbcConnection::open() {
    close();
    const std::string failure = "cannot connect to database \"" + database_ + "\" on server \"" + server_ + "\": ";
    SQLHENV environment = SQL_NULL_HENV;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment)))
        throw DbError(failure + "the ODBC driver manager cannot be used");
    environment_ = environment;
    SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);

    SQLHDBC connection = SQL_NULL_HDBC;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection))) {
        std::string message = Diagnostics(SQL_HANDLE_ENV, environment);
        close();
        throw DbError(withoutPassword(failure + message));
    }
    connection_ = connection;
    // A server that does not answer must not hang the driver; statements keep no time limit.
    SQLSetConnectAttr(connection, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(loginTimeoutSeconds_)), 0);
    SQLSetConnectAttr(connection, SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(0), 0);
    SQLSetConnectAttr(connection, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    // A hint: a driver that does not know it connects as usual.
    if (access_ == DbAccess::ReadOnly)
        SQLSetConnectAttr(connection, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);

    std::vector<SQLCHAR> text(connectionString_.begin(), connectionString_.end());
    text.push_back(0);
    SQLCHAR completed[1024];
    SQLSMALLINT completedLength = 0;
    const SQLRETURN result = SQLDriverConnect(connection, nullptr, text.data(), SQL_NTS, completed, sizeof completed,
                                              &completedLength, SQL_DRIVER_NOPROMPT);
    if (!Succeeded(result)) {
        std::string message = Diagnostics(SQL_HANDLE_DBC, connection);
        SQLFreeHandle(SQL_HANDLE_DBC, connection);
        connection_ = nullptr;
        close();
        throw DbError(withoutPassword(failure + message));
    }
}

bool OdbcConnection::isOpen() const { return connection_ != nullptr; }

namespace {

SQLHSTMT NewStatement(void* connection) {
    if (!connection) throw DbError("the database connection is not open");
    SQLHSTMT statement = SQL_NULL_HSTMT;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, connection, &statement)))
        throw DbError(Diagnostics(SQL_HANDLE_DBC, connection));
    SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(0), 0);
    SQLSetStmtAttr(statement, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY), 0);
    SQLSetStmtAttr(statement, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), 0);
    return statement;
}

// Runs the statement text; on failure frees the statement and throws the driver's message.
void ExecuteOn(SQLHSTMT statement, const std::string& sql) {
    std::vector<SQLCHAR> text(sql.begin(), sql.end());
    text.push_back(0);
    const SQLRETURN result = SQLExecDirect(statement, text.data(), SQL_NTS);
    if (Succeeded(result) || result == SQL_NO_DATA) return;
    std::string message = Diagnostics(SQL_HANDLE_STMT, statement);
    SQLFreeHandle(SQL_HANDLE_STMT, statement);
    throw DbError(message);
}

}  // namespace

long long OdbcConnection::execute(const std::string& sql) try {
    SQLHSTMT statement = NewStatement(connection_);
    ExecuteOn(statement, sql);
    SQLLEN changed = -1;
    if (!Succeeded(SQLRowCount(statement, &changed))) changed = -1;
    // Drain every result the batch produced, so that an error raised late is not missed.
    SQLRETURN more;
    while (Succeeded(more = SQLMoreResults(statement))) {
    }
    if (more != SQL_NO_DATA) {
        std::string message = Diagnostics(SQL_HANDLE_STMT, statement);
        SQLFreeHandle(SQL_HANDLE_STMT, statement);
        throw DbError(message);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, statement);
    return changed;
} catch (const DbError& error) {
    throw DbError(withoutPassword(error.what()));
}

std::unique_ptr<Recordset> OdbcConnection::query(const std::string& sql) try {
    SQLHSTMT statement = NewStatement(connection_);
    ExecuteOn(statement, sql);
    SQLSMALLINT columns = 0;
    SQLNumResultCols(statement, &columns);
    if (columns == 0) {
        SQLFreeHandle(SQL_HANDLE_STMT, statement);
        throw DbError("the statement returned no result set");
    }
    return std::make_unique<OdbcRecordset>(statement);
} catch (const DbError& error) {
    throw DbError(withoutPassword(error.what()));
}

void OdbcConnection::close() {
    if (connection_) {
        SQLDisconnect(connection_);
        SQLFreeHandle(SQL_HANDLE_DBC, connection_);
        connection_ = nullptr;
    }
    if (environment_) {
        SQLFreeHandle(SQL_HANDLE_ENV, environment_);
        environment_ = nullptr;
    }
}

}  // namespace kvo::driver
