#include "shared/AppTester.h"

#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
#include "shared/platform/Text.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <chrono>
#include <poll.h>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <string_view>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kvo {

namespace {

// Process descriptors, called directly: this glibc's header declares them without C linkage.
int OpenPidfd(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
void SendKill(int pidfd) { syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0); }

std::string ProcPath(pid_t pid, const char* entry) { return "/proc/" + std::to_string(pid) + "/" + entry; }

// The state in /proc/<pid>/stat of a zombie or of a process being torn down: it has ended,
// whatever /proc still shows of it.
bool IsEndedState(char state) { return state == 'Z' || state == 'X' || state == 'x'; }

// A zombie (or a process already torn down) has ended.
bool HasEnded(pid_t pid) {
    int fd = open(ProcPath(pid, "stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    char buffer[512];
    ssize_t got = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (got <= 0) return true;
    std::string stat(buffer, static_cast<size_t>(got));
    size_t nameEnd = stat.rfind(')');  // the command name in parentheses may hold anything
    if (nameEnd == std::string::npos || nameEnd + 2 >= stat.size()) return true;
    return IsEndedState(stat[nameEnd + 2]);
}

pid_t ParsePid(const char* name) {
    char* end = nullptr;
    long value = std::strtol(name, &end, 10);
    return (*name >= '1' && *name <= '9' && *end == '\0' && value > 0) ? static_cast<pid_t>(value) : 0;
}

// The work folder a process runs in, from the environment it was started with (TEMP, else
// TMPDIR); nullopt when that environment cannot be read.
std::optional<std::string> WorkFolderOf(pid_t pid, uid_t uid) {
    const int fd = open(ProcPath(pid, "environ").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string environment;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) environment.append(buffer, static_cast<size_t>(got));
    close(fd);
    if (got < 0) return std::nullopt;
    std::string temp, tmpdir;
    for (size_t start = 0; start < environment.size();) {
        size_t end = environment.find('\0', start);
        if (end == std::string::npos) end = environment.size();
        const std::string_view entry(environment.data() + start, end - start);
        if (entry.substr(0, 5) == "TEMP=") temp = entry.substr(5);
        else if (entry.substr(0, 7) == "TMPDIR=") tmpdir = entry.substr(7);
        start = end + 1;
    }
    return WorkFolderFor(temp, tmpdir, uid);
}

// The caller's work folder; nullopt when it has none (then no chain is seen).
std::optional<std::string> CallerChain() {
    try {
        return TempFolder();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// A live process of the chain (this user, started with the work folder `chain`) with the name.
bool IsChainProcess(pid_t pid, const std::string& imageName, const std::string& chain) {
    const std::string image = ImageNameOf(pid);
    return !image.empty() && ImageNamesMatch(image, imageName) && !HasEnded(pid) &&
           WorkFolderOf(pid, geteuid()) == chain;
}

// Visits every live process of the caller's chain whose image name matches `imageName`, in the
// order of the process list, until `visit` returns false. Parallel chains thus never wait for
// or end each other's programs.
void ForEachMatch(const std::string& imageName, const std::function<bool(pid_t, const std::string&)>& visit) {
    const std::optional<std::string> chain = CallerChain();
    if (!chain) return;
    DIR* proc = opendir("/proc");
    if (!proc) return;
    const uid_t me = geteuid();
    while (dirent* entry = readdir(proc)) {
        pid_t pid = ParsePid(entry->d_name);
        struct stat info{};
        if (pid == 0 || fstatat(dirfd(proc), entry->d_name, &info, 0) != 0 || info.st_uid != me) continue;
        if (!IsChainProcess(pid, imageName, *chain)) continue;
        if (!visit(pid, *chain)) break;
    }
    closedir(proc);
}

}  // namespace

std::string WithoutExeSuffix(const std::string& name) {
    if (name.size() >= 4 && EqualsIgnoringCase(name.substr(name.size() - 4), ".exe"))
        return name.substr(0, name.size() - 4);
    return name;
}

bool ImageNamesMatch(const std::string& a, const std::string& b) {
    return EqualsIgnoringCase(WithoutExeSuffix(a), WithoutExeSuffix(b));
}

std::optional<std::uint64_t> ProcessStartTicks(pid_t processId) {
    if (processId <= 0) return std::nullopt;
    std::ifstream stat(ProcPath(processId, "stat"));
    std::string line;
    if (!std::getline(stat, line)) return std::nullopt;
    // Counted after the command name in parentheses (which may hold anything): field 3 is the
    // state (IsEndedState), field 22 the start in clock ticks after boot.
    const std::size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) return std::nullopt;
    std::istringstream fields(line.substr(nameEnd + 1));
    std::string state;
    if (!(fields >> state) || IsEndedState(state[0])) return std::nullopt;
    std::string field;
    for (int index = 4; index <= 22 && fields >> field; ++index) {
    }
    unsigned long long ticks = 0;
    if (!fields || std::sscanf(field.c_str(), "%llu", &ticks) != 1) return std::nullopt;
    return ticks;
}

std::string BootId() {
    std::ifstream file("/proc/sys/kernel/random/boot_id");
    std::string id;
    if (!std::getline(file, id)) return "";
    std::erase(id, '-');
    if (id.size() < 8 || id.find_first_not_of("0123456789abcdef") != std::string::npos) return "";
    return id.substr(0, 8);
}

std::string PidNamespaceId() {
    // "pid:[4026531836]": the namespace's inode number.
    char target[64] = {};
    const ssize_t length = readlink("/proc/self/ns/pid", target, sizeof target - 1);
    if (length <= 0) return "";
    const std::string_view text(target, static_cast<std::size_t>(length));
    const std::size_t open = text.find('['), close = text.rfind(']');
    if (open == std::string_view::npos || close == std::string_view::npos || close <= open + 1) return "";
    const std::string id(text.substr(open + 1, close - open - 1));
    return AllDigits(id) ? id : "";
}

std::optional<std::uint64_t> AddressSpaceBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    if (!(statm >> pages)) return std::nullopt;
    return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

std::string ImageNameOf(pid_t processId) {
    if (processId <= 0) return "";
    std::string target(4096, '\0');
    ssize_t length = readlink(ProcPath(processId, "exe").c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) return "";
    target.resize(static_cast<size_t>(length));
    const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() && target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
        target.resize(target.size() - deleted.size());
    return target.substr(target.rfind('/') + 1);
}

bool IsAppRunning(const std::string& imageName) {
    bool running = false;
    ForEachMatch(imageName, [&](pid_t, const std::string&) {
        running = true;
        return false;
    });
    return running;
}

void KillAppByName(const std::string& imageName) {
    // A process descriptor pins each process found, so that a process id reused between the
    // walk and the kill never hits an unrelated program.
    struct Target {
        pid_t pid;
        int pidfd;
    };
    std::vector<Target> targets;
    ForEachMatch(imageName, [&](pid_t pid, const std::string& chain) {
        int pidfd = OpenPidfd(pid);
        if (pidfd < 0 && errno != ENOSYS) return true;  // it has ended already
        if (pidfd >= 0 && !IsChainProcess(pid, imageName, chain)) {
            close(pidfd);  // the id now belongs to another program
            return true;
        }
        targets.push_back({pid, pidfd});
        return true;
    });
    for (const Target& target : targets) {
        if (target.pidfd < 0) KillProcessById(target.pid, 0);
        else SendKill(target.pidfd);  // fails quietly when it has ended by itself
    }
    // The kernel ends a killed process a moment later: wait (briefly) until each has, so that
    // a caller looking at the process list right away no longer sees it.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (const Target& target : targets) {
        if (target.pidfd < 0) continue;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ended{target.pidfd, POLLIN, 0};
        if (left.count() > 0) poll(&ended, 1, static_cast<int>(left.count()));
        close(target.pidfd);
    }
}

bool KillProcessById(pid_t processId, std::int32_t /*exitCode*/) {
    return processId > 0 && kill(processId, SIGKILL) == 0;
}

}  // namespace kvo
