#include "shared/ProgramWatch.h"

#include "shared/AppTester.h"
#include "shared/platform/Clock.h"

namespace kvo {

ChildEnd WatchChild(Child& child, const std::string& imageName, const WatchOptions& options) {
    for (;;) {
        const std::optional<ChildEnd> end = child.poll();
        if (end && !IsAppRunning(imageName)) return *end;
        if (options.limit.reached()) {
            const ChildEnd stopped = child.stop(options.limit);
            KillAppByName(imageName);
            return stopped;
        }
        SleepMs(options.pollMs);
        if (options.onPoll) options.onPoll();
    }
}

bool WaitWhileRunning(const std::string& imageName, const WatchOptions& options) {
    while (IsAppRunning(imageName)) {
        if (options.limit.reached()) {
            KillAppByName(imageName);
            return false;
        }
        SleepMs(options.pollMs);
        if (options.onPoll) options.onPoll();
    }
    return true;
}

}  // namespace kvo
