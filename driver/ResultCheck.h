#pragma once
// Whether the pipeline's result may be recorded for an attachment.
#include <optional>
#include <string>

namespace kvo::driver {

struct ResultVerdict {
    bool madeForAttachment = false;  // the result carries this attachment's mark
    std::string problem;             // "" when the result may be recorded, else the failed check
    int pages = 0;                   // the result's page count, once it opened
};

// The checks, in this order: the result opens as a PDF; it was made for this attachment; it has
// the attachment's page count; every page carries its page picture (a page kept from a PDF
// attachment may instead draw anything of its own).
ResultVerdict CheckResult(const std::string& resultPath, const std::string& attachmentPath,
                          const std::string& upperType);

}  // namespace kvo::driver
