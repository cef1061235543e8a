#pragma once
// File look-up and file operations with the meaning the programs rely on: names compared
// without regard to case, `*` and `?` wildcards, regular files only, hidden = name starting
// with ".".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shared/platform/WholeFile.h"

namespace kvo {

// Resolves every component of an absolute or relative path to the existing entry whose name
// matches without regard to case (an exact match is preferred). The last component must be a
// regular, non-hidden file. Returns the real path, or nullopt.
std::optional<std::string> ResolveFile(const std::string& path);

// Like ResolveFile, but the last component may be an entry of any kind, hidden or not (a
// folder, a symbolic link, which is not followed, a device): what a new file of that name
// would meet. Returns its real path, or nullopt.
std::optional<std::string> FindEntry(const std::string& path);

// True when ResolveFile finds a file.
bool FileExists(const std::string& path);

// The directory look-up: the folder part of `pattern` is resolved without regard to case; the
// name part may hold `*` and `?`. Yields the real names (without folder) of the matching
// regular, non-hidden files, in directory order. Nothing matching (or no such folder) gives an
// empty list; never throws.
std::vector<std::string> FindFiles(const std::string& pattern);

// Like FindFiles, but the name part is a literal prefix (its own `*` and `?` match only
// themselves) followed by the wildcard suffix, e.g. FindFilesWithPrefix(dir, "a*b", "*.bmp").
std::vector<std::string> FindFilesWithPrefix(const std::string& folder, const std::string& literalPrefix,
                                             const std::string& wildcardSuffix);

// Case-blind wildcard match of a whole name (`*` any run, `?` one character).
bool WildcardMatch(const std::string& pattern, const std::string& name);

// The command interpreter's `del`: deletes every file that FindFiles(pattern) yields.
// Returns the number deleted; a pattern that matches nothing is not an error.
int DeleteFiles(const std::string& pattern);
// Same, with a literal prefix and a wildcard suffix in one folder.
int DeleteFilesWithPrefix(const std::string& folder, const std::string& literalPrefix,
                          const std::string& wildcardSuffix);

// Deletes one file (resolved without regard to case). A missing file is not an error: false
// only when an existing file could not be deleted.
bool DeleteFile(const std::string& path);

// The command interpreter's `ren`: renames the file `from` (resolved without regard to case)
// to `newName` in the same folder. Never overwrites: fails when an entry of that name (without
// regard to case) exists; a change of case only is allowed. `newName` is a bare name (no "/").
// Returns true on success.
bool RenameFile(const std::string& from, const std::string& newName);

// Copies `from` (resolved without regard to case) over `to`, replacing it (an existing file
// whose name differs only in case is the one replaced; the folder of `to` must exist). The copy is written
// to a temporary name beside `to` and renamed into place, so a reader never sees half a file.
// Throws std::runtime_error on failure. Page bitmaps are copied with Durability::Plain.
void CopyFileReplace(const std::string& from, const std::string& to, Durability durability = Durability::Flushed);

// Length in bytes of the resolved file, or nullopt.
std::optional<std::int64_t> FileLength(const std::string& path);

// Bytes an unprivileged writer may still write in the folder's file system, or nullopt when
// the folder cannot be examined.
std::optional<std::uint64_t> FreeBytesIn(const std::string& folder);
// The whole size of the folder's file system in bytes, or nullopt.
std::optional<std::uint64_t> TotalBytesIn(const std::string& folder);

// Writes `content` to `path` whole: a temporary file in the same folder, then renamed over it.
// Throws std::runtime_error on failure (nothing is left behind).
void WriteFileAtomically(const std::string& path, const std::string& content);

}  // namespace kvo
