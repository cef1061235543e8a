#include "shared/platform/ProcessIdentity.h"

#include <unistd.h>

#include <algorithm>

#include "shared/AppTester.h"

namespace kvo {
namespace {

// Room for the rest of a worker's name in its 128 characters.
constexpr std::size_t kHostCharacters = 48;

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    std::string host(name);
    // The names this identity goes into use these as separators.
    std::replace_if(host.begin(), host.end(), [](char c) { return c == '/' || c == ':'; }, '_');
    return host.substr(0, kHostCharacters);
}

}  // namespace

const ProcessIdentity& ThisProcess() {
    static ProcessIdentity identity;
    if (identity.pid != getpid()) {
        identity.host = HostName();
        identity.boot = BootId();
        identity.pidNamespace = PidNamespaceId();
        identity.pid = getpid();
        identity.start = ProcessStartTicks(identity.pid).value_or(0);
    }
    return identity;
}

bool SameProcessList(const ProcessIdentity& a, const ProcessIdentity& b) {
    return !a.boot.empty() && !a.pidNamespace.empty() && a.host == b.host && a.boot == b.boot &&
           a.pidNamespace == b.pidNamespace;
}

std::optional<bool> StillRuns(const ProcessIdentity& process) {
    if (process.start == 0 || !SameProcessList(process, ThisProcess())) return std::nullopt;
    return ProcessStartTicks(process.pid) == process.start;
}

}  // namespace kvo
