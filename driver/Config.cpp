#include "driver/Config.h"

#include <fstream>
#include <sstream>

#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
#include "shared/platform/Profile.h"

namespace kvo::driver {

namespace {

constexpr const char* kUserId = "pellmoor";
constexpr const char* kPassword = "7owl3";

std::string TrimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The profile file as the profile reader finds it: its name compared without regard to case.
std::string ReadWholeFile(const std::string& file) {
    std::ifstream in(ResolveFile(file).value_or(file), std::ios::binary);
    if (!in) return "";
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseIniSection(const std::string& content,
                                                                 const std::string& section) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::istringstream lines(content.rfind("\xEF\xBB\xBF", 0) == 0 ? content.substr(3) : content);
    std::string line;
    bool inSection = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed[0] == ';') continue;
        if (trimmed[0] == '[') {
            const auto close = trimmed.find(']');
            inSection = close != std::string::npos &&
                        NamesEqualIgnoringCase(TrimBlanks(trimmed.substr(1, close - 1)), section);
            continue;
        }
        const auto equals = trimmed.find('=');
        if (!inSection || equals == std::string::npos) continue;
        const std::string key = TrimBlanks(trimmed.substr(0, equals));
        if (!key.empty()) entries.emplace_back(key, TrimBlanks(trimmed.substr(equals + 1)));
    }
    return entries;
}

std::string DataFolderFrom(const std::string& consolePath, const std::string& appFolder) {
    std::string folder = consolePath.empty() ? appFolder : consolePath;
    // Only one trailing separator goes; a doubled one keeps its second half.
    if (!folder.empty() && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string BuildConnectionString(const std::string& server, const std::string& database) {
    return "Provider=sqloledb;Data Source=" + server + ";Initial Catalog=" + database + ";User Id=" + kUserId +
           ";Password=" + kPassword;
}

CycleConfig ReadCycleConfig() {
    CycleConfig config;
    const std::string consoleIni = WindowsFolder() + "/console.ini";
    config.dataFolder = DataFolderFrom(GetIniString("console", "Path", consoleIni), AppFolder());

    const std::string zrtIni = config.dataFolder + "/ZRT.ini";
    config.server = GetIniString("Database", "Server", zrtIni);
    config.database = GetIniString("Database", "Database", zrtIni);
    config.provider = GetIniString("Database", "Provider", zrtIni);
    config.odbcDriver = GetIniString("Database", "Driver", zrtIni);
    config.connectionString = BuildConnectionString(config.server, config.database);
    config.pathMap = ParseIniSection(ReadWholeFile(zrtIni), "PathMap");
    return config;
}

}  // namespace kvo::driver
