#pragma once
// Watching and ending programs by image name (the base name of the process's executable).
//
// Names are compared without regard to case, with a trailing ".exe" ignored on both sides, so
// "KVOProcessSlides.exe" matches the running KVOProcessSlides. Only the processes of the
// caller's chain are seen: the current user's, started with the same work folder (TEMP, see
// TempFolder) as the caller's; a process whose environment cannot be read is not one of them,
// and zombies never count. None of these routines throws.
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace kvo {

// True when at least one live process of this chain has the image name.
bool IsAppRunning(const std::string& imageName);

// Ends every process of this chain with the image name: the ids are collected in one walk of
// the process list first, then killed in that order; a process that vanished is skipped.
void KillAppByName(const std::string& imageName);

// Ends one process (SIGKILL; the exit code has no counterpart and is not used). True when the
// signal was delivered. Ids below 1 (a process group, every process) are refused.
bool KillProcessById(pid_t processId, std::int32_t exitCode);

// The image name of a process as compared above ("" when it cannot be read).
std::string ImageNameOf(pid_t processId);

// When a live process started, in clock ticks after the machine's boot; nullopt when no live
// process has the id (it has ended, or is a zombie) or it cannot be read. Tells a process from
// a later one that was given the same id.
std::optional<std::uint64_t> ProcessStartTicks(pid_t processId);

// The kernel's random id of the current boot (its first 8 hex digits), and the id of this
// process's PID namespace: together they tell where a process id means this process list.
// "" when they cannot be read.
std::string BootId();
std::string PidNamespaceId();

// The address space this process holds, in bytes; nullopt when it cannot be read.
std::optional<std::uint64_t> AddressSpaceBytes();

// The name comparison itself: without regard to case, a trailing ".exe" ignored on both sides.
bool ImageNamesMatch(const std::string& a, const std::string& b);

// The name without a trailing ".exe" (in any case).
std::string WithoutExeSuffix(const std::string& name);

}  // namespace kvo
