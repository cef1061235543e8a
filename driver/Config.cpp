#include "driver/Config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "driver/JournalLog.h"
#include "driver/store/OdbcConnectionString.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
#include "shared/platform/Profile.h"
#include "shared/platform/Text.h"

namespace kvo::driver {

namespace {

// The login of installations that configure none.
constexpr const char* kBuiltInUserId = "pellmoor";
constexpr const char* kBuiltInPassword = "7owl3";

std::string InDataFolder(const std::string& path, const std::string& dataFolder) {
    return (path.empty() || path.front() == '/') ? path : dataFolder + "/" + path;
}

// The first line of the password file; a refusal when others could read it as well, or change
// it (and with it the login).
DbLogin PasswordFromFile(const std::string& user, const std::string& file) {
    DbLogin login{user, "", false, ""};
    const std::string named = "the password file " + file + " (ZRT.ini [Database] PasswordFile)";
    struct stat info{};
    if (stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        login.refusal = named + " does not exist or is no regular file";
    } else if ((info.st_mode & (S_IRGRP | S_IROTH | S_IWGRP | S_IWOTH)) != 0) {
        login.refusal = named + " can be read or changed by group or others; allow only its owner (chmod 600)";
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in || !std::getline(in, login.password)) login.password.clear();
        if (!login.password.empty() && login.password.back() == '\r') login.password.pop_back();
        if (login.password.empty()) login.refusal = named + " cannot be read or holds no password";
    }
    if (!login.refusal.empty()) login.password.clear();
    return login;
}

std::string Setting(const char* key, const std::string& consoleIni) {
    return GetIniString("console", key, consoleIni);
}

void ReportBadSetting(const char* key, const std::string& value, const std::string& fallback) {
    Report(std::string("console.ini [console] ") + key + "=" + value + " is no positive number; using " + fallback,
           LogPriority::Warning);
}

enum class FileState { Readable, Missing, Unreadable };

FileState StateOf(const std::string& path) {
    const auto real = ResolveFile(path);
    if (!real) return FindEntry(path) ? FileState::Unreadable : FileState::Missing;  // e.g. a folder
    return access(real->c_str(), R_OK) == 0 ? FileState::Readable : FileState::Unreadable;
}

}  // namespace

std::vector<std::string> ProfileProblems(const CycleConfig& config) {
    std::vector<std::string> problems;
    const FileState console = StateOf(config.consoleIni);
    const std::string consolePlace = config.consoleIni + " (the folder $windir names, else /etc/kvo)";
    if (console == FileState::Unreadable) problems.push_back("console.ini cannot be read: " + consolePlace);
    const FileState zrt = StateOf(config.zrtIni);
    if (zrt != FileState::Readable) {
        std::string line = "ZRT.ini " + std::string(zrt == FileState::Missing ? "is missing" : "cannot be read") +
                           ": looked for " + config.zrtIni;
        line += console == FileState::Missing ? " (the program's folder, as console.ini was not found at " +
                                                    consolePlace + ")"
                                              : " (console.ini [console] Path=, else the program's folder)";
        problems.push_back(line);
    }
    return problems;
}

std::string DataFolderFrom(const std::string& consolePath, const std::string& appFolder) {
    std::string folder = consolePath.empty() ? appFolder : consolePath;
    // Only one trailing separator goes; a doubled one keeps its second half.
    if (!folder.empty() && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string BuildConnectionString(const std::string& server, const std::string& database, const DbLogin& login) {
    return "Provider=sqloledb;Data Source=" + ConnectionStringValue(server) +
           ";Initial Catalog=" + ConnectionStringValue(database) + ";User Id=" + ConnectionStringValue(login.user) +
           ";Password=" + ConnectionStringValue(login.password);
}

DbLogin LoginFrom(const std::string& user, const std::string& passwordFile, const std::string& dataFolder,
                  const std::optional<std::string>& environmentPassword) {
    const bool hasPassword = !passwordFile.empty() || environmentPassword.has_value();
    if (user.empty() && !hasPassword) return {kBuiltInUserId, kBuiltInPassword, true, ""};
    if (user.empty())
        return {"", "", false, "a database password is configured but ZRT.ini [Database] names no User"};
    if (!passwordFile.empty()) return PasswordFromFile(user, InDataFolder(passwordFile, dataFolder));
    if (!environmentPassword)
        return {user, "", false,
                "ZRT.ini [Database] User=" + user + " has no password: set PasswordFile= or KVO_DB_PASSWORD"};
    return {user, *environmentPassword, false, ""};
}

namespace {

std::optional<std::string>& KeptPassword() {
    static std::optional<std::string> password = [] {
        const char* value = std::getenv("KVO_DB_PASSWORD");
        std::optional<std::string> taken = value ? std::optional<std::string>(value) : std::nullopt;
        unsetenv("KVO_DB_PASSWORD");
        return taken;
    }();
    return password;
}

}  // namespace

const std::optional<std::string>& EnvironmentPassword() { return KeptPassword(); }

void AdoptEnvironmentPassword(std::optional<std::string> password) { KeptPassword() = std::move(password); }

std::optional<double> PositiveNumberOr(const std::string& text, double fallback) {
    if (text.empty()) return fallback;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value <= 0)
        return std::nullopt;
    return value;
}

bool UsesEmbeddedStore(const CycleConfig& config) { return EqualsIgnoringCase(config.provider, "sqlite"); }

CycleConfig ReadCycleConfig() {
    CycleConfig config;
    const std::string consoleIni = WindowsFolder() + "/console.ini";
    config.consoleIni = consoleIni;
    config.dataFolder = DataFolderFrom(Setting("Path", consoleIni), AppFolder());

    const std::string claimHours = Setting("ClaimHours", consoleIni);
    if (auto hours = PositiveNumberOr(claimHours, kDefaultClaimHours)) config.claimHours = *hours;
    else ReportBadSetting("ClaimHours", claimHours, "0.25 hours");
    const std::string maxAttempts = Setting("MaxAttempts", consoleIni);
    const auto attempts = PositiveNumberOr(maxAttempts, kDefaultMaxAttempts);
    if (attempts && *attempts == std::floor(*attempts) && *attempts <= 1000) config.maxAttempts = static_cast<int>(*attempts);
    else ReportBadSetting("MaxAttempts", maxAttempts, "3");
    config.workers = Setting("Workers", consoleIni);

    const std::string zrtIni = config.dataFolder + "/ZRT.ini";
    config.zrtIni = zrtIni;
    config.server = GetIniString("Database", "Server", zrtIni);
    config.database = GetIniString("Database", "Database", zrtIni);
    config.provider = GetIniString("Database", "Provider", zrtIni);
    config.odbcDriver = GetIniString("Database", "Driver", zrtIni);
    config.login = LoginFrom(GetIniString("Database", "User", zrtIni), GetIniString("Database", "PasswordFile", zrtIni),
                             config.dataFolder, EnvironmentPassword());
    config.connectionString = BuildConnectionString(config.server, config.database, config.login);
    config.pathMap = GetIniSection("PathMap", zrtIni);

    static bool builtInLoginTold = false;
    if (config.login.builtIn && !UsesEmbeddedStore(config) && !builtInLoginTold) {
        builtInLoginTold = true;
        Report("the built-in database login is in use (set User= and PasswordFile= in ZRT.ini [Database], or "
               "KVO_DB_PASSWORD)",
               LogPriority::Warning);
    }
    return config;
}

}  // namespace kvo::driver
