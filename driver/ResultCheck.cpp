#include "driver/ResultCheck.h"

#include "driver/LoopRules.h"
#include "driver/PdfInspection.h"
#include "shared/image/RasterImage.h"
#include "shared/pdf/PdfFile.h"
#include "shared/xml/HandOff.h"

namespace kvo::driver {
namespace {

std::string Pages(int count) { return std::to_string(count) + (count == 1 ? " page" : " pages"); }

}  // namespace

// The pages of an attachment: the frames of a TIFF or fax file, the pages of a PDF (read into
// `pdfFacts`), 1 for any other image; nullopt when they cannot be counted.
static std::optional<int> AttachmentPageCount(const std::string& attachmentPath, const std::string& upperType,
                                              const std::optional<pdf::PdfFacts>& pdfFacts) {
    if (GroupOfType(upperType) == TypeGroup::Pdf) {
        if (!pdfFacts || pdfFacts->pageCount < 1) return std::nullopt;
        return pdfFacts->pageCount;
    }
    // The pipeline picks its splitter by the file's extension, the queue by the row's type.
    if (IsFramedType(upperType) || IsFramedType(handoff::UpperExtension(attachmentPath))) {
        const int frames = image::RasterFile(attachmentPath).frameCount();
        if (frames < 1) return std::nullopt;
        return frames;
    }
    return 1;
}

ResultVerdict CheckResult(const std::string& resultPath, const std::string& attachmentPath,
                          const std::string& upperType) {
    ResultVerdict verdict;
    std::string why;
    std::optional<pdf::PdfFacts> result;
    try {
        result = InspectPdfIsolated(resultPath, &why);
    } catch (const PdfBreaksLimit& error) {
        verdict.problem = error.what();
        return verdict;
    }
    if (!result) {
        verdict.problem = "the result " + resultPath + " does not open as a PDF" + (why.empty() ? "" : " (" + why + ")");
        return verdict;
    }
    if (!pdf::IsResultFor(*result, attachmentPath)) {
        verdict.problem = resultPath + " was not made for this attachment";
        return verdict;
    }
    verdict.madeForAttachment = true;
    verdict.pages = result->pageCount;
    // A PDF's own pages are kept: read once, for their count and for which of them are blank.
    std::optional<pdf::PdfFacts> kept;
    try {
        if (GroupOfType(upperType) == TypeGroup::Pdf) kept = InspectPdfIsolated(attachmentPath);
    } catch (const PdfBreaksLimit& error) {
        verdict.problem = error.what();
        return verdict;
    }
    const std::optional<int> pages = AttachmentPageCount(attachmentPath, upperType, kept);
    if (!pages) {
        verdict.problem = "the attachment's pages cannot be counted";
    } else if (result->pageCount != *pages) {
        verdict.problem = "the result has " + Pages(result->pageCount) + ", the attachment " + Pages(*pages);
    } else {
        // A page the attachment leaves blank may stay blank.
        for (std::size_t page = 0; page < result->pages.size(); ++page) {
            const pdf::PageFacts& facts = result->pages[page];
            const bool blankInTheAttachment = kept && page < kept->pages.size() && !pdf::DrawsAnything(kept->pages[page]);
            if (facts.images > 0 || (kept && (facts.drawsSomething || blankInTheAttachment))) continue;
            verdict.problem = "page " + std::to_string(page + 1) + " of the result carries no page picture";
            break;
        }
    }
    return verdict;
}

}  // namespace kvo::driver
