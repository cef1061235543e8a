#include "driver/SystemCheck.h"
#include "shared/platform/FileSearch.h"

#include "shared/OcrLanguages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "driver/Config.h"
#include "driver/PathMap.h"
#include "driver/queue/QueueStatements.h"
#include "driver/store/DbConnection.h"
#include "shared/clsRegistry.h"
#include "shared/platform/Paths.h"
#include "shared/platform/Profile.h"

namespace kvo::driver {

namespace {

// Where Debian's Tesseract looks when TESSDATA_PREFIX is not set.
constexpr const char* kTessdataFolder = "/usr/share/tesseract-ocr/5/tessdata";

CheckLine Configuration(const CycleConfig& config) {
    const auto problems = ProfileProblems(config);
    if (!problems.empty()) {
        std::string detail;
        for (const std::string& problem : problems) detail += (detail.empty() ? "" : "; ") + problem;
        return {false, "configuration", detail + "; fix: create it from share/kvo/examples"};
    }
    std::string detail = config.consoleIni + ", " + config.zrtIni + "; Provider=" + config.provider +
                         " Server=" + config.server + " Database=" + config.database +
                         " User=" + (config.login.builtIn ? "(built-in)" : config.login.user) +
                         " Workers=" + (config.workers.empty() ? "(cores)" : config.workers);
    if (!config.login.refusal.empty()) return {false, "configuration", config.login.refusal};
    return {true, "configuration", detail};
}

bool TableExists(DbConnection& connection, const std::string& existence) {
    auto count = connection.query(existence);
    return !count->eof() && count->field("Total").value_or("0") != "0";
}

CheckLine Database(const CycleConfig& config) {
    try {
        auto connection = MakeConnection(config, DbAccess::ReadOnly);
        connection->open();
        const QueueStatements& statements = connection->isSqlServer() ? SqlServerStatements() : SqliteStatements();
        const bool queue = TableExists(*connection, statements.existence);
        const bool work = TableExists(*connection, statements.workExistence);
        const bool sqlServer = connection->isSqlServer();
        connection->close();
        if (queue && work) return {true, "database", config.database + ": the queue tables are present"};
        // The embedded store creates them when its file can be written; a server when the
        // login may create tables, which only the first cycle finds out.
        if (!sqlServer && access(SqliteDatabasePath(config).c_str(), W_OK) != 0)
            return {false, "database",
                    SqliteDatabasePath(config) + " cannot be written, so the queue tables cannot be created; fix: let the "
                                      "service's user write it"};
        return {true, "database", config.database + ": the queue tables are missing; the first cycle creates them"};
    } catch (const std::exception& error) {
        const std::string problem = error.what();
        if (problem.find("; fix: ") != std::string::npos) return {false, "database", problem};
        return {false, "database", problem + "; fix: ZRT.ini [Database]"};
    }
}

CheckLine Ghostscript() {
    const std::string folder = GhostscriptFolder();
    if (!folder.empty() && access((folder + "/gs").c_str(), X_OK) == 0) return {true, "Ghostscript", folder + "/gs"};
    return {false, "Ghostscript", "gs is not on PATH; fix: apt-get install ghostscript"};
}

std::vector<CheckLine> Languages(const std::string& consoleIni) {
    const char* prefix = std::getenv("TESSDATA_PREFIX");
    const std::string folder = prefix && *prefix ? prefix : kTessdataFolder;
    std::vector<CheckLine> lines;
    // Pages lying on their side or upside down are turned upright only with the orientation data.
    if (const std::string osd = folder + "/osd.traineddata"; access(osd.c_str(), R_OK) == 0)
        lines.push_back({true, "orientation detection", osd});
    else
        lines.push_back({false, "orientation detection", osd + " is missing; fix: apt-get install tesseract-ocr-osd"});
    for (const std::string& language : OcrLanguagesOf(GetIniString("OCR", "Languages", consoleIni))) {
        const std::string file = folder + "/" + language + ".traineddata";
        if (access(file.c_str(), R_OK) == 0) lines.push_back({true, "OCR language " + language, file});
        else lines.push_back({false, "OCR language " + language,
                              file + " is missing; fix: apt-get install tesseract-ocr-" + language});
    }
    return lines;
}

CheckLine Temp() {
    try {
        const std::string folder = TempFolder();
        if (const std::string fault = WorkFolderFault(folder); !fault.empty())
            return {false, "TEMP", fault + "; fix: chown <the service's user> " + folder + "; chmod 0700 " + folder +
                                       ", or set TEMP to a folder of the service's user's own"};
        const std::optional<std::uint64_t> free = FreeBytesIn(folder);
        if (access(folder.c_str(), W_OK | X_OK) != 0 || !free)
            return {false, "TEMP", folder + " cannot be written; fix: set TEMP to a folder the service's user owns"};
        return {true, "TEMP", folder + " is writable, " + std::to_string(*free / (1024 * 1024)) + " MB free"};
    } catch (const std::exception& error) {
        return {false, "TEMP", std::string(error.what()) + "; fix: set TEMP to a folder the service's user owns"};
    }
}

std::vector<CheckLine> PathMapTargets(const CycleConfig& config) {
    std::vector<CheckLine> lines;
    const PathMapEntries missing = MissingTargets(config.pathMap);
    for (const auto& [hostPrefix, folder] : config.pathMap) {
        const std::string what = "PathMap " + hostPrefix;
        bool absent = false;
        for (const auto& entry : missing) absent = absent || entry.second == folder;
        if (absent) lines.push_back({false, what, folder + " does not exist; fix: mount the share there"});
        else if (LooksUnmounted(folder)) lines.push_back({false, what, folder + " is an empty folder, not a mounted share; fix: mount the share there"});
        else lines.push_back({true, what, folder});
    }
    return lines;
}

}  // namespace

std::string CheckText(const CheckLine& line) {
    return std::string(line.passed ? "ok    " : "FAIL  ") + line.what + ": " + line.detail;
}

std::vector<std::string> OcrLanguagesOf(const std::string& setting) {
    std::vector<std::string> languages;
    for (const std::string& part : OcrLanguageParts(setting))
        if (part.front() != '~') languages.push_back(part);
    if (languages.empty()) languages.push_back("eng");
    return languages;
}

std::vector<CheckLine> RunChecks() {
    const CycleConfig config = ReadCycleConfig();
    std::vector<CheckLine> lines{Configuration(config)};
    if (lines.front().passed) lines.push_back(Database(config));
    lines.push_back(Ghostscript());
    for (CheckLine& line : Languages(config.consoleIni)) lines.push_back(std::move(line));
    lines.push_back(Temp());
    for (CheckLine& line : PathMapTargets(config)) lines.push_back(std::move(line));
    return lines;
}

std::vector<CheckLine> MissingSetUp(const std::string& consoleIni) {
    std::vector<CheckLine> lines{Ghostscript(), Temp()};
    for (CheckLine& line : Languages(consoleIni)) lines.push_back(std::move(line));
    std::erase_if(lines, [](const CheckLine& line) { return line.passed; });
    return lines;
}

}  // namespace kvo::driver
