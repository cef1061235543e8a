#pragma once
// Waiting for the programs of a chain by their image name (AppTester): a child is waited for
// until it and every other process of the chain with its image name have gone.
#include <functional>
#include <string>

#include "shared/ChildProcess.h"

namespace kvo {

struct WatchOptions {
    int pollMs = 200;
    TimeLimit limit = TimeLimit::Hour();
    // Called after every pause (the driver keeps its window and its claim alive here).
    std::function<void()> onPoll = nullptr;
};

// Waits until `child`, started as the program `imageName`, has ended and no process of the chain
// with that image name runs. At the limit every process of the name is ended, and the child with
// them: its end is then TimedOut.
ChildEnd WatchChild(Child& child, const std::string& imageName, const WatchOptions& options = {});

// Waits while a process of the chain with the image name runs; at the limit every one is ended.
// False when the limit ended them.
bool WaitWhileRunning(const std::string& imageName, const WatchOptions& options = {});

}  // namespace kvo
