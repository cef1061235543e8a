// The time rules of the run cycles, on a replaced clock: the hour limit between rows, the wait
// for the 18 o'clock hour and a stop during that wait.
#include <gtest/gtest.h>

#include "LoopWorld.h"

namespace kvo::test {
namespace {

using std::chrono::seconds;

class LoopTime : public ::testing::Test {
protected:
    // The clock reading when the n-th (from 1) cycle put up its first text.
    TimePoint cycleStart(int n) const {
        int seen = 0;
        for (const auto& [when, text] : log.texts)
            if (text == "Pellmoor OCR utility. Preparing for OCR." && ++seen == n) return when;
        ADD_FAILURE() << "no cycle " << n;
        return {};
    }
    int cycles() const {
        return static_cast<int>(std::count_if(log.texts.begin(), log.texts.end(), [](const auto& entry) {
            return entry.second == "Pellmoor OCR utility. Preparing for OCR.";
        }));
    }

    TestClock clock;
    LoopWorld world;
    DisplayLog log;
};

TEST_F(LoopTime, TheHourLimitEndsTheCycleAfterTheCurrentRowAndANewOneStartsAtOnce) {
    for (int id = 1; id <= 3; ++id) world.addAttachment(id, "TIF", (world.docs / "Gone.tif").string());
    clock.set(18, 59, 50);
    bool jumped = false;
    const int result = world.run(log, false, [&](const RecordingDisplay& display, bool& stop) {
        // The second row starts at 19:59:59 and ends after 20:00: two clock hours crossed.
        if (!jumped && display.text().find("Processing file 2 of 3") != std::string::npos) {
            clock.set(19, 59, 59);
            jumped = true;
        }
        if (cycles() == 2 && display.text() == "Wait until 18:00 to re-start.") stop = true;
    });
    EXPECT_EQ(result, 0);
    for (int id = 1; id <= 3; ++id) EXPECT_EQ(world.status(id), 2) << id;
    ASSERT_EQ(cycles(), 2);
    EXPECT_TRUE(log.showed("Processing file 2 of 3"));
    EXPECT_FALSE(log.showed("Processing file 3 of 3")) << "the first cycle ended after its second row";
    EXPECT_TRUE(log.showed("1 files Found.\r\n\r\nProcessing file 1 of 1"));
    // The limit's text, then the next cycle within the same second.
    auto limit = std::find_if(log.texts.begin(), log.texts.end(),
                              [](const auto& entry) { return entry.second == "Wait until 18:00 to re-start."; });
    ASSERT_NE(limit, log.texts.end());
    EXPECT_GE(limit->first, TestClock::At(20, 0, 0));
    EXPECT_LT(cycleStart(2) - limit->first, seconds(1));
}

TEST_F(LoopTime, AnEmptiedQueueWaitsForTheEighteenOClockHour) {
    clock.set(17, 59, 40);
    EXPECT_EQ(world.run(log, false, [&](const RecordingDisplay&, bool& stop) { stop = stop || log.displaysMade == 2; }),
              0);
    ASSERT_EQ(cycles(), 2);
    EXPECT_TRUE(log.showed("Wait until 18:00 to re-start."));
    EXPECT_GE(cycleStart(2), TestClock::At(18, 0, 0));
    EXPECT_LT(cycleStart(2), TestClock::At(18, 0, 2));
}

TEST_F(LoopTime, NoWaitWhileTheHourIsEighteen) {
    clock.set(18, 20, 0);
    EXPECT_EQ(world.run(log, false, [&](const RecordingDisplay&, bool& stop) { stop = stop || log.displaysMade == 3; }),
              0);
    ASSERT_EQ(cycles(), 3);
    EXPECT_LT(cycleStart(3) - cycleStart(1), seconds(2));
}

TEST_F(LoopTime, AStopDuringTheWaitEndsTheProgramWithinASecond) {
    clock.set(10, 0, 0);
    int pumpsInWait = 0;
    TimePoint stoppedAt{};
    const int result = world.run(log, false, [&](const RecordingDisplay& display, bool& stop) {
        if (display.text() == "Wait until 18:00 to re-start." && ++pumpsInWait == 30) {
            stop = true;
            stoppedAt = Now();
        }
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(cycles(), 1);
    EXPECT_GT(stoppedAt, TestClock::At(10, 0, 25));
    EXPECT_LE(Now() - stoppedAt, seconds(1));
}

TEST_F(LoopTime, OneCycleOnlyNeverWaits) {
    clock.set(10, 0, 0);
    EXPECT_EQ(world.run(log, true), 0);
    EXPECT_EQ(cycles(), 1);
    EXPECT_FALSE(log.showed("Wait until 18:00"));
    EXPECT_LT(Now() - TestClock::At(10, 0, 0), seconds(2));
}

TEST_F(LoopTime, AStopBeforeARowLeavesItForTheNextRun) {
    world.addAttachment(1, "TIF", (world.docs / "Gone.tif").string());
    world.addAttachment(2, "TIF", (world.docs / "Gone.tif").string());
    // Stopped while the first row is shown: that row is completed, the second is not taken.
    EXPECT_EQ(world.run(log, false, [&](const RecordingDisplay& display, bool& stop) {
                  if (display.text().find("Processing file 1 of 2") != std::string::npos) stop = true;
              }),
              0);
    EXPECT_EQ(world.status(1), 2);
    EXPECT_EQ(world.status(2), 0);
    EXPECT_EQ(cycles(), 1);
    EXPECT_EQ(log.texts.back().second, "Wait until 18:00 to re-start.") << "shown briefly, no wait";
}

// The clocks go back an hour one second after "Not found": the pause still lasts three to four
// seconds, it does not wait for the local clock to come round again.
TEST(LoopClockChange, ThePauseAfterNotFoundIsElapsedTime) {
    TestClock clock("Europe/Berlin");
    clock.set(std::chrono::sys_days{std::chrono::year{2026} / std::chrono::October / 25} + std::chrono::minutes{59} +
              seconds{59});  // 02:59:59 summer time, then 02:00:00 winter time
    LoopWorld world;
    DisplayLog log;
    world.addAttachment(1, "TIF", (world.docs / "Gone.tif").string());
    world.addAttachment(2, "TIF", (world.docs / "Gone.tif").string());
    EXPECT_EQ(world.run(log), 0);
    auto notFound = std::find_if(log.texts.begin(), log.texts.end(),
                                 [](const auto& entry) { return entry.second.ends_with("Not found"); });
    ASSERT_NE(notFound, log.texts.end());
    ASSERT_NE(notFound + 1, log.texts.end());
    const auto pause = (notFound + 1)->first - notFound->first;
    EXPECT_GE(pause, seconds(3));
    EXPECT_LT(pause, seconds(5));
}

}  // namespace
}  // namespace kvo::test
