#pragma once
// Translation of the driver's connection string ("Provider=sqloledb;Data Source=…;Initial
// Catalog=…;User Id=…;Password=…") into the keywords of an ODBC driver such as FreeTDS.
#include <string>

namespace kvo::driver {

inline constexpr const char* kDefaultOdbcDriver = "FreeTDS";

struct OdbcTarget {
    std::string connectionString;  // for SQLDriverConnect; holds the password
    std::string server;            // as configured, for messages
    std::string database;          // as configured, for messages
    std::string password;          // kept out of every message
};

// Data Source becomes Server (and Port for "host,port"; "host\instance" is kept for the
// driver to resolve), Initial Catalog becomes Database, User Id and Password become UID and
// PWD, and the client character set is UTF-8; FreeTDS is asked for TDS 7.4 (a fixed version,
// so that its login timeout holds). `odbcDriver` empty means FreeTDS. Values are read and
// written by the ODBC quoting rule below, so each reaches the driver whole.
OdbcTarget TranslateConnectionString(const std::string& connectionString, const std::string& odbcDriver);

// A value as a connection string holds it (the ODBC rule): as it is, or, when it holds ";", "{"
// or "}" or begins or ends with a blank, in braces with every "}" doubled. So no value (a
// password above all) can end early and add a key of its own.
std::string ConnectionStringValue(const std::string& value);

}  // namespace kvo::driver
