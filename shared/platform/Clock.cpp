#include "shared/platform/Clock.h"

#include <ctime>
#include <thread>

namespace kvo {

namespace {

// The replaced clock and how far SleepMs has moved it on.
std::function<TimePoint()>& TestSource() {
    static std::function<TimePoint()> source;
    return source;
}
std::function<SteadyPoint()>& TestSteadySource() {
    static std::function<SteadyPoint()> source;
    return source;
}
std::chrono::milliseconds& TestOffset() {
    static std::chrono::milliseconds offset{0};
    return offset;
}

std::tm LocalTime(TimePoint when) {
    using namespace std::chrono;
    std::time_t t = system_clock::to_time_t(time_point<system_clock, seconds>(floor<seconds>(when)));
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

// Seconds from the local calendar's day zero to `when`, counted on the local date and clock
// reading (so a day is always 24 hours long, whatever daylight saving does).
long long LocalCalendarSeconds(TimePoint when) {
    using namespace std::chrono;
    std::tm local = LocalTime(when);
    auto day = sys_days{year{local.tm_year + 1900} / month{static_cast<unsigned>(local.tm_mon + 1)} /
                        std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
    return day.time_since_epoch().count() * 86400LL + local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
}

long long FloorDiv(long long value, long long unit) {
    return value >= 0 ? value / unit : -((-value + unit - 1) / unit);
}

}  // namespace

TimePoint Now() {
    if (TestSource()) return TestSource()() + TestOffset();
    return std::chrono::system_clock::now();
}

SteadyPoint SteadyNow() {
    if (TestSteadySource()) return TestSteadySource()() + TestOffset();
    if (TestSource()) return SteadyPoint(std::chrono::duration_cast<SteadyPoint::duration>(Now().time_since_epoch()));
    return std::chrono::steady_clock::now();
}

void SetClockForTesting(std::function<TimePoint()> source, std::function<SteadyPoint()> steadySource) {
    TestSource() = std::move(source);
    TestSteadySource() = std::move(steadySource);
    TestOffset() = std::chrono::milliseconds{0};
}

void SleepMs(int milliseconds) {
    if (milliseconds < 0) milliseconds = 0;
    if (TestSource()) {
        TestOffset() += std::chrono::milliseconds{milliseconds};
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds{milliseconds});
}

long long HourCount(TimePoint earlier, TimePoint later) {
    return FloorDiv(LocalCalendarSeconds(later), 3600) - FloorDiv(LocalCalendarSeconds(earlier), 3600);
}

long long SecondCount(TimePoint earlier, TimePoint later) {
    return LocalCalendarSeconds(later) - LocalCalendarSeconds(earlier);
}

int LocalHour(TimePoint when) { return LocalTime(when).tm_hour; }

double SecondsSince(SteadyPoint start) { return std::chrono::duration<double>(SteadyNow() - start).count(); }

HourLimit::HourLimit() {
    using namespace std::chrono;
    const TimePoint start = Now();
    // Time into the current clock hour, with the fraction of its second.
    const auto intoSecond = start.time_since_epoch() - floor<seconds>(start.time_since_epoch());
    const long long calendar = LocalCalendarSeconds(start);
    const auto intoHour = seconds(calendar - FloorDiv(calendar, 3600) * 3600) + intoSecond;
    deadline_ = SteadyNow() + duration_cast<SteadyPoint::duration>(hours(2) - intoHour);
}

bool HourLimit::reached() const { return SteadyNow() >= deadline_; }

}  // namespace kvo
