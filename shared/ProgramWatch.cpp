#include "shared/ProgramWatch.h"

#include "shared/AppTester.h"
#include "shared/ShellModule.h"
#include "shared/platform/Clock.h"

namespace kvo {

WatchEnd WatchProgram(const std::string& imageName, const WatchOptions& options) {
    const HourLimit limit;
    ReapChildren();
    while (IsAppRunning(imageName)) {
        if (options.hourLimit && limit.reached()) {
            KillAppByName(imageName);
            ReapChildren();
            return WatchEnd::TimedOut;
        }
        SleepMs(options.pollMs);
        ReapChildren();
        if (options.onPoll) options.onPoll();
    }
    return WatchEnd::Ended;
}

}  // namespace kvo
