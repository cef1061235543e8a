#include "driver/PathMap.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "shared/platform/FileSearch.h"
#include "shared/platform/Text.h"

namespace kvo::driver {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string WithoutTrailingSeparators(std::string path) {
    while (!path.empty() && IsSeparator(path.back())) path.pop_back();
    return path;
}

std::string WithSlashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// Windows compares paths without regard to case and takes "/" for "\".
bool StartsWithLikeWindows(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringCase(WithSlashes(text.substr(0, prefix.size())), WithSlashes(prefix));
}

// True when `prefix` covers whole components of `path`: the path ends there or goes on with a
// separator.
bool EndsAtComponent(const std::string& path, std::size_t prefixLength) {
    return path.size() == prefixLength || IsSeparator(path[prefixLength]);
}

}  // namespace

std::string ToLocalPath(const PathMapEntries& pathMap, const std::string& hostPath) {
    const std::pair<std::string, std::string>* best = nullptr;
    std::size_t bestLength = 0;
    for (const auto& entry : pathMap) {
        std::string prefix = WithoutTrailingSeparators(entry.first);
        if (prefix.empty() || (best && prefix.size() <= bestLength)) continue;
        if (StartsWithLikeWindows(hostPath, prefix) && EndsAtComponent(hostPath, prefix.size())) {
            best = &entry;
            bestLength = prefix.size();
        }
    }
    if (!best) return hostPath;
    std::string local = WithoutTrailingSeparators(best->second) + WithSlashes(hostPath.substr(bestLength));
    return local.empty() ? "/" : local;
}

bool LiesInside(const std::string& path, const std::string& folder) {
    const std::filesystem::path inner = std::filesystem::path(path).lexically_normal();
    const std::filesystem::path outer = std::filesystem::path(folder).lexically_normal();
    if (outer.empty()) return false;
    // Names are looked up without regard to case, so they are compared so here too; the
    // folder's trailing separator is an empty last part.
    auto [innerPart, outerPart] = std::mismatch(inner.begin(), inner.end(), outer.begin(), outer.end(),
                                                [](const auto& a, const auto& b) { return EqualsIgnoringCase(a.string(), b.string()); });
    if (outerPart != outer.end() && !(outerPart->empty() && std::next(outerPart) == outer.end())) return false;
    return innerPart != inner.end() && !innerPart->empty();
}

bool NamedInsideTheShares(const PathMapEntries& pathMap, const std::string& localPath) {
    return std::any_of(pathMap.begin(), pathMap.end(), [&](const auto& entry) { return LiesInside(localPath, entry.second); });
}

bool ReallyInsideTheShares(const PathMapEntries& pathMap, const std::string& file) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(file, error);
    if (error) return false;
    return std::any_of(pathMap.begin(), pathMap.end(), [&](const auto& entry) {
        std::error_code missing;
        const std::filesystem::path share = std::filesystem::canonical(entry.second, missing);
        return !missing && LiesInside(real.string(), share.string());
    });
}

bool LooksUnmounted(const std::string& folder) {
    struct stat own {}, parent {};
    const std::string above = std::filesystem::path(folder).lexically_normal().parent_path().string();
    if (stat(folder.c_str(), &own) != 0 || stat(above.c_str(), &parent) != 0) return true;
    std::error_code error;
    return own.st_dev == parent.st_dev && std::filesystem::is_empty(folder, error);
}

PathMapEntries MissingTargets(const PathMapEntries& pathMap) {
    PathMapEntries missing;
    for (const auto& entry : pathMap) {
        std::error_code error;
        if (!std::filesystem::is_directory(entry.second, error)) missing.push_back(entry);
    }
    return missing;
}

}  // namespace kvo::driver
