#pragma once
// The clocks the programs read, the hour and second counts between two times, the hour limit
// of a watched child, and sleeping.
//
// The local calendar (Now, HourCount, LocalHour) serves the 18 o'clock rule and the cycle's
// hour count only; how long a child or a pause has run is measured on the monotonic clock
// (SteadyNow), so that a daylight-saving jump neither ends a child early nor stretches a wait.
#include <chrono>
#include <functional>

namespace kvo {

using TimePoint = std::chrono::system_clock::time_point;
using SteadyPoint = std::chrono::steady_clock::time_point;

// Current time. Tests may replace the source with SetClockForTesting.
TimePoint Now();
// Monotonic time. Under a replaced clock it follows the replacement (or `steadySource`, when
// a test moves the two apart, as a daylight-saving jump does).
SteadyPoint SteadyNow();
// Replaces the clock (nullptr restores the real one). SleepMs() advances a replaced clock by
// the slept time instead of sleeping, so time-driven loops run instantly in tests.
void SetClockForTesting(std::function<TimePoint()> source, std::function<SteadyPoint()> steadySource = nullptr);
void SleepMs(int milliseconds);

// Clock-hour boundaries crossed from `earlier` to `later`, in local calendar time: both cut
// down to whole hours, then subtracted. 10:59:30 -> 12:00:00 gives 2.
long long HourCount(TimePoint earlier, TimePoint later);
// Whole-second boundaries crossed, likewise.
long long SecondCount(TimePoint earlier, TimePoint later);
// The hour (0..23) of local time.
int LocalHour(TimePoint when);

// Seconds elapsed on the monotonic clock since `start`.
double SecondsSince(SteadyPoint start);

// The time limit of a watched child: reached from the first check after the second clock-hour
// boundary after its start (between just over one and two hours), the remaining time taken
// from the wall clock once, at the start, and then counted on the monotonic clock.
class HourLimit {
public:
    HourLimit();
    bool reached() const;

private:
    SteadyPoint deadline_;
};

}  // namespace kvo
