#include "shared/ProgramWatch.h"

#include "shared/AppTester.h"
#include "shared/ShellModule.h"
#include "shared/platform/Clock.h"
#include "shared/platform/CommandLine.h"
#include "ProcessTestSupport.h"

#include <csignal>
#include <gtest/gtest.h>

namespace kvo {
namespace {

using namespace test;

TEST(ProgramWatch, AHungChildIsEndedAtTheHourLimitAndItsExitIsKnown) {
    ScratchDir dir;
    const std::string sleeper = InstallProgram(Helper("proc_sleeper"), dir.path(), "kvo_watch_sleeper").string();
    const pid_t pid = AsyncShell(QuoteArgument(sleeper) + " 600", kWindowHidden);
    ASSERT_TRUE(WaitUntil([] { return IsAppRunning("kvo_watch_sleeper"); }));
    EXPECT_EQ(ExitStatusOf(pid), std::nullopt);

    // The monotonic clock jumps past the limit at the first pause.
    SteadyPoint steady{};
    SetClockForTesting([] { return std::chrono::system_clock::now(); }, [&] { return steady; });
    int polls = 0;
    const WatchEnd end = WatchProgram("KVO_WATCH_SLEEPER.EXE", {.pollMs = 10, .onPoll = [&] {
                                          ++polls;
                                          steady += std::chrono::hours(2);
                                      }});
    SetClockForTesting(nullptr);

    EXPECT_EQ(end, WatchEnd::TimedOut);
    EXPECT_EQ(polls, 1);
    ASSERT_TRUE(WaitUntil([&] { return ExitStatusOf(pid).has_value(); }));
    EXPECT_EQ(ExitStatusOf(pid), 128 + SIGKILL);
    EXPECT_EQ(WatchProgram("kvo_watch_sleeper"), WatchEnd::Ended);
}

TEST(ProgramWatch, WithoutTheLimitItWaitsForTheChildsOwnEnd) {
    ScratchDir dir;
    const std::string quick = InstallProgram(Helper("proc_sleeper"), dir.path(), "kvo_watch_short").string();
    const pid_t pid = AsyncShell(QuoteArgument(quick) + " 1", kWindowHidden);
    SteadyPoint steady{};
    SetClockForTesting([] { return std::chrono::system_clock::now(); }, [&] { return steady += std::chrono::hours(3); });
    const WatchEnd end = WatchProgram("kvo_watch_short", {.pollMs = 20, .hourLimit = false});
    SetClockForTesting(nullptr);
    EXPECT_EQ(end, WatchEnd::Ended);
    EXPECT_EQ(ExitStatusOf(pid), 0);
}

}  // namespace
}  // namespace kvo
