#pragma once
// The configuration a run cycle reads afresh: console.ini in the Windows folder and ZRT.ini in
// the data folder.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kvo::driver {

// The database login: ZRT.ini [Database] User= with PasswordFile= or $KVO_DB_PASSWORD, else the
// system's built-in login.
struct DbLogin {
    std::string user;
    std::string password;
    bool builtIn = false;
    std::string refusal;  // why the configured login cannot be used; "" when it can
};

// A live worker renews its claim every minute, so a claim only has to outlast a dead worker's
// last renewal by a safe margin: a quarter of an hour.
inline constexpr double kDefaultClaimHours = 0.25;
inline constexpr int kDefaultMaxAttempts = 3;

struct CycleConfig {
    std::string consoleIni;        // where console.ini was looked for (the Windows folder)
    std::string zrtIni;            // where ZRT.ini was looked for (the data folder)
    std::string dataFolder;        // console.ini [console] Path, else the application folder;
                                   // one trailing "/" removed
    std::string workers;           // console.ini [console] Workers, as written ("" when absent)
    std::string server;            // ZRT.ini [Database] Server
    std::string database;          // ZRT.ini [Database] Database
    std::string provider;          // ZRT.ini [Database] Provider: "" or "sqloledb" or "sqlite"
    std::string odbcDriver;        // ZRT.ini [Database] Driver (optional ODBC driver name)
    DbLogin login;
    std::string connectionString;  // "Provider=sqloledb;Data Source=…;Initial Catalog=…;User Id=…;Password=…"
    // ZRT.ini [PathMap]: host path prefix -> local folder, in file order.
    std::vector<std::pair<std::string, std::string>> pathMap;
    double claimHours = kDefaultClaimHours;  // console.ini [console] ClaimHours: when an unrenewed claim expires
    int maxAttempts = kDefaultMaxAttempts;   // console.ini [console] MaxAttempts: machine faults per row
};

// True when ZRT.ini names the embedded store (Provider=sqlite, in any case).
bool UsesEmbeddedStore(const CycleConfig& config);

// Reads both profile files as a cycle starts. Says once per program run, on standard error,
// when SQL Server is reached with the built-in login.
CycleConfig ReadCycleConfig();

// Why a cycle cannot use its profile files, one line each naming the file and every place it
// was looked for; empty when it can. A console.ini that does not exist is allowed (ZRT.ini is
// then looked for in the program's folder); one that exists but cannot be read is not.
std::vector<std::string> ProfileProblems(const CycleConfig& config);

// The connection string, each value quoted by the ODBC rule (ConnectionStringValue).
std::string BuildConnectionString(const std::string& server, const std::string& database, const DbLogin& login);

// The login from ZRT.ini's User= and PasswordFile= (absolute, or relative to `dataFolder`) and
// the value of $KVO_DB_PASSWORD (nullopt when unset); the password file wins over the variable.
// Nothing configured gives the built-in login. A password file that group or others can read or
// write, that cannot be read or is empty, or a password without a user (or the reverse), gives
// a refusal that names the file or key but never the password.
DbLogin LoginFrom(const std::string& user, const std::string& passwordFile, const std::string& dataFolder,
                  const std::optional<std::string>& environmentPassword);

// $KVO_DB_PASSWORD as this process was started with it (nullopt when it was not set). The first
// call takes it out of the environment, so that no program started afterwards inherits it.
const std::optional<std::string>& EnvironmentPassword();
// In a worker process: the password its driver took from its own environment, handed over.
void AdoptEnvironmentPassword(std::optional<std::string> password);

// The data folder: console.ini's Path, else the application folder, then one trailing "/"
// removed (only one).
std::string DataFolderFrom(const std::string& consolePath, const std::string& appFolder);

// A setting's number: "" gives `fallback`; text that is no positive number gives nullopt.
std::optional<double> PositiveNumberOr(const std::string& text, double fallback);

}  // namespace kvo::driver
