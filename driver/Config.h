#pragma once
// The configuration a run cycle reads afresh: console.ini in the Windows folder and ZRT.ini in
// the data folder.
#include <string>
#include <utility>
#include <vector>

namespace kvo::driver {

struct CycleConfig {
    std::string dataFolder;        // console.ini [console] Path, else the application folder;
                                   // one trailing "/" removed
    std::string server;            // ZRT.ini [Database] Server
    std::string database;          // ZRT.ini [Database] Database
    std::string provider;          // ZRT.ini [Database] Provider: "" or "sqloledb" or "sqlite"
    std::string odbcDriver;        // ZRT.ini [Database] Driver (optional ODBC driver name)
    std::string connectionString;  // "Provider=sqloledb;Data Source=…;Initial Catalog=…;User Id=pellmoor;Password=7owl3"
    // ZRT.ini [PathMap]: host path prefix -> local folder, in file order.
    std::vector<std::pair<std::string, std::string>> pathMap;
};

// Reads both profile files as a cycle starts.
CycleConfig ReadCycleConfig();

// The connection string, by plain concatenation.
std::string BuildConnectionString(const std::string& server, const std::string& database);

// The data folder: console.ini's Path, else the application folder, then one trailing "/"
// removed (only one).
std::string DataFolderFrom(const std::string& consolePath, const std::string& appFolder);

// Every key=value line of one section of a profile file's content, in file order (section name
// compared without regard to case, blanks around key and value removed, ";" lines skipped).
std::vector<std::pair<std::string, std::string>> ParseIniSection(const std::string& content,
                                                                 const std::string& section);

}  // namespace kvo::driver
