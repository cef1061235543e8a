#pragma once
// What the walk knows of one row once it has looked its attachment up: made once, as the row is
// taken up, and passed along, so that the attachment is found (without regard to case) and its
// name read once.
#include <optional>
#include <string>

#include "driver/Destination.h"
#include "driver/PathMap.h"
#include "driver/queue/WorkQueue.h"
#include "shared/AttachmentTypes.h"
#include "shared/pdf/PdfFile.h"

namespace kvo::driver {

struct RowFacts {
    QueueRow row;            // as claimed: TrackReference, the host's path, the stored type
    std::string attachment;  // the attachment as it really lies on this machine
    TypeGroup group = TypeGroup::Other;  // of the row's type
    bool framed = false;     // its pages are the frames of its file (by its type or its extension)
    Destination destination;
    std::string result;      // where the pipeline leaves the searchable PDF: TEMP/{base}.pdf
    std::optional<pdf::PdfFacts> pdf;  // a PDF attachment's pages, once inspected
};

// What looking a row's attachment up found.
struct LookUp {
    enum class Outcome {
        Found,       // `facts` hold what the walk needs
        NotFound,    // no such file (a NULL or malformed path too), in a folder that could be read
        Refused,     // its path is not followed: `why`
        Unreadable,  // its folder cannot be read (a share gone away): `why`, the machine's fault
    };
    Outcome outcome = Outcome::NotFound;
    std::string why;
    std::optional<RowFacts> facts;
};

// Looks the row's attachment up: its host path mapped to this machine, found without regard to
// case. With shares mapped, nothing outside them is looked at, and no link leads out of them.
LookUp LookUpRow(const QueueRow& row, const PathMapEntries& pathMap);

}  // namespace kvo::driver
