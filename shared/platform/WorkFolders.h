#pragma once
// The work folders of the chains that share one TEMP: TEMP itself, for a driver that walks the
// queue alone, and the private folders "worker-<n>" in it. A chain's driver or worker holds its
// folder (an exclusive lock on it) for as long as the chain works there, so that no two chains
// ever share one; a folder whose holder died is free again at once.
#include <string>
#include <vector>

namespace kvo {

inline constexpr const char* kWorkerFolderPrefix = "worker-";

// A folder held by this process; the lock lasts until the descriptor is closed.
struct HeldFolder {
    std::string path;
    int lockFd = -1;
};

// Holds `folder` when no chain holds it: the lock's descriptor (close-on-exec), or -1 when it
// is held already or cannot be opened as a folder.
int HoldFolder(const std::string& folder);

// The first folder worker-<next>, worker-<next + 1>, … in `base` that no chain holds, made
// private to this user (mode 0700) and held; `next` is left after it. Throws std::runtime_error
// when none is free or one cannot be made private.
HeldFolder TakeWorkerFolder(const std::string& base, int& next);

// True while some chain holds the folder.
bool IsHeld(const std::string& folder);

// The folders in which other chains on the same TEMP may be working, seen from the chain in
// `folder`: TEMP (the parent of a folder named worker-<n>, else `folder` itself) and the
// worker folders in it, without `folder`.
std::vector<std::string> OtherChainFolders(const std::string& folder);

}  // namespace kvo
