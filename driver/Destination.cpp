#include "driver/Destination.h"

#include <sys/stat.h>

#include <climits>
#include <filesystem>

#include "driver/PdfInspection.h"
#include "driver/queue/QueueStatements.h"
#include "shared/pdf/PdfFile.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/Text.h"

namespace kvo::driver {

std::string DestinationPath(const std::string& attachmentPath, TypeGroup group) {
    const std::size_t nameStart = attachmentPath.find_last_of("\\/") + 1;  // npos + 1 == 0
    // A leading "." (a hidden name) is not an extension.
    std::size_t dot = attachmentPath.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) dot = attachmentPath.size();
    return attachmentPath.substr(0, dot) + (group == TypeGroup::Pdf ? ".PDF.PDF" : ".PDF");
}

bool FitsFilePath(std::string_view path) { return CharacterCount(path) <= kFilePathWidth; }

Destination DestinationOf(const std::string& hostPath, const std::string& attachment, TypeGroup group,
                          const PathMapEntries& pathMap) {
    Destination destination;
    destination.host = DestinationPath(hostPath, group);
    destination.local = (std::filesystem::path(attachment).parent_path() /
                         std::filesystem::path(ToLocalPath(pathMap, destination.host)).filename())
                            .string();
    return destination;
}

std::string DestinationProblem(const Destination& destination) {
    // The queue could never record it, and the row would be converted again every cycle.
    if (!FitsFilePath(destination.host)) return "the destination " + destination.host + " does not fit FilePath";
    if (std::filesystem::path(destination.local).filename().string().size() > NAME_MAX)
        return "the destination's name is longer than the file system's " + std::to_string(NAME_MAX) + " bytes";
    return "";
}

std::optional<std::string> BlockingEntry(const Destination& destination, const std::string& attachment) {
    const std::optional<std::string> entry = FindEntry(destination.local);
    if (!entry) return std::nullopt;
    struct stat info {};
    if (lstat(entry->c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        try {
            const std::optional<pdf::PdfFacts> facts = InspectPdfIsolated(*entry);
            if (facts && pdf::IsResultFor(*facts, attachment)) return std::nullopt;
        } catch (const PdfBreaksLimit& error) {
            return *entry + " (" + error.what() + ")";
        }
    }
    return entry;
}

}  // namespace kvo::driver
