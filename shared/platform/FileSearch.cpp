#include "shared/platform/FileSearch.h"
#include "shared/platform/Text.h"
#include "shared/platform/WholeFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kvo {

namespace {

// ---- case-blind names -------------------------------------------------------------------

bool FoldedWildcardMatch(const std::u32string& pattern, const std::u32string& name, size_t from = 0) {
    size_t p = 0, n = from, star = std::u32string::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == U'*') {
            star = p++;
            mark = n;
        } else if (star != std::u32string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*') ++p;
    return p == pattern.size();
}

// ---- folders and entries ----------------------------------------------------------------

bool IsHidden(const std::string& name) { return !name.empty() && name[0] == '.'; }

bool IsDirectory(const std::string& path) {
    struct stat info{};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat info{};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// "" stands for the current folder of a relative path.
std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Entry names of a folder in directory order, without "." and "..".
std::vector<std::string> ListNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    closedir(dir);
    return names;
}

// The entry of `folder` named `name` without regard to case that satisfies `accept`: the exact
// name when it qualifies, else the first qualifying name in byte order (so that the choice
// does not depend on directory order).
std::optional<std::string> ResolveEntry(const std::string& folder, const std::string& name,
                                        const std::function<bool(const std::string&)>& accept) {
    if (accept(name)) return name;
    std::u32string wanted = CaseFolded(name);
    std::optional<std::string> best;
    for (const std::string& candidate : ListNames(folder)) {
        if (CaseFolded(candidate) != wanted || !accept(candidate)) continue;
        if (!best || candidate < *best) best = candidate;
    }
    return best;
}

// Resolves every component of a folder path without regard to case. "" is the current folder.
std::optional<std::string> ResolveFolder(const std::string& folder) {
    std::string current = !folder.empty() && folder[0] == '/' ? "/" : "";
    size_t start = 0;
    while (start <= folder.size()) {
        size_t end = folder.find('/', start);
        if (end == std::string::npos) end = folder.size();
        std::string component = folder.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;
        auto real = ResolveEntry(current, component, [&](const std::string& candidate) {
            return IsDirectory(Join(current, candidate));
        });
        if (!real) return std::nullopt;
        current = Join(current, *real);
    }
    return current;
}

struct SplitPath {
    std::string folder;  // "" for the current folder
    std::string name;
};

SplitPath Split(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {"", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool IsVisibleFile(const std::string& folder, const std::string& name) {
    return !IsHidden(name) && IsRegularFile(Join(folder, name));
}

// A path whose folders are resolved without regard to case and whose last component is the
// entry of that name that `accept` takes.
std::optional<std::string> ResolvePath(const std::string& path,
                                       const std::function<bool(const std::string&, const std::string&)>& accept) {
    SplitPath parts = Split(path);
    if (parts.name.empty()) return std::nullopt;
    auto folder = ResolveFolder(parts.folder);
    if (!folder) return std::nullopt;
    auto name = ResolveEntry(*folder, parts.name, [&](const std::string& candidate) { return accept(*folder, candidate); });
    if (!name) return std::nullopt;
    return Join(*folder, *name);
}

struct Matches {
    std::string folder;
    std::vector<std::string> names;
};

Matches MatchingFiles(const std::string& folder, const std::function<bool(const std::u32string&)>& matches) {
    Matches result;
    auto real = ResolveFolder(folder);
    if (!real) return result;
    result.folder = *real;
    for (const std::string& name : ListNames(result.folder))
        if (matches(CaseFolded(name)) && IsVisibleFile(result.folder, name)) result.names.push_back(name);
    return result;
}

Matches MatchingPattern(const std::string& pattern) {
    SplitPath parts = Split(pattern);
    std::u32string wanted = CaseFolded(parts.name);
    return MatchingFiles(parts.folder, [&](const std::u32string& name) { return FoldedWildcardMatch(wanted, name); });
}

Matches MatchingPrefix(const std::string& folder, const std::string& literalPrefix, const std::string& wildcardSuffix) {
    std::u32string prefix = CaseFolded(literalPrefix);
    std::u32string suffix = CaseFolded(wildcardSuffix);
    return MatchingFiles(folder, [&](const std::u32string& name) {
        return name.compare(0, prefix.size(), prefix) == 0 && FoldedWildcardMatch(suffix, name, prefix.size());
    });
}

int DeleteAll(const Matches& matches) {
    int deleted = 0;
    for (const std::string& name : matches.names)
        if (unlink(Join(matches.folder, name).c_str()) == 0) ++deleted;
    return deleted;
}

// ---- whole-file writing -----------------------------------------------------------------

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

// Where a write to `path` lands: its folder resolved without regard to case, and the name of
// the existing regular file that matches without regard to case (else the name as given).
std::string ResolveTarget(const std::string& path) {
    SplitPath parts = Split(path);
    if (parts.name.empty() || parts.name == "." || parts.name == "..") Fail("cannot write", path, EISDIR);
    auto folder = ResolveFolder(parts.folder);
    if (!folder) Fail("cannot write", path, ENOENT);
    auto existing = ResolveEntry(*folder, parts.name, [&](const std::string& candidate) {
        return IsRegularFile(Join(*folder, candidate));
    });
    std::string target = Join(*folder, existing ? *existing : parts.name);
    if (!existing && access(target.c_str(), F_OK) == 0) Fail("cannot write", path, EISDIR);
    return target;
}

}  // namespace

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    return FoldedWildcardMatch(CaseFolded(pattern), CaseFolded(name));
}

std::optional<std::string> ResolveFile(const std::string& path) {
    return ResolvePath(path, [](const std::string& folder, const std::string& candidate) {
        return IsVisibleFile(folder, candidate);
    });
}

bool FileExists(const std::string& path) { return ResolveFile(path).has_value(); }

std::optional<std::string> FindEntry(const std::string& path) {
    return ResolvePath(path, [](const std::string& folder, const std::string& candidate) {
        struct stat info{};
        return lstat(Join(folder, candidate).c_str(), &info) == 0;
    });
}

std::vector<std::string> FindFiles(const std::string& pattern) { return MatchingPattern(pattern).names; }

std::vector<std::string> FindFilesWithPrefix(const std::string& folder, const std::string& literalPrefix,
                                             const std::string& wildcardSuffix) {
    return MatchingPrefix(folder, literalPrefix, wildcardSuffix).names;
}

int DeleteFiles(const std::string& pattern) { return DeleteAll(MatchingPattern(pattern)); }

int DeleteFilesWithPrefix(const std::string& folder, const std::string& literalPrefix,
                          const std::string& wildcardSuffix) {
    return DeleteAll(MatchingPrefix(folder, literalPrefix, wildcardSuffix));
}

bool DeleteFile(const std::string& path) {
    auto real = ResolveFile(path);
    return !real || unlink(real->c_str()) == 0 || errno == ENOENT;
}

bool RenameFile(const std::string& from, const std::string& newName) {
    if (newName.empty() || newName == "." || newName == ".." || newName.find('/') != std::string::npos) return false;
    auto source = ResolveFile(from);
    if (!source) return false;
    SplitPath parts = Split(*source);
    if (newName == parts.name) return true;
    std::u32string wanted = CaseFolded(newName);
    for (const std::string& existing : ListNames(parts.folder))
        if (existing != parts.name && CaseFolded(existing) == wanted) return false;
    std::string target = Join(parts.folder, newName);
    // Renamed without replacing: nothing that appeared after the check above is overwritten.
    const int error = RenameWithoutReplacing(*source, target);
    if (error != EEXIST || CaseFolded(parts.name) != wanted) return error == 0;
    // A change of case only, on a file system that ignores case: the new name is the file itself.
    struct stat old {}, named {};
    return stat(source->c_str(), &old) == 0 && stat(target.c_str(), &named) == 0 && old.st_dev == named.st_dev &&
           old.st_ino == named.st_ino && rename(source->c_str(), target.c_str()) == 0;
}

void CopyFileReplace(const std::string& from, const std::string& to, Durability durability) {
    auto source = ResolveFile(from);
    if (!source) Fail("cannot copy", from, ENOENT);
    WholeFileWriter copy(ResolveTarget(to), durability);
    copy.copyWholeFile(*source);
    copy.commit();
}

std::optional<std::int64_t> FileLength(const std::string& path) {
    auto real = ResolveFile(path);
    struct stat info{};
    if (!real || stat(real->c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::int64_t>(info.st_size);
}

std::optional<std::uint64_t> FreeBytesIn(const std::string& folder) {
    struct statvfs space {};
    if (statvfs(folder.c_str(), &space) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize;
}

std::optional<std::uint64_t> TotalBytesIn(const std::string& folder) {
    struct statvfs space {};
    if (statvfs(folder.c_str(), &space) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(space.f_blocks) * space.f_frsize;
}

void WriteFileAtomically(const std::string& path, const std::string& content) {
    WholeFileWriter file(ResolveTarget(path));
    file.write(content.data(), content.size());
    file.commit();
}

}  // namespace kvo
