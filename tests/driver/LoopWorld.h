#pragma once
// A complete little world for the batch loop: an application folder with the stand-in
// KVOProcessSlides, a private TEMP, console.ini and ZRT.ini naming an embedded host database,
// a documents folder, and a progress display that records what the loop shows.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/Cycle.h"
#include "driver/Options.h"
#include "driver/ProgressDisplay.h"
#include "driver/store/SqliteConnection.h"
#include "shared/image/RasterImage.h"
#include "shared/pdf/PdfFile.h"
#include "shared/platform/Clock.h"
#include "shared/xml/HandOff.h"
#include "support/PdfTools.h"
#include "support/TestSupport.h"

extern char** environ;

namespace kvo::test {

// Starts a program with standard input from /dev/null and its output into the given files
// ("/dev/null" to drop it). Returns the process id, 0 when it cannot start.
inline pid_t Spawn(std::vector<std::string> argv, const std::string& outFile, const std::string& errFile) {
    std::vector<char*> pointers;
    for (auto& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// What the loop showed, with the (possibly replaced) clock reading at each change.
struct DisplayLog {
    std::vector<std::pair<TimePoint, std::string>> texts;
    int pumps = 0;
    int displaysMade = 0;
    std::vector<bool> stopEnabled;

    bool showed(const std::string& text) const {
        for (const auto& [when, shown] : texts)
            if (shown.find(text) != std::string::npos) return true;
        return false;
    }
};

// A display that records; `onPump` runs at every message-processing point and may set the stop
// request, as a confirmed Stop would.
class RecordingDisplay : public driver::ProgressDisplay {
public:
    using PumpHook = std::function<void(const RecordingDisplay&, bool& stopRequested)>;
    RecordingDisplay(bool& stopRequested, DisplayLog& log, PumpHook onPump)
        : stop_(stopRequested), log_(log), onPump_(std::move(onPump)) {}
    std::string text() const override { return text_; }
    void setText(const std::string& text) override {
        text_ = text;
        log_.texts.emplace_back(Now(), text);
    }
    void setStopEnabled(bool enabled) override { log_.stopEnabled.push_back(enabled); }
    void processMessages() override {
        ++log_.pumps;
        if (onPump_) onPump_(*this, stop_);
    }

private:
    bool& stop_;
    DisplayLog& log_;
    PumpHook onPump_;
    std::string text_;
};

// One queue row as stored.
struct StoredRow {
    std::string type;
    std::optional<std::string> filePath;
    std::optional<int> processed;
};

class LoopWorld {
public:
    LoopWorld()
        : root_("kvo-loop"), app(root_ / "app"), temp(root_ / "temp"), data(root_ / "data"), win(root_ / "win"),
          docs(root_ / "docs"), results(root_ / "results"), slidesLog(root_ / "slides.log"),
          tempVar_("TEMP", temp.string()), windirVar_("windir", win.string()),
          resultsVar_("LOOP_SLIDES_RESULTS", results.string()), logVar_("LOOP_SLIDES_LOG", slidesLog.string()),
          sleepVar_("LOOP_SLIDES_SLEEP_MS", std::nullopt), displayVar_("DISPLAY", std::nullopt),
          waylandVar_("WAYLAND_DISPLAY", std::nullopt) {
        for (const fs::path& folder : {app, temp, data, win, docs, results}) fs::create_directories(folder);
        // One worker: the driver walks the queue itself, as the walk tests expect.
        WriteFile(win / "console.ini", "[console]\r\nPath=" + data.string() + "\r\nWorkers=1\r\n");
        writeZrtIni("");
        WriteFile(database(), "");
        open()->execute(
            "CREATE TABLE DiaryAttachments (TrackReference INTEGER, Type TEXT, FilePath TEXT);"
            "CREATE TABLE CloseDiaryAttachments (TrackReference INTEGER, Type TEXT, FilePath TEXT);");
        InstallProgram(HelperDir() / "loop_stand_in_slides", app, "KVOProcessSlides");
    }

    fs::path database() const { return data / "host.db"; }

    // ZRT.ini for the embedded store, with more sections after it (e.g. a [PathMap]).
    void writeZrtIni(const std::string& moreSections) const {
        WriteFile(data / "ZRT.ini",
                  "[Database]\r\nProvider=sqlite\r\nDatabase=" + database().string() + "\r\n" + moreSections);
    }

    std::unique_ptr<driver::SqliteConnection> open() const {
        auto connection = std::make_unique<driver::SqliteConnection>(database().string(), 5000);
        connection->open();
        return connection;
    }

    static std::string Quoted(const std::optional<std::string>& text) {
        if (!text) return "NULL";
        std::string quoted = "'";
        for (char c : *text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
        return quoted + "'";
    }

    void addAttachment(int id, const std::string& type, const std::optional<std::string>& path,
                       const std::string& table = "DiaryAttachments") const {
        open()->execute("INSERT INTO " + table + " VALUES (" + std::to_string(id) + ", " + Quoted(type) + ", " +
                        Quoted(path) + ")");
    }

    // A queue row the fill would never make (e.g. a pending row of a type the loop does not
    // convert).
    void addQueueRow(int id, const std::string& type, const std::string& path, int processed) const {
        auto connection = open();
        connection->execute(
            "CREATE TABLE IF NOT EXISTS DASearchable (TrackReference int not null, Type char(3) not null, "
            "FilePath char(255), Processed int)");
        connection->execute("INSERT INTO DASearchable VALUES (" + std::to_string(id) + ", " + Quoted(type) + ", " +
                            Quoted(path) + ", " + std::to_string(processed) + ")");
    }

    std::map<int, StoredRow> rows(const std::string& table = "DASearchable") const {
        std::map<int, StoredRow> rows;
        const bool queue = table == "DASearchable";
        auto result = open()->query("SELECT TrackReference AS Id, Type, FilePath" +
                                    std::string(queue ? ", Processed" : "") + " FROM " + table);
        for (; !result->eof(); result->moveNext()) {
            StoredRow row{result->field("Type").value_or(""), result->field("FilePath"), std::nullopt};
            if (queue)
                if (auto processed = result->field("Processed")) row.processed = std::stoi(*processed);
            rows[std::stoi(*result->field("Id"))] = row;
        }
        return rows;
    }

    bool queueExists() const {
        return open()->query("SELECT name FROM sqlite_master WHERE name = 'DASearchable'")->eof() == false;
    }

    std::optional<int> status(int id) const {
        auto all = rows();
        auto found = all.find(id);
        return found == all.end() ? std::nullopt : found->second.processed;
    }

    // A document in the documents folder, copied from the corpus, or else a small scanned
    // page as a TIFF of `pages` frames.
    fs::path addDocument(const std::string& relative, const std::string& corpusName = "", int pages = 1) const {
        fs::path target = docs / relative;
        fs::create_directories(target.parent_path());
        if (corpusName.empty()) {
            image::Raster page{64, 32, 1, 300, 300, 8, std::vector<std::uint8_t>(8 * 32, 0)};
            page.pixels[4 * 8 + 2] = 0xff;  // a stroke, so that no page is empty
            image::WriteMultiPageTiff(std::vector<image::Raster>(pages, page), target.string());
        } else {
            fs::copy_file(CorpusDir() / corpusName, target, fs::copy_options::overwrite_existing);
        }
        return target;
    }

    // The pipeline's result for the attachment at `attachment` (relative to the documents
    // folder, as the file really lies): a corpus PDF, or `pages` copies of its page, marked as
    // made for that attachment, as the builder marks what it makes.
    void planResult(const std::string& attachment, const std::string& corpusName, int pages = 1) const {
        const fs::path planned = planForeignResult(handoff::BaseName(attachment), corpusName, pages);
        pdf::MarkAsResultFor(planned.string(), (docs / attachment).string());
    }

    // A result left without the builder's mark (a file that is not this attachment's result).
    fs::path planForeignResult(const std::string& base, const std::string& corpusName, int pages = 1) const {
        const fs::path planned = results / (base + ".pdf");
        const std::string page = ShellQuoted((CorpusDir() / corpusName).string());
        if (pages == 1) {
            fs::copy_file(CorpusDir() / corpusName, planned, fs::copy_options::overwrite_existing);
        } else {
            std::string command = "pdfunite";
            for (int i = 0; i < pages; ++i) command += " " + page;
            CommandOutput(command + " " + ShellQuoted(planned.string()));
        }
        return planned;
    }

    // Runs the driver in this process with a recording display.
    int run(DisplayLog& log, bool once = true, RecordingDisplay::PumpHook onPump = {}) const {
        driver::Options options;
        options.once = once;
        options.appFolder = app.string();
        options.makeDisplay = [&log, onPump](bool& stop) -> std::unique_ptr<driver::ProgressDisplay> {
            ++log.displaysMade;
            return std::make_unique<RecordingDisplay>(stop, log, onPump);
        };
        return driver::RunBatch(options);
    }

private:
    ScratchDir root_;

public:
    const fs::path app, temp, data, win, docs, results, slidesLog;

private:
    EnvVar tempVar_, windirVar_, resultsVar_, logVar_, sleepVar_, displayVar_, waylandVar_;
};

// A replaced clock for one test, in a fixed time zone; `set` moves it to a time of day (UTC)
// or to a given moment.
class TestClock {
public:
    explicit TestClock(const char* timeZone = "UTC") : tz_(std::make_unique<EnvVar>("TZ", timeZone)) {
        tzset();
        SetClockForTesting([this] { return base_; });
    }
    ~TestClock() {
        SetClockForTesting(nullptr);
        tz_.reset();
        tzset();
    }
    // 2026-03-02 at the given time (UTC), minus whatever the loop has slept so far.
    void set(int hour, int minute, int second) { set(At(hour, minute, second)); }
    void set(TimePoint wanted) { base_ = wanted - (Now() - base_); }
    static TimePoint At(int hour, int minute, int second, int dayOffset = 0) {
        using namespace std::chrono;
        return sys_days{year{2026} / March / (2 + dayOffset)} + hours{hour} + minutes{minute} + seconds{second};
    }

private:
    std::unique_ptr<EnvVar> tz_;
    TimePoint base_ = At(12, 0, 0);
};

}  // namespace kvo::test
