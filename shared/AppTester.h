#pragma once
// Watching and ending programs by image name (the base name of the process's executable).
//
// Names are compared without regard to case, with a trailing ".exe" ignored on both sides, so
// "KVOProcessSlides.exe" matches the running KVOProcessSlides. Only processes of the current
// user are seen; zombies never count. None of these routines throws.
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace kvo {

// True when at least one live process of this user has the image name.
bool IsAppRunning(const std::string& imageName);

// Ends every process of this user with the image name: the ids are collected in one walk of
// the process list first, then killed in that order; a process that vanished is skipped.
void KillAppByName(const std::string& imageName);

// Ends one process (SIGKILL). True when the signal was delivered.
bool KillProcessById(pid_t processId, std::int32_t exitCode);

// The image name of a process as compared above ("" when it cannot be read).
std::string ImageNameOf(pid_t processId);

}  // namespace kvo
