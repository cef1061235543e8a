#include "driver/RowFacts.h"

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "driver/LoopRules.h"
#include "shared/platform/FileSearch.h"
#include "shared/xml/HandOff.h"

namespace kvo::driver {
namespace {

constexpr const char* kOutsideTheShares = "the attachment lies outside the mapped shares; nothing is read or written there";

// Why the folder of a file that was not found cannot be listed; "" when it can, or when it does
// not exist at all (the attachment went with its folder).
std::string FolderFault(const std::string& localPath) {
    if (localPath.empty()) return "";
    const std::string folder = std::filesystem::path(localPath).parent_path().string();
    const std::string real = FindEntry(folder.empty() ? "." : folder).value_or(folder.empty() ? "." : folder);
    if (DIR* listing = opendir(real.c_str())) {
        closedir(listing);
        return "";
    }
    if (errno == ENOENT || errno == ENOTDIR) return "";
    return "the folder " + real + " cannot be read: " + std::strerror(errno);
}

RowFacts FactsOf(const QueueRow& row, const std::string& attachment, const PathMapEntries& pathMap) {
    RowFacts facts;
    facts.row = row;
    facts.attachment = attachment;
    facts.group = GroupOfType(row.type);
    // The pipeline picks its splitter by the file's extension, the queue by the row's type.
    facts.framed = IsFramedType(row.type) || IsFramedType(handoff::UpperExtension(attachment));
    facts.destination = DestinationOf(*row.filePath, attachment, facts.group, pathMap);
    facts.result = handoff::FinalResult(handoff::BaseName(attachment));
    return facts;
}

}  // namespace

LookUp LookUpRow(const QueueRow& row, const PathMapEntries& pathMap) {
    using Outcome = LookUp::Outcome;
    if (row.filePath && ClimbsOutOfItsFolder(*row.filePath))
        return {Outcome::Refused, "the path has a \"..\" component; it is not followed", std::nullopt};
    std::string localPath;
    if (row.filePath && !row.filePath->empty()) localPath = ToLocalPath(pathMap, *row.filePath);
    if (!pathMap.empty() && !localPath.empty() && !NamedInsideTheShares(pathMap, localPath))
        return {Outcome::Refused, kOutsideTheShares, std::nullopt};
    std::optional<std::string> attachment;
    try {
        if (!localPath.empty()) attachment = ResolveFile(localPath);
    } catch (const std::exception&) {
        attachment.reset();
    }
    // A file missing from a folder that could be read is not found; one behind a folder that
    // cannot is not known.
    if (!attachment) {
        std::string fault = FolderFault(localPath);
        return {fault.empty() ? Outcome::NotFound : Outcome::Unreadable, std::move(fault), std::nullopt};
    }
    if (!pathMap.empty() && !ReallyInsideTheShares(pathMap, *attachment))
        return {Outcome::Refused, kOutsideTheShares, std::nullopt};
    return {Outcome::Found, "", FactsOf(row, *attachment, pathMap)};
}

}  // namespace kvo::driver
