#include "driver/store/DbConnection.h"

#include "driver/Config.h"
#include "driver/store/OdbcConnection.h"
#include "driver/store/OdbcConnectionString.h"
#include "driver/store/SqliteConnection.h"
#include "shared/platform/Text.h"

namespace kvo::driver {

std::unique_ptr<DbConnection> OpenConnection(const CycleConfig& config, DbAccess access) {
    auto connection = MakeConnection(config, access);
    connection->open();
    if (!connection->isOpen())
        throw DbError("cannot open the database '" + config.database + "' on server '" + config.server + "'");
    return connection;
}

std::string SqliteDatabasePath(const CycleConfig& config) {
    if (config.database.empty() || config.database.front() == '/') return config.database;
    return config.dataFolder + "/" + config.database;
}

std::unique_ptr<DbConnection> MakeConnection(const CycleConfig& config, DbAccess access) {
    if (UsesEmbeddedStore(config))
        return std::make_unique<SqliteConnection>(SqliteDatabasePath(config), SqliteConnection::kDefaultBusyTimeoutMs,
                                                  access);
    if (config.provider.empty() || EqualsIgnoringCase(config.provider, "sqloledb")) {
        if (!config.login.refusal.empty()) throw DbError("cannot use the database login: " + config.login.refusal);
        OdbcTarget target = TranslateConnectionString(config.connectionString, config.odbcDriver);
        return std::make_unique<OdbcConnection>(std::move(target.connectionString), std::move(target.server),
                                                std::move(target.database), true,
                                                OdbcConnection::kLoginTimeoutSeconds, std::move(target.password),
                                                access);
    }
    throw DbError("unknown database provider \"" + config.provider +
                  "\" in ZRT.ini [Database] Provider (expected sqloledb or sqlite)");
}

}  // namespace kvo::driver
