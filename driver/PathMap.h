#pragma once
// Host paths written by Windows machines ("D:\Docs\Scan.tif", "\\server\share\Scan.tif") and the
// local folders they are mounted at, as listed in the [PathMap] section of ZRT.ini.
#include <string>
#include <utility>
#include <vector>

namespace kvo::driver {

// Host path prefix -> local folder, in file order.
using PathMapEntries = std::vector<std::pair<std::string, std::string>>;

// The local path of a host path: the longest host prefix that matches without regard to case,
// ending at a separator or at the end of the path, is replaced by its folder, and every
// backslash after it becomes "/". A path that no entry matches is returned unchanged.
std::string ToLocalPath(const PathMapEntries& pathMap, const std::string& hostPath);

// True when `path` lies inside `folder`, judged by whole components of both as written (no
// look-up, no link followed; a folder is not inside itself).
bool LiesInside(const std::string& path, const std::string& folder);

// True when the local path, as named, lies inside one of the mapped folders.
bool NamedInsideTheShares(const PathMapEntries& pathMap, const std::string& localPath);

// True when the existing file, with every link on its way followed, lies inside the real
// folder of one of the mapped folders.
bool ReallyInsideTheShares(const PathMapEntries& pathMap, const std::string& file);

// The entries whose local folder is not an existing folder (a share that is not mounted).
PathMapEntries MissingTargets(const PathMapEntries& pathMap);

// True for an empty folder on its parent's device: where a share should have been mounted (a
// mount point's contents lie on another device than its parent).
bool LooksUnmounted(const std::string& folder);

}  // namespace kvo::driver
