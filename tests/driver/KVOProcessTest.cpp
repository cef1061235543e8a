// The program KVOProcess as an operator or a service manager runs it, without a display.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "LoopWorld.h"
#include "driver/StatusReport.h"
#include "driver/WorkerChannel.h"
#include "shared/AppTester.h"

namespace kvo::test {
namespace {

// A started KVOProcess with its standard output and error in files.
class Program {
public:
    Program(const fs::path& program, const std::vector<std::string>& arguments, const fs::path& outputFolder)
        : out_(outputFolder / "stdout.txt"), err_(outputFolder / "stderr.txt") {
        std::vector<std::string> argv{program.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        pid_ = Spawn(argv, out_.string(), err_.string());
    }
    ~Program() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    // The exit status, or -1 after a signal or a minute without end.
    int wait() {
        for (int i = 0; i < 600; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return -1;
    }
    std::string out() const { return ReadFile(out_); }
    std::string err() const { return ReadFile(err_); }

private:
    fs::path out_, err_;
    pid_t pid_ = 0;
    bool exited_ = false;
};

// Waits up to a minute for `condition`.
template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 1200; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The child process of `parent` whose TEMP is `temp`, or 0.
pid_t ChildWithTemp(pid_t parent, const fs::path& temp) {
    std::istringstream children(ReadFile("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) +
                                         "/children"));
    for (pid_t child = 0; children >> child;) {
        const std::string environment = ReadFile("/proc/" + std::to_string(child) + "/environ");
        if (environment.find(std::string("TEMP=") + temp.string() + '\0') != std::string::npos) return child;
    }
    return 0;
}

class LoopProgram : public ::testing::Test {
protected:
    LoopProgram() { program = InstallProgram(BinDir() / "KVOProcess", world.app, "KVOProcess"); }
    std::string doc(const std::string& name) const { return (world.docs / name).string(); }

    // Rows 1..count, each a TIF attachment with a planned result.
    void addConvertibleRows(int count) const {
        for (int id = 1; id <= count; ++id) {
            const std::string name = "Doc" + std::to_string(id);
            world.addAttachment(id, "TIF", doc(name + ".tif"));
            world.addDocument(name + ".tif");
            world.planResult(name + ".tif", "graph_ocred.pdf");
        }
    }
    std::map<int, int> statusCounts() const {
        std::map<int, int> counts;
        for (const auto& [id, row] : world.rows()) ++counts[row.processed.value_or(-1)];
        return counts;
    }
    std::vector<std::string> pipelineRuns() const {
        std::vector<std::string> runs;
        std::ifstream log(world.slidesLog);
        for (std::string line; std::getline(log, line);) runs.push_back(line);
        std::sort(runs.begin(), runs.end());
        return runs;
    }
    // Two drivers with these worker counts, one cycle each, on one database and one TEMP.
    struct TwoDrivers {
        std::string firstOut, errors;
    };
    TwoDrivers runTwoDrivers(int firstWorkers, int otherWorkers) const {
        const fs::path second = world.data / "second";
        fs::create_directories(second);
        Program first(program, {"--once", "--workers", std::to_string(firstWorkers)}, world.data);
        Program other(program, {"--once", "--workers", std::to_string(otherWorkers)}, second);
        EXPECT_EQ(first.wait(), 0) << first.err();
        EXPECT_EQ(other.wait(), 0) << other.err();
        return {first.out(), first.err() + other.err()};
    }
    // Rows 1..rows (of addConvertibleRows) went through the pipeline once each and were recorded.
    void expectEachRowConvertedOnce(int rows, const std::string& reports) const {
        EXPECT_EQ(statusCounts(), (std::map<int, int>{{2, rows}})) << reports;
        std::vector<std::string> expectedRuns;
        for (int id = 1; id <= rows; ++id) expectedRuns.push_back(doc("Doc" + std::to_string(id) + ".tif"));
        std::sort(expectedRuns.begin(), expectedRuns.end());
        EXPECT_EQ(pipelineRuns(), expectedRuns) << "each attachment went through the pipeline once";
        for (int id = 1; id <= rows; ++id) {
            const std::string line = " " + doc("Doc" + std::to_string(id) + ".tif") + ": status 2, converted to ";
            std::size_t seen = 0;
            for (auto at = reports.find(line); at != std::string::npos; at = reports.find(line, at + 1)) ++seen;
            EXPECT_EQ(seen, 1u) << line;
            EXPECT_TRUE(fs::exists(world.docs / ("Doc" + std::to_string(id) + ".PDF")));
        }
    }
    bool workerStartedARow(int folderNumber) const {
        return fs::exists(world.temp / ("worker-" + std::to_string(folderNumber)) / "KVOFile.xml");
    }

    LoopWorld world;
    fs::path program;
};

TEST_F(LoopProgram, HelpDescribesBothWaysOfRunning) {
    Program help(program, {"--help"}, world.data);
    ASSERT_GT(help.pid(), 0);
    EXPECT_EQ(help.wait(), 0);
    EXPECT_NE(help.out().find("--once"), std::string::npos);
    EXPECT_NE(help.out().find("(no argument)"), std::string::npos);
    for (const std::string option : {"--once ", "--workers N ", "--status ", "--json ", "--requeue S ",
                                     "--requeue-ref ID... ", "--yes ", "--help ", "--worker N "})
        EXPECT_NE(help.out().find("\n  " + option), std::string::npos) << option;

    Program wrong(program, {"--twice"}, world.data);
    EXPECT_EQ(wrong.wait(), 2);
    EXPECT_NE(wrong.err().find("unknown argument '--twice'"), std::string::npos);
    const std::string wrongErr = wrong.err();
    EXPECT_EQ(std::count(wrongErr.begin(), wrongErr.end(), '\n'), 1) << wrongErr;
}

TEST_F(LoopProgram, AProfileFileThatCannotBeReadIsNamedWithWhereItWasLookedFor) {
    const std::string consoleIni = (world.win / "console.ini").string();
    const std::string zrtIni = (world.data / "ZRT.ini").string();
    const std::string appZrtIni = (world.app / "ZRT.ini").string();
    struct Case {
        std::function<void()> damage;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {[&] { fs::remove(zrtIni); }, {"ZRT.ini is missing: looked for " + zrtIni, "console.ini [console] Path="}},
        // A folder in a file's place cannot be read, even by root.
        {[&] { fs::remove(zrtIni); fs::create_directory(zrtIni); }, {"ZRT.ini cannot be read: looked for " + zrtIni}},
        {[&] { fs::remove(consoleIni); fs::create_directory(consoleIni); },
         {"console.ini cannot be read: " + consoleIni}},
        {[&] { fs::remove(consoleIni); },
         {"ZRT.ini is missing: looked for " + appZrtIni, "console.ini was not found at " + consoleIni}},
    };
    for (const Case& c : cases) {
        for (const std::string& file : {consoleIni, zrtIni}) fs::remove_all(file);
        world.writeZrtIni("");
        WriteFile(consoleIni, "[console]\r\nPath=" + world.data.string() + "\r\nWorkers=1\r\n");
        c.damage();
        Program run(program, {"--once"}, world.data);
        EXPECT_EQ(run.wait(), 1) << c.messages[0];
        for (const std::string& message : c.messages) EXPECT_NE(run.err().find(message), std::string::npos) << run.err();
        EXPECT_EQ(run.err().find("cannot open the database"), std::string::npos) << run.err();
    }
}

TEST_F(LoopProgram, AnUnreachableDatabaseIsOneClearLineAndStatusOne) {
    WriteFile(world.data / "ZRT.ini", "[Database]\r\nProvider=sqlite\r\nServer=nowhere\r\nDatabase=" +
                                          (world.data / "absent" / "host.db").string() + "\r\n");
    Program run(program, {"--once"}, world.data);
    EXPECT_EQ(run.wait(), 1);
    const std::string err = run.err();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find((world.data / "absent" / "host.db").string()), std::string::npos) << err;
    EXPECT_EQ(err.find("7owl3"), std::string::npos);
    EXPECT_NE(run.out().find("Pellmoor OCR utility. Preparing for OCR."), std::string::npos);
}

// SQL Server on a closed port: the login is tried and refused; no password ever shows.
TEST_F(LoopProgram, TheBuiltInLoginIsAnnouncedOnceAndNoPasswordIsEverShown) {
    const std::string secret = "Pa55;w0rd";
    WriteFile(world.data / "db.pw", secret + "\n");
    chmod((world.data / "db.pw").c_str(), 0600);
    WriteFile(world.data / "open.pw", secret + "\n");
    chmod((world.data / "open.pw").c_str(), 0644);
    const std::string server = "[Database]\r\nServer=127.0.0.1,1\r\nDatabase=Practice\r\n";
    struct Case {
        std::string login;
        std::optional<std::string> environment;
        bool builtIn;
    };
    for (const Case& c : {Case{"", std::nullopt, true}, Case{"User=svc\r\nPasswordFile=db.pw\r\n", std::nullopt, false},
                          Case{"User=svc\r\n", secret, false}, Case{"User=svc\r\nPasswordFile=open.pw\r\n", std::nullopt, false}}) {
        WriteFile(world.data / "ZRT.ini", server + c.login);
        EnvVar password("KVO_DB_PASSWORD", c.environment);
        Program run(program, {"--once"}, world.data);
        EXPECT_EQ(run.wait(), 1) << c.login;
        const std::string err = run.err();
        const std::string notice = "the built-in database login is in use";
        EXPECT_EQ(err.find(notice) != std::string::npos, c.builtIn) << err;
        EXPECT_EQ(err.find(notice), err.rfind(notice)) << err;
        EXPECT_NE(err.find(c.login.find("open.pw") == std::string::npos ? "Practice" : "chmod 600"), std::string::npos)
            << err;
        for (const std::string& password : {secret, std::string("7owl3"), std::string("Pa55")}) {
            EXPECT_EQ(err.find(password), std::string::npos) << err;
            EXPECT_EQ(run.out().find(password), std::string::npos) << run.out();
        }
    }
}

TEST_F(LoopProgram, OnceConvertsThePendingRowsAndEnds) {
    world.addAttachment(12, "TIF", doc("Scan.tif"));
    world.addDocument("Scan.tif");
    world.planResult("Scan.tif", "graph_ocred.pdf");
    Program run(program, {"--once"}, world.data);
    EXPECT_EQ(run.wait(), 0);
    EXPECT_EQ(world.status(12), 2);
    EXPECT_TRUE(fs::exists(world.docs / "Scan.PDF"));
    EXPECT_NE(run.out().find("Processing file 1 of 1:\n" + doc("Scan.tif") + "\n\nIn progress. Please wait."),
              std::string::npos)
        << run.out();
    EXPECT_NE(run.err().find("12 " + doc("Scan.tif") + ": status 2, converted to " + doc("Scan.PDF")),
              std::string::npos)
        << run.err();
}

TEST_F(LoopProgram, StatusCountsTheRowsAndNamesTheFailuresAfterACycle) {
    Program before(program, {"--status"}, world.data);
    EXPECT_EQ(before.wait(), 1);
    EXPECT_NE(before.err().find("the work queue has not been set up yet"), std::string::npos) << before.err();

    world.addAttachment(1, "TIF", doc("Scan.tif"));
    world.addDocument("Scan.tif");
    world.planResult("Scan.tif", "graph_ocred.pdf");
    world.addAttachment(2, "BMP", doc("NoResult.bmp"));  // the pipeline leaves no result
    world.addDocument("NoResult.bmp");
    world.addAttachment(3, "DOC", doc("Memo.doc"));
    Program cycle(program, {"--once"}, world.data);
    ASSERT_EQ(cycle.wait(), 0) << cycle.err();
    const auto rowsBefore = world.rows();

    Program text(program, {"--status"}, world.data);
    EXPECT_EQ(text.wait(), 0) << text.err();
    const std::string out = text.out();
    for (const char* line : {"  2 converted or not found: 1\n", "  5 no usable result: 2\n",
                                    "Claimed now: 0\n", "Pages converted in the last hour: 1 (2 rows finished)\n",
                                    "Time to empty the queue at that rate: 0.0 hours\n",
                                    "Latest failures (status 5): 2\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    EXPECT_NE(out.find("  2 " + doc("NoResult.bmp") + ": no result file"), std::string::npos) << out;
    EXPECT_NE(out.find("  3 " + doc("Memo.doc") + ": the type 'DOC' is not converted"), std::string::npos) << out;
    EXPECT_TRUE(text.err().empty()) << text.err();

    Program json(program, {"--status", "--json"}, world.data);
    EXPECT_EQ(json.wait(), 0);
    EXPECT_EQ(json.out().rfind("{\"rowsByStatus\":[{\"status\":2,\"meaning\":\"converted or not found\",\"rows\":1},", 0), 0u)
        << json.out();
    EXPECT_NE(json.out().find("\"pagesConvertedLastHour\":1,\"rowsFinishedLastHour\":2,"), std::string::npos) << json.out();
    EXPECT_NE(json.out().find("{\"trackReference\":3,\"filePath\":" + driver::JsonString(doc("Memo.doc")) +
                              ",\"reason\":\"the type 'DOC' is not converted\"}"),
              std::string::npos)
        << json.out();
    const std::string jsonOut = json.out();
    EXPECT_EQ(std::count(jsonOut.begin(), jsonOut.end(), '\n'), 1);
    EXPECT_EQ(world.rows().size(), rowsBefore.size());
    EXPECT_EQ(world.status(2), 5) << "reading the status changes nothing";

    Program wrong(program, {"--json"}, world.data);
    EXPECT_EQ(wrong.wait(), 2);
}

// The journal mode a database file's header names: 1 for a rollback journal, 2 for a
// write-ahead log.
int JournalModeOf(const fs::path& database) { return static_cast<unsigned char>(ReadFile(database).at(18)); }

// --status and --check read the queue and change nothing, not even the journal mode, and an
// operator who may only read the database (here: nobody, beside files root owns) sees it all
// the same, whether a driver has it open or not.
TEST_F(LoopProgram, OperatorViewsChangeNothingAndNeedOnlyToRead) {
    world.addAttachment(1, "TIF", doc("Missing.tif"));
    Program cycle(program, {"--once"}, world.data);
    ASSERT_EQ(cycle.wait(), 0) << cycle.err();
    world.open()->execute("PRAGMA journal_mode=DELETE");
    ASSERT_EQ(JournalModeOf(world.database()), 1);
    fs::permissions(world.data.parent_path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);

    const std::vector<std::string> asNobody{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                            program.string()};
    const auto view = [&](std::vector<std::string> arguments, bool nobody) {
        if (nobody) arguments.insert(arguments.begin(), asNobody.begin() + 1, asNobody.end());
        Program run(nobody ? fs::path(asNobody[0]) : program, arguments, world.data);
        const int status = run.wait();
        return std::pair{status, run.out() + run.err()};
    };
    for (const bool nobody : {false, true}) {
        const auto [status, out] = view({"--status"}, nobody);
        EXPECT_EQ(status, 0) << out;
        EXPECT_NE(out.find("  2 converted or not found: 1\n"), std::string::npos) << out;
        EXPECT_NE(view({"--check"}, nobody).second.find("ok    database: "), std::string::npos);
        EXPECT_EQ(JournalModeOf(world.database()), 1) << "nobody = " << nobody;
    }
    EXPECT_FALSE(fs::exists(world.database().string() + "-wal"));

    // Write-ahead logged, with no driver holding it open: nothing a reader could share is there.
    world.open()->execute("PRAGMA journal_mode=WAL");
    ASSERT_EQ(JournalModeOf(world.database()), 2);
    ASSERT_FALSE(fs::exists(world.database().string() + "-shm"));
    const auto [status, out] = view({"--status", "--json"}, true);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out.rfind("{\"rowsByStatus\":[{\"status\":2,", 0), 0u) << out;
}

TEST_F(LoopProgram, RequeuedRowsAreConvertedByTheNextCycle) {
    world.addAttachment(1, "TIF", doc("Scan.tif"));
    world.addDocument("Scan.tif");
    world.planResult("Scan.tif", "graph_ocred.pdf");
    world.addAttachment(2, "BMP", doc("Late.bmp"));  // no result yet
    world.addDocument("Late.bmp");
    world.addAttachment(3, "TIF", doc("Missing.tif"));
    Program cycle(program, {"--once"}, world.data);
    ASSERT_EQ(cycle.wait(), 0) << cycle.err();
    ASSERT_EQ(world.status(1), 2);
    ASSERT_EQ(world.status(2), 5);
    ASSERT_EQ(world.status(3), 2);

    struct Refused {
        std::vector<std::string> arguments;
        std::string message;
    };
    for (const Refused& c : {Refused{{"--requeue", "5"}, "confirm on a terminal, or add --yes"},
                             Refused{{"--requeue", "0", "--yes"}, "--requeue needs the status 2, 3 or 5, not '0'"},
                             Refused{{"--requeue-ref", "x1"}, "not 'x1'"},
                             Refused{{"--requeue-ref", "--yes"}, "at least one TrackReference"},
                             Refused{{"--yes"}, "--yes goes with --requeue"}}) {
        Program run(program, c.arguments, world.data);
        EXPECT_EQ(run.wait(), 2) << c.message;
        EXPECT_NE(run.err().find(c.message), std::string::npos) << run.err();
    }
    EXPECT_EQ(world.status(2), 5) << "a refused requeue changes nothing";

    Program converted(program, {"--requeue", "2", "--yes"}, world.data);
    EXPECT_EQ(converted.wait(), 0);
    EXPECT_EQ(converted.out(), "1 row(s) put back to pending\n");
    EXPECT_EQ(world.status(1), 2) << "a converted row stays converted";
    EXPECT_EQ(world.status(3), 0) << "a row not found goes back";

    world.planResult("Late.bmp", "graph_ocred.pdf");
    Program failed(program, {"--requeue-ref", "2", "--yes"}, world.data);
    EXPECT_EQ(failed.wait(), 0) << failed.err();
    EXPECT_EQ(failed.out(), "1 row(s) put back to pending\n");
    auto work = world.open()->query("SELECT Attempts, LastError, Worker FROM DASearchableWork WHERE TrackReference = 2");
    EXPECT_EQ(work->field("Attempts"), "0");
    EXPECT_EQ(work->field("LastError"), std::nullopt);
    EXPECT_EQ(work->field("Worker"), std::nullopt);
    work->close();

    Program again(program, {"--once"}, world.data);
    EXPECT_EQ(again.wait(), 0) << again.err();
    EXPECT_EQ(world.status(2), 2);
    EXPECT_TRUE(fs::exists(world.docs / "Late.PDF"));
}

// Requeued by status, rows that could never convert are left out and counted; requeued by
// TrackReference, a converted row goes back to its original attachment and is converted again,
// and what cannot be put back is refused with status 1.
TEST_F(LoopProgram, RequeueLeavesOutWhatCannotConvertAndRedoesAConvertedRowFromItsOriginal) {
    world.addAttachment(1, "TIF", doc("Scan.tif"));
    world.addDocument("Scan.tif");
    world.planResult("Scan.tif", "graph_ocred.pdf");
    world.addAttachment(2, "DOC", doc("Memo.doc"));
    world.addAttachment(3, "TIF", doc("Late.tif"));  // no result at first
    world.addDocument("Late.tif");
    world.addAttachment(4, "PNG", doc("Photo.png"));  // not converted: the fill gives it status 5
    world.addDocument("Photo.png");
    Program cycle(program, {"--once"}, world.data);
    ASSERT_EQ(cycle.wait(), 0) << cycle.err();
    ASSERT_EQ(statusCounts(), (std::map<int, int>{{2, 1}, {5, 3}}));

    Program byStatus(program, {"--requeue", "5", "--yes"}, world.data);
    EXPECT_EQ(byStatus.wait(), 0) << byStatus.err();
    EXPECT_EQ(byStatus.out(), "2 row(s) left out: their type is not converted\n1 row(s) put back to pending\n");
    EXPECT_EQ(world.status(2), 5);
    EXPECT_EQ(world.status(3), 0);
    EXPECT_EQ(world.status(4), 5);
    world.planResult("Late.tif", "graph_ocred.pdf");

    Program byReference(program, {"--requeue-ref", "1", "99", "--yes"}, world.data);
    EXPECT_EQ(byReference.wait(), 1);
    EXPECT_EQ(byReference.out(), "1 row(s) put back to pending\n");
    EXPECT_NE(byReference.err().find("TrackReference 99 is not in the queue"), std::string::npos) << byReference.err();
    const StoredRow restored = world.rows().at(1);
    EXPECT_EQ(restored.type, "TIF");
    EXPECT_EQ(restored.filePath, doc("Scan.tif"));
    EXPECT_EQ(restored.processed, 0);

    Program again(program, {"--once"}, world.data);
    EXPECT_EQ(again.wait(), 0) << again.err();
    EXPECT_EQ(statusCounts(), (std::map<int, int>{{2, 2}, {5, 2}})) << again.err();
    EXPECT_NE(again.err().find("1 " + doc("Scan.tif") + ": status 2, converted to " + doc("Scan.PDF") + " ("),
              std::string::npos)
        << again.err();
    EXPECT_EQ(world.rows("DiaryAttachments").at(1).filePath, doc("Scan.PDF"));
    const std::vector<std::string> runs = pipelineRuns();
    EXPECT_EQ(std::count(runs.begin(), runs.end(), doc("Scan.tif")), 2);

    // A row an earlier version converted kept no original: converting its PDF again would only
    // find it searchable, so it is refused.
    world.open()->execute("UPDATE DASearchableWork SET OriginalType = NULL, OriginalPath = NULL WHERE TrackReference = 1");
    Program refused(program, {"--requeue-ref", "1", "--yes"}, world.data);
    EXPECT_EQ(refused.wait(), 1);
    EXPECT_NE(refused.err().find("row 1 is left as it is: it may hold a searchable PDF recorded by an earlier version"),
              std::string::npos)
        << refused.err();
    EXPECT_EQ(world.status(1), 2);
}

TEST_F(LoopProgram, CheckFailsWithTheFixForEachKindOfProblem) {
    const fs::path emptyFolder = world.data / "share";
    fs::create_directories(emptyFolder);
    const fs::path noGs = world.data / "bin";
    fs::create_directories(noGs);
    const std::string consoleIni = "[console]\r\nPath=" + world.data.string() + "\r\nWorkers=1\r\n";
    struct Case {
        std::function<void()> damage;
        std::string failure;  // "" for none
    };
    std::optional<EnvVar> variable;
    const Case cases[] = {
        {[] {}, ""},
        {[&] { fs::remove(world.data / "ZRT.ini"); }, "FAIL  configuration: ZRT.ini is missing: looked for "},
        {[&] {
             WriteFile(world.data / "ZRT.ini", "[Database]\r\nProvider=sqlite\r\nDatabase=" +
                                                  (world.data / "absent" / "host.db").string() + "\r\n");
         },
         "FAIL  database: "},
        {[&] { variable.emplace("PATH", noGs.string()); }, "FAIL  Ghostscript: gs is not on PATH; fix: "},
        {[&] { WriteFile(world.win / "console.ini", consoleIni + "[OCR]\r\nLanguages=eng + kvoxx\r\n"); },
         "FAIL  OCR language kvoxx: "},
        {[&] { variable.emplace("TEMP", (world.data / "absent").string()); }, "FAIL  TEMP: "},
        // A work folder others may write, or another user's: links could be planted there.
        {[&] { fs::permissions(world.temp, fs::perms::group_write, fs::perm_options::add); },
         "FAIL  TEMP: the work folder " + world.temp.string() + " may be written by other users (mode 0775); fix: "},
        {[&] { fs::permissions(world.temp, fs::perms::others_write | fs::perms::sticky_bit, fs::perm_options::add); },
         "FAIL  TEMP: the work folder " + world.temp.string() + " may be written by other users (mode 1757); fix: "},
        {[&] { ASSERT_EQ(chown(world.temp.c_str(), 65534, static_cast<gid_t>(-1)), 0); },
         "FAIL  TEMP: the work folder " + world.temp.string() + " belongs to user 65534, not to user"},
        {[&] { world.writeZrtIni("[PathMap]\r\nD:\\Docs=" + (world.data / "absent").string() + "\r\n"); },
         "FAIL  PathMap D:\\Docs: " + (world.data / "absent").string() + " does not exist; fix: "},
        {[&] { world.writeZrtIni("[PathMap]\r\nD:\\Docs=" + emptyFolder.string() + "\r\n"); },
         "FAIL  PathMap D:\\Docs: " + emptyFolder.string() + " is an empty folder, not a mounted share"},
    };
    for (const Case& c : cases) {
        WriteFile(world.win / "console.ini", consoleIni);
        world.writeZrtIni("[PathMap]\r\nD:\\Docs=" + world.app.string() + "\r\n");
        variable.reset();
        fs::permissions(world.temp, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
        ASSERT_EQ(chown(world.temp.c_str(), geteuid(), static_cast<gid_t>(-1)), 0);
        c.damage();
        Program run(program, {"--check"}, world.data);
        const int status = run.wait();
        const std::string out = run.out();
        EXPECT_EQ(status, c.failure.empty() ? 0 : 1) << out;
        if (!c.failure.empty()) {
            EXPECT_NE(out.find(c.failure), std::string::npos) << out;
        }
        EXPECT_EQ(out.find("FAIL") != std::string::npos, !c.failure.empty()) << out;
        EXPECT_EQ(out.find("FAIL", out.find("FAIL") + 1), std::string::npos) << "one failure at a time: " << out;
        // Without Ghostscript, a language or a work folder to trust no row could succeed: a run
        // ends at its start, before the queue is touched.
        if (c.failure.find("Ghostscript") != std::string::npos || c.failure.find("OCR language") != std::string::npos ||
            c.failure.find("TEMP") != std::string::npos) {
            Program cycle(program, {"--once"}, world.data);
            EXPECT_EQ(cycle.wait(), 1) << cycle.err();
            EXPECT_NE(cycle.err().find("cannot convert anything: " + c.failure.substr(6)), std::string::npos)
                << cycle.err();
        }
    }
    EXPECT_FALSE(world.queueExists()) << "checking creates nothing";
}

TEST_F(LoopProgram, AnInstalledDriverChecksItsSystem) {
    const fs::path prefix = world.data / "prefix";
    ASSERT_EQ(std::system(("cmake --install " + ShellQuoted(BinDir().parent_path().string()) + " --prefix " +
                           ShellQuoted(prefix.string()) + " >/dev/null")
                              .c_str()),
              0);
    EXPECT_TRUE(fs::exists(prefix / "share" / "kvo" / "examples" / "ZRT.ini"));
    Program check(prefix / "bin" / "KVOProcess", {"--check"}, world.data);
    EXPECT_EQ(check.wait(), 0) << check.out() << check.err();
    EXPECT_NE(check.out().find("ok    database: " + world.database().string()), std::string::npos) << check.out();
}

TEST_F(LoopProgram, TerminateDuringAPipelineRunLetsTheRowFinish) {
    world.addAttachment(1, "TIF", doc("First.tif"));
    world.addAttachment(2, "TIF", doc("Second.tif"));
    world.addDocument("First.tif");
    world.addDocument("Second.tif");
    world.planResult("First.tif", "graph_ocred.pdf");
    world.planResult("Second.tif", "graph_ocred.pdf");
    EnvVar slow("LOOP_SLIDES_SLEEP_MS", "2500");

    Program run(program, {}, world.data);  // the endless way: only the stop ends it
    ASSERT_GT(run.pid(), 0);
    bool started = false;
    for (int i = 0; i < 200 && !started; ++i) {
        started = IsAppRunning("KVOProcessSlides.exe");
        if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(started) << run.err();
    kill(run.pid(), SIGTERM);
    EXPECT_EQ(run.wait(), 0) << run.err();

    EXPECT_EQ(world.status(1), 2) << "the row in progress is completed and recorded";
    EXPECT_EQ(world.status(2), 0) << "the next row waits for the next run";
    EXPECT_TRUE(fs::exists(world.docs / "First.PDF"));
    EXPECT_NE(run.out().find("In progress. Please wait.\nSTOPPING. Please wait"), std::string::npos) << run.out();
    EXPECT_NE(run.out().find("Wait until 18:00 to re-start."), std::string::npos);
}

TEST_F(LoopProgram, AWorkerCountThatIsNotACountIsRefused) {
    struct Case {
        std::vector<std::string> arguments;
        std::string consoleWorkers;
        std::string message;
    };
    const Case cases[] = {
        {{"--workers", "0"}, "", "--workers needs a count from 1 to 64, not '0'"},
        {{"--workers", "many"}, "", "--workers needs a count from 1 to 64, not 'many'"},
        {{"--once", "--workers"}, "", "--workers needs a count from 1 to 64, not ''"},
        {{"--once"}, "three", "Workers=three is not a count from 1 to 64"},
        {{"--worker", "1"}, "", "--worker is started by a driver"},
    };
    for (const Case& c : cases) {
        WriteFile(world.win / "console.ini",
                  "[console]\r\nPath=" + world.data.string() + "\r\nWorkers=" + c.consoleWorkers + "\r\n");
        Program run(program, c.arguments, world.data);
        EXPECT_EQ(run.wait(), 2) << c.message;
        EXPECT_NE(run.err().find(c.message), std::string::npos) << run.err();
    }
}

TEST_F(LoopProgram, WorkersOfTwoDriversConvertEachRowOnce) {
    constexpr int kRows = 12;
    addConvertibleRows(kRows);
    EnvVar slow("LOOP_SLIDES_SLEEP_MS", "150");
    const TwoDrivers run = runTwoDrivers(3, 2);

    expectEachRowConvertedOnce(kRows, run.errors);
    // The two drivers shared one TEMP: their five workers had five folders.
    for (int folder = 1; folder <= 5; ++folder)
        EXPECT_EQ(fs::status(world.temp / ("worker-" + std::to_string(folder))).permissions() & fs::perms::all,
                  fs::perms::owner_all);
    EXPECT_NE(run.firstOut.find("Worker 3: "), std::string::npos) << run.firstOut;
    EXPECT_NE(run.firstOut.find(" done this cycle, "), std::string::npos) << run.firstOut;
}

// Two drivers that walk the queue themselves, on one TEMP: the second works in a folder of its
// own, so neither takes the other's order or result.
TEST_F(LoopProgram, TwoLoneDriversOnOneTempConvertEachRowOnce) {
    constexpr int kRows = 6;
    addConvertibleRows(kRows);
    EnvVar slow("LOOP_SLIDES_SLEEP_MS", "300");
    expectEachRowConvertedOnce(kRows, runTwoDrivers(1, 1).errors);
    EXPECT_EQ(fs::status(world.temp / "worker-1").permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(LoopProgram, TerminateLetsEveryWorkerFinishItsRow) {
    addConvertibleRows(4);
    EnvVar slow("LOOP_SLIDES_SLEEP_MS", "2500");
    Program run(program, {"--workers", "2"}, world.data);  // the endless way
    ASSERT_TRUE(Eventually([&] { return workerStartedARow(1) && workerStartedARow(2); })) << run.err();
    kill(run.pid(), SIGTERM);
    EXPECT_EQ(run.wait(), 0) << run.err();

    EXPECT_EQ(statusCounts(), (std::map<int, int>{{0, 2}, {2, 2}})) << run.err();
    EXPECT_EQ(pipelineRuns().size(), 2u);
    EXPECT_NE(run.out().find("STOPPING. Please wait"), std::string::npos) << run.out();
    EXPECT_NE(run.out().find("Wait until 18:00 to re-start."), std::string::npos) << run.out();
}

// The password is handed to the workers on a pipe: no program the driver starts, the workers
// included, finds it in its environment.
TEST_F(LoopProgram, NoProgramTheDriverStartsInheritsTheDatabasePassword) {
    addConvertibleRows(2);
    EnvVar slow("LOOP_SLIDES_SLEEP_MS", "1500");
    EnvVar password("KVO_DB_PASSWORD", "Pa55;word");
    Program run(program, {"--once", "--workers", "2"}, world.data);
    ASSERT_TRUE(Eventually([&] { return workerStartedARow(1); })) << run.err();
    const pid_t worker = ChildWithTemp(run.pid(), world.temp / "worker-1");
    ASSERT_GT(worker, 0);
    EXPECT_EQ(ReadFile("/proc/" + std::to_string(worker) + "/environ").find("KVO_DB_PASSWORD"), std::string::npos);
    EXPECT_EQ(run.wait(), 0) << run.err();
    EXPECT_EQ(statusCounts(), (std::map<int, int>{{2, 2}})) << run.err();
    EXPECT_EQ(pipelineRuns(), (std::vector<std::string>{doc("Doc1.tif"), doc("Doc2.tif")}));

    for (const std::optional<std::string>& handed : {std::optional<std::string>("p;w\n"), std::optional<std::string>(""),
                                                      std::optional<std::string>()})
        EXPECT_EQ(driver::ReadPassword(driver::PasswordPipe(handed)), handed);
}

TEST_F(LoopProgram, AWorkerKilledMidRowDoesNotHoldUpTheOthers) {
    addConvertibleRows(5);
    EnvVar slow("LOOP_SLIDES_SLEEP_MS", "1500");
    Program run(program, {"--once", "--workers", "2"}, world.data);
    ASSERT_TRUE(Eventually([&] { return workerStartedARow(1); })) << run.err();
    const pid_t worker = ChildWithTemp(run.pid(), world.temp / "worker-1");
    ASSERT_GT(worker, 0);
    kill(worker, SIGKILL);
    EXPECT_EQ(run.wait(), 0) << run.err();

    EXPECT_NE(run.err().find("worker 1 was ended by signal 9 while working on "), std::string::npos) << run.err();
    // Every other row is done. The killed worker's row stays claimed until its claim expires,
    // unless a worker that started after the kill released the dead worker's claims and took it.
    auto counts = statusCounts();
    EXPECT_EQ(counts[0] + counts[2], 5) << run.err();
    EXPECT_GE(counts[2], 4) << run.err();
    const auto runs = pipelineRuns();
    EXPECT_EQ(std::adjacent_find(runs.begin(), runs.end()), runs.end()) << "no attachment converted twice";
}

}  // namespace
}  // namespace kvo::test
