#pragma once
// Where an attachment's searchable PDF goes, and whether it may go there: the one home of the
// destination rule.
#include <optional>
#include <string>
#include <string_view>

#include "driver/PathMap.h"
#include "shared/AttachmentTypes.h"

namespace kvo::driver {

// The searchable PDF beside the attachment: the file name's final extension (after its last
// ".") replaced by ".PDF" for images and by ".PDF.PDF" for PDFs, or the suffix appended when the
// name has none. Folder parts (after "\\" or "/") are never changed.
std::string DestinationPath(const std::string& attachmentPath, TypeGroup group);

// True when `path` (UTF-8) fits the queue's FilePath column: a destination that does not is
// refused before any update, or the row could never be recorded.
bool FitsFilePath(std::string_view path);

struct Destination {
    std::string host;   // what the host tables get: the row's own path, its extension changed
    std::string local;  // the file the result is copied to, beside the attachment as it really lies
};

// The destination of the attachment the host names `hostPath` and that lies at `attachment`.
Destination DestinationOf(const std::string& hostPath, const std::string& attachment, TypeGroup group,
                          const PathMapEntries& pathMap);

// Why nothing may be converted for this destination (the host's text does not fit FilePath, or
// the file's name is longer than the file system takes); "" when it may.
std::string DestinationProblem(const Destination& destination);

// The entry at the destination (found without regard to case) that may not be replaced, with
// why when that is not plain: any but a regular file (never a link, which could lead anywhere)
// holding a searchable PDF made earlier for this same attachment. Nullopt when nothing is in the
// way. Throws std::runtime_error when such a file cannot be inspected (the machine's fault).
std::optional<std::string> BlockingEntry(const Destination& destination, const std::string& attachment);

}  // namespace kvo::driver
