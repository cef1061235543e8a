#include "shared/platform/Paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kvo {

namespace {

// The value of an environment variable, or "" when it is unset or empty.
std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// "/a/b/" -> "/a/b"; "/" stays "/".
std::string WithoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace

void EnsurePrivateFolder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create the work folder " + folder + ": " + std::strerror(errno));
    struct stat info{};
    if (lstat(folder.c_str(), &info) != 0)
        throw std::runtime_error("cannot examine the work folder " + folder + ": " + std::strerror(errno));
    if (!S_ISDIR(info.st_mode))
        throw std::runtime_error("the work folder " + folder + " is not a directory");
    if (info.st_uid != geteuid())
        throw std::runtime_error("the work folder " + folder + " belongs to another user");
    if ((info.st_mode & 0777) != 0700 && chmod(folder.c_str(), 0700) != 0)
        throw std::runtime_error("cannot make the work folder " + folder + " private: " + std::strerror(errno));
}

std::string WorkFolderFault(const std::string& folder) {
    struct stat info{};
    if (stat(folder.c_str(), &info) != 0) return "the work folder " + folder + " cannot be examined: " + std::strerror(errno);
    if (!S_ISDIR(info.st_mode)) return "the work folder " + folder + " is not a directory";
    if (info.st_uid != geteuid())
        return "the work folder " + folder + " belongs to user " + std::to_string(info.st_uid) + ", not to user " +
               std::to_string(geteuid()) + " who runs the service";
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return "the work folder " + folder + " may be written by other users (mode " + mode + ")";
    }
    return "";
}

std::string WorkFolderFor(const std::string& temp, const std::string& tmpdir, uid_t uid) {
    if (!temp.empty()) return WithoutTrailingSlash(temp);
    std::string folder = WithoutTrailingSlash(tmpdir.empty() ? "/tmp" : tmpdir);
    if (folder != "/") folder += '/';
    return folder + "kvo-" + std::to_string(uid);
}

std::string TempFolder() {
    const std::string temp = Environment("TEMP");
    const std::string folder = WorkFolderFor(temp, Environment("TMPDIR"), geteuid());
    if (temp.empty()) EnsurePrivateFolder(folder);
    return folder;
}

namespace {

// The running executable's path; "" when it cannot be read.
std::string ExecutablePath() {
    std::string buffer(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return "";
    buffer.resize(static_cast<size_t>(length));
    const std::string deleted = " (deleted)";
    if (buffer.size() > deleted.size() && buffer.compare(buffer.size() - deleted.size(), deleted.size(), deleted) == 0)
        buffer.resize(buffer.size() - deleted.size());
    return buffer;
}

}  // namespace

std::string AppFolder() {
    const std::string path = ExecutablePath();
    if (path.empty()) throw std::runtime_error("cannot find the folder of the running program");
    const size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ExecutableName() {
    const std::string path = ExecutablePath();
    return path.substr(path.rfind('/') + 1);
}

std::string WindowsFolder() {
    std::string windir = Environment("windir");
    return windir.empty() ? "/etc/kvo" : WithoutTrailingSlash(windir);
}

}  // namespace kvo
