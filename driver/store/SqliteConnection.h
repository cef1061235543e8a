#pragma once
// The embedded store: one SQLite database file holding the host tables and DASearchable.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "driver/store/DbConnection.h"

struct sqlite3;

namespace kvo::driver {

// The name of the network file system with this statfs f_type ("NFS", "SMB", ...); nullopt for
// a file system of this machine.
std::optional<std::string> NetworkFileSystemName(std::uint32_t fileSystemType);

// The statfs f_type of the file system holding `path`; nullopt when it cannot be read.
using FileSystemTypeOf = std::function<std::optional<std::uint32_t>(const std::string& path)>;
std::optional<std::uint32_t> StatfsType(const std::string& path);

class SqliteConnection : public DbConnection {
public:
    // How long a statement waits for a lock another connection holds before it reports the
    // database as busy.
    static constexpr int kDefaultBusyTimeoutMs = 30000;

    explicit SqliteConnection(std::string databaseFile, int busyTimeoutMs = kDefaultBusyTimeoutMs,
                              DbAccess access = DbAccess::ReadWrite, FileSystemTypeOf fileSystemTypeOf = StatfsType);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // Opens an existing database file (a missing file is an error, nothing is created, and so is
    // one on a network file system, where SQLite's locks do not hold) and switches it to
    // write-ahead logging, so that a selection being walked keeps its snapshot while another
    // connection updates rows. ReadOnly switches nothing and needs only read access.
    void open() override;
    bool isOpen() const override;
    long long execute(const std::string& sql) override;
    std::unique_ptr<Recordset> query(const std::string& sql) override;
    void close() override;
    bool isSqlServer() const override { return false; }

private:
    static int WaitWhileLocked(void* self, int attempt);
    // The file opened with `flags`, waiting for locks; throws DbError.
    sqlite3* openHandle(const std::string& name, int flags);
    void openReadOnly();

    std::string databaseFile_;
    int busyTimeoutMs_;
    DbAccess access_;
    FileSystemTypeOf fileSystemTypeOf_;
    sqlite3* db_ = nullptr;
};

}  // namespace kvo::driver
