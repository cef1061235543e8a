#include "shared/platform/WholeFile.h"

#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

namespace kvo {
namespace {

using namespace test;

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WholeFile, NothingIsVisibleBeforeTheCommitAndNothingIsLeftWithoutOne) {
    ScratchDir dir;
    const fs::path target = dir.path() / "Scan.PDF";
    WriteFile(target, "old");
    {
        WholeFileWriter file(target.string());
        file.write("new", 3);
        EXPECT_EQ(ReadFile(target), "old");
        EXPECT_TRUE(IsOurTemporaryName(fs::path(file.temporaryPath()).filename().string()));
    }
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"Scan.PDF"});
    EXPECT_EQ(ReadFile(target), "old");

    WholeFileWriter refused(target.string());
    refused.write("new", 3);
    EXPECT_FALSE(refused.commitIfAbsent());
    EXPECT_EQ(ReadFile(target), "old");
    WholeFileWriter replacing(target.string(), Durability::Plain);
    replacing.write("new", 3);
    replacing.commit();
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"Scan.PDF"});
}

TEST(WholeFile, OnlyOurOwnLeftoversAreRemoved) {
    ScratchDir dir;
    // A writer that died: a child that made a temporary and ended without committing.
    const pid_t child = fork();
    if (child == 0) {
        auto* left = new WholeFileWriter((dir.path() / "Letter.PDF.PDF").string());
        left->write("half", 4);
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    WholeFileWriter live((dir.path() / "Live.pdf").string());
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string otherHostsOld = ".x.pdf.kvotmp.elsewhere.example.12.0";
    const std::string otherHostsNew = ".y.pdf.kvotmp.elsewhere.example.12.0";
    for (const std::string& name : {otherHostsOld, otherHostsNew, std::string(".client.tmp"), std::string("a.kvotmp.b.1.2"),
                                    std::string(".z.pdf.kvotmp.") + host + ".notapid.3"})
        WriteFile(dir.path() / name, "x");
    const auto old = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() - kLongestRun - std::chrono::hours(1));
    const utimbuf times{old, old};
    utime((dir.path() / otherHostsOld).c_str(), &times);
    // A writer's id given since to a process that started after the temporary's last write.
    const pid_t later = fork();
    if (later == 0) {
        pause();
        _exit(0);
    }
    const std::string reused = std::string(".r.pdf.kvotmp.") + host + "." + std::to_string(later) + ".0";
    WriteFile(dir.path() / reused, "x");
    const auto hourAgo = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() - std::chrono::hours(1));
    const utimbuf earlier{hourAgo, hourAgo};
    utime((dir.path() / reused).c_str(), &earlier);

    EXPECT_EQ(RemoveStaleTemporaries(dir.str()), 3);
    kill(later, SIGKILL);
    waitpid(later, nullptr, 0);
    const std::vector<std::string> left = Names(dir.path());
    EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::string& n) { return n.starts_with(".Letter"); }), 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), otherHostsOld), 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), otherHostsNew), 1);
    EXPECT_EQ(std::count(left.begin(), left.end(), fs::path(live.temporaryPath()).filename().string()), 1);
    EXPECT_EQ(left.size(), 5u);
}

}  // namespace
}  // namespace kvo
