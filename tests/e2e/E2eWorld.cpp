#include "E2eWorld.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>

#include "driver/store/SqliteConnection.h"
#include "shared/ChildProcess.h"
#include "shared/platform/CommandLine.h"

extern char** environ;

namespace kvo::test {
namespace {

const char* const kPrograms[] = {"KVOProcess", "KVOProcessSlides", "KVOTiffSplitter", "KVOPDFSplitter",
                                 "KVOOCR",     "KVOOCRSave",       "KVOOCRWrd"};

std::string SqlText(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

void RunGhostscript(const std::string& device, const std::string& options, const fs::path& output,
                    const std::vector<std::string>& corpusPdfs) {
    std::string command = "gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=" + device + " " + options +
                          " -sOutputFile=" + QuoteArgument(output.string());
    for (const std::string& pdf : corpusPdfs) command += " " + QuoteArgument((CorpusDir() / pdf).string());
    if (!RunChild({.arguments = SplitCommandLine(command)}, TimeLimit::Seconds(600)).exitedWith(0) ||
        !fs::exists(output))
        throw std::runtime_error("Ghostscript could not make " + output.string());
}

}  // namespace

E2eWorld::E2eWorld(const std::string& label)
    : root_(label), app(root_ / "app"), temp(root_ / "temp"), data(root_ / "data"), windows(root_ / "windows"),
      docs(root_ / "docs"), tempVar_("TEMP", temp.string()), windirVar_("windir", windows.string()),
      displayVar_("DISPLAY", std::nullopt), waylandVar_("WAYLAND_DISPLAY", std::nullopt),
      threadVar_("OMP_THREAD_LIMIT", std::nullopt) {
    for (const fs::path& folder : {app, temp, data, windows, docs}) fs::create_directories(folder);
    for (const char* program : kPrograms) InstallProgram(BinDir() / program, app, program);
    // One worker: the chain runs in TEMP itself, where the tests watch and kill its programs.
    WriteFile(windows / "console.ini",
              "[console]\r\nPath=" + data.string() + "\r\nWorkers=1\r\n\r\n[OCR]\r\nLanguages=eng\r\n");
    WriteFile(data / "ZRT.ini", "[Database]\r\nProvider=sqlite\r\nDatabase=host.db\r\n");
    WriteFile(data / "host.db", "");
    driver::SqliteConnection connection((data / "host.db").string());
    connection.open();
    connection.execute(
        "CREATE TABLE DiaryAttachments (TrackReference INTEGER, Type TEXT, FilePath TEXT, Note TEXT);"
        "CREATE TABLE CloseDiaryAttachments (TrackReference INTEGER, Type TEXT, FilePath TEXT, Note TEXT);");
}

fs::path E2eWorld::copyDocument(const std::string& relative, const std::string& corpusName) const {
    const fs::path target = docs / relative;
    fs::create_directories(target.parent_path());
    fs::copy_file(CorpusDir() / corpusName, target, fs::copy_options::overwrite_existing);
    return target;
}

fs::path E2eWorld::makeG4Tiff(const std::string& relative, const std::vector<std::string>& corpusPdfs, int dpi) const {
    const fs::path target = docs / relative;
    fs::create_directories(target.parent_path());
    RunGhostscript("tiffg4", "-r" + std::to_string(dpi), target, corpusPdfs);
    return target;
}

fs::path E2eWorld::makeSmallScannedPdf(const std::string& relative, const std::string& corpusPdf, int widthPoints,
                                       int heightPoints) const {
    const fs::path target = docs / relative;
    fs::create_directories(target.parent_path());
    RunGhostscript("pdfwrite",
                   "-dDEVICEWIDTHPOINTS=" + std::to_string(widthPoints) + " -dDEVICEHEIGHTPOINTS=" +
                       std::to_string(heightPoints) + " -dFIXEDMEDIA -dPDFFitPage",
                   target, {corpusPdf});
    return target;
}

fs::path E2eWorld::makeJoinedPdf(const std::string& relative, const std::vector<std::string>& corpusPdfs) const {
    const fs::path target = docs / relative;
    fs::create_directories(target.parent_path());
    RunGhostscript("pdfwrite", "", target, corpusPdfs);
    return target;
}

fs::path E2eWorld::makeJpeg(const std::string& relative, const std::string& corpusPdf) const {
    const fs::path target = docs / relative;
    fs::create_directories(target.parent_path());
    RunGhostscript("jpeg", "-r200 -dJPEGQ=90", target, {corpusPdf});
    return target;
}

void E2eWorld::addAttachment(const std::string& table, int id, const std::string& type, const fs::path& path) const {
    driver::SqliteConnection connection((data / "host.db").string());
    connection.open();
    connection.execute("INSERT INTO " + table + " (TrackReference, Type, FilePath) VALUES (" + std::to_string(id) +
                       ", " + SqlText(type) + ", " + SqlText(path.string()) + ")");
}

std::map<int, HostRow> E2eWorld::rows(const std::string& table) const {
    driver::SqliteConnection connection((data / "host.db").string());
    connection.open();
    const bool queue = table == "DASearchable";
    std::map<int, HostRow> rows;
    auto result = connection.query("SELECT TrackReference AS Id, Type, FilePath" +
                                   std::string(queue ? ", Processed" : "") + " FROM " + table);
    for (; !result->eof(); result->moveNext()) {
        HostRow row{result->field("Type").value_or(""), result->field("FilePath"), std::nullopt};
        if (queue)
            if (auto processed = result->field("Processed")) row.processed = std::stoi(*processed);
        const int id = std::stoi(*result->field("Id"));
        if (rows.count(id)) throw std::runtime_error(table + " holds " + std::to_string(id) + " twice");
        rows[id] = row;
    }
    return rows;
}

int E2eWorld::runOnce(std::string* stderrText) const {
    const fs::path errors = root_ / "driver-stderr.txt";
    const std::string output = CommandOutput(ShellQuoted((app / "KVOProcess").string()) + " --once >/dev/null 2>" +
                                             ShellQuoted(errors.string()) + "; echo $?");
    if (stderrText) *stderrText = ReadFile(errors);
    return std::stoi(output);
}

pid_t E2eWorld::startOnce(const fs::path& stderrFile) const {
    std::string program = (app / "KVOProcess").string(), once = "--once";
    char* argv[] = {program.data(), once.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::vector<std::string> E2eWorld::tempFiles() const {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(temp)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace kvo::test
