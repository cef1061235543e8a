// Standard error under systemd: each line carries its priority for the journal; anywhere else
// it stays as it is.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "driver/JournalLog.h"
#include "LoopWorld.h"

namespace kvo::test {
namespace {

using driver::LogPriority;

TEST(JournalLog, AReportLineIsRatedByItsOutcome) {
    const std::pair<std::string, LogPriority> cases[] = {
        {"status 2, converted to /srv/docs/Scan.PDF", LogPriority::Info},
        {"status 3, already searchable", LogPriority::Info},
        {"status 2, not found", LogPriority::Notice},
        {"status 5, no result file", LogPriority::Error},
        {"status 5 after 3 attempts, the chain was killed", LogPriority::Error},
        {"left pending for attempt 2, the copy to /srv/docs/Scan.PDF failed", LogPriority::Warning},
        {"left pending, status 2 could not be recorded (database is locked)", LogPriority::Warning},
        {"nothing recorded, its claim was taken over by another worker (nothing was copied)", LogPriority::Warning},
    };
    for (const auto& [outcome, priority] : cases) EXPECT_EQ(driver::OutcomePriority(outcome), priority) << outcome;
}

TEST(JournalLog, OnlyTheStreamJOURNAL_STREAMNamesIsTheJournal) {
    const std::pair<std::string, bool> cases[] = {
        {"64769:1234", true}, {"64769:1235", false}, {"1:1234", false}, {"64769", false},
        {"", false},          {"64769:1234x", false}, {":1234", false}, {"64769:", false},
    };
    for (const auto& [value, journal] : cases) EXPECT_EQ(driver::IsJournalStream(value, 64769, 1234), journal) << value;
}

TEST(JournalLog, EveryLineOfAMessageCarriesThePriority) {
    EXPECT_EQ(driver::WithPriority(LogPriority::Error, "KVOProcess: a"), "<3>KVOProcess: a");
    EXPECT_EQ(driver::WithPriority(LogPriority::Info, "one\ntwo\n"), "<6>one\n<6>two\n");
}

// The driver and its workers, started the way systemd starts them: standard error is the
// stream JOURNAL_STREAM names.
TEST(JournalLog, UnderTheJournalEachLineOfTheDriverAndItsWorkersCarriesItsPriority) {
    LoopWorld world;
    const fs::path program = InstallProgram(BinDir() / "KVOProcess", world.app, "KVOProcess");
    world.addAttachment(1, "TIF", (world.docs / "Scan.tif").string());
    world.addDocument("Scan.tif");
    world.planResult("Scan.tif", "graph_ocred.pdf");
    world.addAttachment(2, "TIF", (world.docs / "Lost.tif").string());
    world.addAttachment(3, "TIF", (world.docs / "Blank.tif").string());
    world.addDocument("Blank.tif");

    const auto run = [&](const std::vector<std::string>& arguments, bool journal) {
        const fs::path err = world.data / "stderr.txt";
        WriteFile(err, "");
        struct stat file {};
        stat(err.c_str(), &file);
        EnvVar stream("JOURNAL_STREAM", std::to_string(file.st_dev) + ":" + std::to_string(file.st_ino + !journal));
        std::vector<std::string> argv{program.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        int status = 0;
        waitpid(Spawn(argv, "/dev/null", err.string()), &status, 0);
        return ReadFile(err);
    };

    const std::string cycle = run({"--once", "--workers", "2"}, true);
    EXPECT_NE(cycle.find("<6>1 " + (world.docs / "Scan.tif").string() + ": status 2, converted"), std::string::npos)
        << cycle;
    EXPECT_NE(cycle.find("<5>2 " + (world.docs / "Lost.tif").string() + ": status 2, not found"), std::string::npos)
        << cycle;
    EXPECT_NE(cycle.find("<3>3 " + (world.docs / "Blank.tif").string() + ": status 5"), std::string::npos) << cycle;
    for (std::size_t line = 0; line < cycle.size(); line = cycle.find('\n', line) + 1)
        EXPECT_EQ(cycle[line], '<') << cycle.substr(line);

    fs::remove(world.data / "ZRT.ini");
    const std::string startUp = run({"--once"}, true);
    EXPECT_NE(startUp.find("<3>KVOProcess: ZRT.ini is missing"), std::string::npos) << startUp;
    const std::string elsewhere = run({"--once"}, false);
    EXPECT_NE(elsewhere.find("KVOProcess: ZRT.ini is missing"), std::string::npos) << elsewhere;
    EXPECT_EQ(elsewhere.find('<'), std::string::npos) << elsewhere;
}

}  // namespace
}  // namespace kvo::test
