#include "driver/store/SqliteConnection.h"

#include <sqlite3.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <thread>

#include "driver/JournalLog.h"
#include "driver/store/FieldNames.h"

namespace kvo::driver {

namespace {

std::string MessageOf(sqlite3* db) { return db ? sqlite3_errmsg(db) : "out of memory"; }

class SqliteRecordset : public Recordset {
public:
    // Takes over a prepared statement that has not been stepped yet.
    explicit SqliteRecordset(sqlite3_stmt* statement) : statement_(statement) {
        std::vector<std::string> names;
        for (int i = 0; i < sqlite3_column_count(statement_); ++i) names.emplace_back(sqlite3_column_name(statement_, i));
        names_ = FieldNames(std::move(names));
        step();
    }
    ~SqliteRecordset() override { close(); }

    bool isOpen() const override { return statement_ != nullptr; }
    bool eof() const override { return !hasRow_; }

    void moveNext() override {
        if (!statement_) throw DbError("the recordset is closed");
        if (hasRow_) step();
    }

    std::optional<std::string> field(const std::string& name) const override {
        const int column = names_.indexOf(name);
        if (!statement_ || !hasRow_) throw DbError("no current row to read field " + name + " from");
        if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
    }

    void close() override {
        if (statement_) sqlite3_finalize(statement_);
        statement_ = nullptr;
        hasRow_ = false;
    }

private:
    void step() {
        const int result = sqlite3_step(statement_);
        hasRow_ = result == SQLITE_ROW;
        if (result != SQLITE_ROW && result != SQLITE_DONE) {
            std::string message = MessageOf(sqlite3_db_handle(statement_));
            close();
            throw DbError(message);
        }
    }

    sqlite3_stmt* statement_;
    FieldNames names_;
    bool hasRow_ = false;
};

}  // namespace

std::optional<std::string> NetworkFileSystemName(std::uint32_t fileSystemType) {
    switch (fileSystemType) {
        case 0x6969: return "NFS";
        case 0x517B: return "SMB";
        case 0xFE534D42: return "SMB2";
        case 0xFF534D42: return "CIFS";
        case 0x564C: return "NCP";
        case 0x00C36400: return "Ceph";
        case 0x5346414F: return "AFS";
        case 0x6B414653: return "AFS";
        case 0x73757245: return "Coda";
        case 0x0BD00BD0: return "Lustre";
        case 0x01021997: return "9p";
        default: return std::nullopt;
    }
}

std::optional<std::uint32_t> StatfsType(const std::string& path) {
    struct statfs fileSystem {};
    if (statfs(path.c_str(), &fileSystem) != 0) return std::nullopt;
    return static_cast<std::uint32_t>(fileSystem.f_type);
}

SqliteConnection::SqliteConnection(std::string databaseFile, int busyTimeoutMs, DbAccess access,
                                   FileSystemTypeOf fileSystemTypeOf)
    : databaseFile_(std::move(databaseFile)), busyTimeoutMs_(busyTimeoutMs), access_(access),
      fileSystemTypeOf_(std::move(fileSystemTypeOf)) {}

SqliteConnection::~SqliteConnection() { close(); }

namespace {

std::string FailureOpening(const std::string& file) { return "cannot open the SQLite database \"" + file + "\": "; }

// The file as a URI ("file:" and the path, every byte but the plain ones percent-encoded), so
// that query parameters can follow it.
std::string FileUri(const std::string& path) {
    std::string uri = "file:";
    for (const unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        }
    }
    return uri;
}

// Whether the connection can read the database; its extended error code when it cannot.
int ReadProbe(sqlite3* db) {
    sqlite3_stmt* probe = nullptr;
    int result = sqlite3_prepare_v2(db, "SELECT count(1) FROM sqlite_master", -1, &probe, nullptr);
    if (result == SQLITE_OK) result = sqlite3_step(probe) == SQLITE_ROW ? SQLITE_OK : sqlite3_extended_errcode(db);
    else result = sqlite3_extended_errcode(db);
    sqlite3_finalize(probe);
    return result;
}

}  // namespace

sqlite3* SqliteConnection::openHandle(const std::string& name, int flags) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(name.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        std::string message = MessageOf(db);
        sqlite3_close(db);
        throw DbError(FailureOpening(databaseFile_) + message);
    }
    sqlite3_busy_handler(db, &SqliteConnection::WaitWhileLocked, this);
    sqlite3_extended_result_codes(db, 1);
    return db;
}

void SqliteConnection::openReadOnly() {
    sqlite3* db = openHandle(databaseFile_, SQLITE_OPEN_READONLY);
    // A write-ahead-logged database needs its shared-memory file, which a reader without write
    // access cannot make. When there is none and no log either, nobody has the database open:
    // it is read as it lies.
    if ((ReadProbe(db) & 0xFF) == SQLITE_READONLY && access((databaseFile_ + "-wal").c_str(), F_OK) != 0) {
        sqlite3_close(db);
        db = openHandle(FileUri(databaseFile_) + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    }
    db_ = db;
}

void SqliteConnection::open() {
    close();
    const std::string failure = FailureOpening(databaseFile_);
    if (databaseFile_.empty()) throw DbError(failure + "no database file is named (ZRT.ini [Database] Database)");
    // SQLite's locks and write-ahead log do not hold across machines: a database shared over
    // the network gets corrupted.
    if (const auto type = fileSystemTypeOf_(databaseFile_))
        if (const auto network = NetworkFileSystemName(*type))
            throw DbError(failure + "it lies on a network file system (" + *network +
                          "), where SQLite's locking does not work and the queue gets corrupted; fix: keep "
                          "it on a local disk of the one machine that runs the drivers, or use SQL Server "
                          "(ZRT.ini [Database] Server= and Database=) for several machines");
    if (access_ == DbAccess::ReadOnly) return openReadOnly();
    sqlite3* db = openHandle(databaseFile_, SQLITE_OPEN_READWRITE);
    // Without write access every outcome would be lost and each attachment done again.
    if (sqlite3_db_readonly(db, "main") == 1) {
        sqlite3_close(db);
        throw DbError(failure + "the database file can only be read");
    }

    // Write-ahead logging lets the selection keep reading its snapshot while the second
    // connection commits updates; without it the updates would wait for the whole walk.
    std::string mode;
    sqlite3_stmt* pragma = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL", -1, &pragma, nullptr) == SQLITE_OK &&
        sqlite3_step(pragma) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(pragma, 0));
        mode = text ? text : "";
    }
    std::string message = MessageOf(db);
    sqlite3_finalize(pragma);
    if (mode != "wal") {
        sqlite3_close(db);
        throw DbError(failure + (mode.empty() ? message : "write-ahead logging refused (journal mode " + mode + ")"));
    }
    db_ = db;
}

int SqliteConnection::WaitWhileLocked(void* self, int attempt) {
    // Another connection holds the lock: wait in short steps, tell the operator once per
    // statement when the wait gets noticeable, and give up (the statement then fails) when the
    // connection's time is up.
    constexpr int kStepMs = 50;
    constexpr int kReportAfterMs = 1000;
    const auto& connection = *static_cast<const SqliteConnection*>(self);
    const int waited = attempt * kStepMs;
    if (waited >= connection.busyTimeoutMs_) return 0;
    if (waited == kReportAfterMs)
        Report("the database \"" + connection.databaseFile_ + "\" is locked by another connection; waiting up to " +
                   std::to_string(connection.busyTimeoutMs_ / 1000) + " s",
               LogPriority::Warning);
    std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    return 1;
}

bool SqliteConnection::isOpen() const { return db_ != nullptr; }

long long SqliteConnection::execute(const std::string& sql) {
    if (!db_) throw DbError("the SQLite database is not open");
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : MessageOf(db_);
        sqlite3_free(error);
        throw DbError(message);
    }
    return sqlite3_changes64(db_);
}

std::unique_ptr<Recordset> SqliteConnection::query(const std::string& sql) {
    if (!db_) throw DbError("the SQLite database is not open");
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK)
        throw DbError(MessageOf(db_));
    if (!statement) throw DbError("the query text holds no statement");
    return std::make_unique<SqliteRecordset>(statement);
}

void SqliteConnection::close() {
    // close_v2 waits for recordsets still open before it lets the handle go.
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

}  // namespace kvo::driver
