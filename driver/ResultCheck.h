#pragma once
// Whether the pipeline's result may be recorded for an attachment: the one home of that rule.
#include <functional>
#include <string>

namespace kvo::driver {

struct RowFacts;

struct ResultVerdict {
    bool madeForAttachment = false;  // the result carries this attachment's mark
    std::string problem;             // "" when the result may be recorded, else the failed check
    std::string machineFault;        // the text check crashed or hung: nothing is known of the result
    int pages = 0;                   // the result's page count, once it opened
};

// The checks, in this order: the result opens as a PDF; it was made for this attachment; it has
// the attachment's page count (a PDF's pages, a TIFF's or fax's frames, else 1); every page
// carries its page picture (a page kept from a PDF attachment may instead draw anything of its
// own, or stay blank where the attachment's is); an image's result carries text.
// `pumpMessages` is called while the text check runs.
ResultVerdict CheckResult(const std::string& resultPath, const RowFacts& facts,
                          const std::function<void()>& pumpMessages);

}  // namespace kvo::driver
