#include "shared/platform/WorkFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>

#include "shared/platform/Paths.h"

namespace kvo {
namespace {

constexpr int kMaxWorkerFolders = 1000;

bool IsWorkerFolderName(const std::string& name) {
    const std::string prefix = kWorkerFolderPrefix;
    return name.size() > prefix.size() && name.starts_with(prefix) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

int OpenFolder(const std::string& folder) {
    return open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
}

}  // namespace

int HoldFolder(const std::string& folder) {
    const int fd = OpenFolder(folder);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    close(fd);
    return -1;
}

HeldFolder TakeWorkerFolder(const std::string& base, int& next) {
    for (; next <= kMaxWorkerFolders; ++next) {
        const std::string path = base + "/" + kWorkerFolderPrefix + std::to_string(next);
        EnsurePrivateFolder(path);
        if (const int fd = HoldFolder(path); fd >= 0) {
            ++next;
            return {path, fd};
        }
    }
    throw std::runtime_error("every work folder in " + base + " is in use");
}

bool IsHeld(const std::string& folder) {
    const int fd = OpenFolder(folder);
    if (fd < 0) return false;
    // A shared lock is refused only while an exclusive one is held.
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

std::vector<std::string> OtherChainFolders(const std::string& folder) {
    const std::filesystem::path own(folder);
    const std::string temp = IsWorkerFolderName(own.filename().string()) ? own.parent_path().string() : folder;
    std::vector<std::string> others;
    if (temp != folder) others.push_back(temp);
    DIR* listing = opendir(temp.c_str());
    if (!listing) return others;
    while (const dirent* entry = readdir(listing)) {
        const std::string path = temp + "/" + entry->d_name;
        if (IsWorkerFolderName(entry->d_name) && path != folder) others.push_back(path);
    }
    closedir(listing);
    return others;
}

}  // namespace kvo
