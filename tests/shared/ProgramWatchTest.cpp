#include "shared/ProgramWatch.h"

#include "shared/AppTester.h"
#include "shared/platform/Clock.h"
#include "ProcessTestSupport.h"

#include <csignal>
#include <gtest/gtest.h>

namespace kvo {
namespace {

using namespace test;

TEST(ProgramWatch, AHungChildIsEndedAtTheHourLimitAndItsEndIsKnown) {
    ScratchDir dir;
    const std::string sleeper = InstallProgram(Helper("proc_sleeper"), dir.path(), "kvo_watch_sleeper").string();
    Child child = StartChild({.arguments = {sleeper, "600"}});
    ASSERT_TRUE(WaitUntil([] { return IsAppRunning("kvo_watch_sleeper"); }));

    // The monotonic clock jumps past the limit at the first pause.
    SteadyPoint steady{};
    SetClockForTesting([] { return std::chrono::system_clock::now(); }, [&] { return steady; });
    int polls = 0;
    const ChildEnd end = WatchChild(child, "KVO_WATCH_SLEEPER.EXE", {.pollMs = 10, .onPoll = [&] {
                                        ++polls;
                                        steady += std::chrono::hours(2);
                                    }});
    SetClockForTesting(nullptr);

    EXPECT_EQ(end.how, ChildEnd::How::TimedOut);
    EXPECT_EQ(DescribeEnd(end), "did not finish within the hour limit");
    EXPECT_EQ(polls, 1);
    EXPECT_FALSE(IsAppRunning("kvo_watch_sleeper"));
    EXPECT_TRUE(WaitWhileRunning("kvo_watch_sleeper"));
}

TEST(ProgramWatch, ALongerLimitWaitsForTheChildsOwnEnd) {
    ScratchDir dir;
    const std::string quick = InstallProgram(Helper("proc_sleeper"), dir.path(), "kvo_watch_short").string();
    Child child = StartChild({.arguments = {quick, "1"}});
    SteadyPoint steady{};
    SetClockForTesting([] { return std::chrono::system_clock::now(); }, [&] { return steady += std::chrono::hours(3); });
    const ChildEnd end = WatchChild(child, "kvo_watch_short", {.pollMs = 20, .limit = TimeLimit::Seconds(60)});
    SetClockForTesting(nullptr);
    EXPECT_TRUE(end.exitedWith(0)) << DescribeEnd(end);
}

}  // namespace
}  // namespace kvo
