#pragma once
// Waiting for a program to end, watched by its image name: the one watch every program uses
// for the children it does not block on.
#include <functional>
#include <string>

namespace kvo {

enum class WatchEnd {
    Ended,     // no process of the name runs any more
    TimedOut,  // the hour limit was reached and every process of the name was ended
};

struct WatchOptions {
    int pollMs = 200;
    bool hourLimit = true;
    // Called after every pause (the driver keeps its window alive here).
    std::function<void()> onPoll = nullptr;
};

// Waits while a process with the image name runs (IsAppRunning), reaping ended children
// between looks. With the hour limit, past it every process of the name is ended.
WatchEnd WatchProgram(const std::string& imageName, const WatchOptions& options = {});

}  // namespace kvo
