#pragma once
// The clock the programs read, the hour and second counts between two times, and sleeping.
#include <chrono>
#include <functional>

namespace kvo {

using TimePoint = std::chrono::system_clock::time_point;

// Current time. Tests may replace the source with SetClockForTesting.
TimePoint Now();
// Replaces the clock (nullptr restores the real one). Sleep() advances a replaced clock by the
// slept time instead of sleeping, so time-driven loops run instantly in tests.
void SetClockForTesting(std::function<TimePoint()> source);
void SleepMs(int milliseconds);

// Clock-hour boundaries crossed from `earlier` to `later`, in local calendar time: both cut
// down to whole hours, then subtracted. 10:59:30 -> 12:00:00 gives 2.
long long HourCount(TimePoint earlier, TimePoint later);
// Whole-second boundaries crossed, likewise.
long long SecondCount(TimePoint earlier, TimePoint later);
// The hour (0..23) of local time.
int LocalHour(TimePoint when);

}  // namespace kvo
