#pragma once
// Who a process is, in a form that stays true across machines, boots and PID namespaces: a
// process id alone names another process on another machine, after a reboot, in another
// container, or once the id has been given to a later process.
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace kvo {

struct ProcessIdentity {
    std::string host;          // the machine's name, as people know it
    std::string boot;          // the kernel's boot id (8 hex digits); "" when unknown
    std::string pidNamespace;  // the PID namespace's id; "" when unknown
    pid_t pid = 0;
    std::uint64_t start = 0;   // clock ticks after boot

    bool operator==(const ProcessIdentity&) const = default;
};

// This process (worked out afresh in a forked child).
const ProcessIdentity& ThisProcess();

// True when the process ids of `a` and `b` name processes of one process list: the same machine,
// boot and PID namespace, each known.
bool SameProcessList(const ProcessIdentity& a, const ProcessIdentity& b);

// Whether the process still runs; nullopt when that cannot be told from here (another machine,
// boot or PID namespace).
std::optional<bool> StillRuns(const ProcessIdentity& process);

}  // namespace kvo
