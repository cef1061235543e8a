#include "shared/platform/WholeFile.h"
#include "shared/platform/ProcessIdentity.h"

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

// A writer is judged by its process id only where that id means the same process: on this
// machine, in this boot and PID namespace, and only while it has the start the name records.
TEST(WholeFile, OnlyOurOwnLeftoversAreRemoved) {
    ScratchDir dir;
    // A writer that died: a child that made a temporary and ended without committing.
    const pid_t child = fork();
    if (child == 0) {
        new WholeFileWriter((dir.path() / "Letter.PDF.PDF").string());
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    WholeFileWriter live((dir.path() / "Live.pdf").string());
    // A process alive now under an id another writer may have had.
    const pid_t later = fork();
    if (later == 0) {
        pause();
        _exit(0);
    }
    const ProcessIdentity me = ThisProcess();
    const auto name = [&](const std::string& file, const ProcessIdentity& writer) {
        return "." + file + ".kvotmp." + writer.host + "." + writer.boot + "." + writer.pidNamespace + "." +
               std::to_string(writer.start) + "." + std::to_string(writer.pid) + ".0";
    };
    ProcessIdentity reused = me, otherNamespace = me, otherBoot = me, otherHost = me;
    reused.pid = later;
    reused.start = me.start - 1;  // the writer started before it (a fork may share this process's tick)
    otherNamespace.pidNamespace = "1";
    otherNamespace.pid = child;
    otherBoot.boot = "00000000";
    otherBoot.pid = child;
    otherHost.host = "elsewhere.example";
    struct Case {
        std::string name;
        bool old;
        bool removed;
    };
    const Case cases[] = {
        {name("r.pdf", reused), false, true},
        {name("n.pdf", otherNamespace), false, false},
        {name("b.pdf", otherBoot), false, false},
        {name("h.pdf", otherHost), false, false},
        {name("o.pdf", otherHost), true, true},
        {"." + std::string("e.pdf.kvotmp.") + me.host + "." + std::to_string(child) + ".0", false, false},  // earlier form
        {"." + std::string("f.pdf.kvotmp.") + me.host + "." + std::to_string(child) + ".0", true, true},
        {".client.tmp", true, false},
        {"a.kvotmp.b.1.2", true, false},
        {".z.pdf.kvotmp." + me.host + ".notapid.3", true, false},
        // A start beyond any clock names no writer: judged by its age, like the earlier form.
        {".g.pdf.kvotmp." + me.host + ".1234abcd.1.99999999999999999999999.5.0", false, false},
    };
    const auto old = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() - kLongestRun - std::chrono::hours(1));
    for (const Case& c : cases) {
        WriteFile(dir.path() / c.name, "x");
        const utimbuf times{old, old};
        if (c.old) utime((dir.path() / c.name).c_str(), &times);
    }

    EXPECT_EQ(RemoveStaleTemporaries(dir.str()), 4);
    kill(later, SIGKILL);
    waitpid(later, nullptr, 0);
    const std::vector<std::string> left = Names(dir.path());
    EXPECT_EQ(std::count_if(left.begin(), left.end(), [](const std::string& n) { return n.starts_with(".Letter"); }), 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), fs::path(live.temporaryPath()).filename().string()), 1);
    for (const Case& c : cases) EXPECT_EQ(std::count(left.begin(), left.end(), c.name), c.removed ? 0 : 1) << c.name;
}

}  // namespace
}  // namespace kvo
