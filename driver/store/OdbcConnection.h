#pragma once
// The production store: SQL Server through unixODBC and the FreeTDS driver (or another ODBC
// driver named in ZRT.ini).
#include <string>

#include "driver/store/DbConnection.h"

namespace kvo::driver {

class OdbcConnection : public DbConnection {
public:
    static constexpr int kLoginTimeoutSeconds = 30;

    // `odbcConnectionString` goes to SQLDriverConnect as it is; `server` and `database` only
    // name the target in messages (the string itself holds the password). `sqlServer` tells
    // which statement texts the database behind the driver speaks. `password` is blanked out
    // of every message, whatever the driver puts into its own. ReadOnly asks the driver for a
    // read-only connection, where it knows how.
    OdbcConnection(std::string odbcConnectionString, std::string server, std::string database, bool sqlServer,
                   int loginTimeoutSeconds = kLoginTimeoutSeconds, std::string password = "",
                   DbAccess access = DbAccess::ReadWrite);
    ~OdbcConnection() override;
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    void open() override;
    bool isOpen() const override;
    long long execute(const std::string& sql) override;
    std::unique_ptr<Recordset> query(const std::string& sql) override;
    void close() override;
    bool isSqlServer() const override { return sqlServer_; }

private:
    // The message with every occurrence of the password replaced by "***".
    std::string withoutPassword(std::string message) const;

    std::string connectionString_;
    std::string server_;
    std::string database_;
    bool sqlServer_;
    int loginTimeoutSeconds_;
    std::string password_;
    DbAccess access_;
    void* environment_ = nullptr;  // SQLHENV
    void* connection_ = nullptr;   // SQLHDBC
};

}  // namespace kvo::driver
