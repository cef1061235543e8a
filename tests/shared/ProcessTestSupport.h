#pragma once
// What the process tests share: helper programs, waiting for a condition, counting descriptors.
#include "support/TestSupport.h"

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <string>
#include <thread>

namespace kvo::test {

inline std::string Helper(const std::string& name) { return (HelperDir() / name).string(); }

// Polls `condition` until it holds or `limit` has passed; true when it held.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(10)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

inline int OpenDescriptorCount() {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd) count += fcntl(fd, F_GETFD) != -1;
    return count;
}

}  // namespace kvo::test
