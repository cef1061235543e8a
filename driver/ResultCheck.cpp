#include "driver/ResultCheck.h"

#include "driver/PdfInspection.h"
#include "driver/PdfTextCheck.h"
#include "driver/RowFacts.h"
#include "shared/image/RasterImage.h"
#include "shared/pdf/PdfFile.h"

namespace kvo::driver {
namespace {

std::string Pages(int count) { return std::to_string(count) + (count == 1 ? " page" : " pages"); }

// The pages of the attachment: the pages of a PDF (as inspected), the frames of a TIFF or fax
// file, 1 for any other image; nullopt when they cannot be counted.
std::optional<int> AttachmentPageCount(const RowFacts& facts) {
    if (facts.group == TypeGroup::Pdf) {
        if (!facts.pdf || facts.pdf->pageCount < 1) return std::nullopt;
        return facts.pdf->pageCount;
    }
    if (!facts.framed) return 1;
    const int frames = image::RasterFile(facts.attachment).frameCount();
    if (frames < 1) return std::nullopt;
    return frames;
}

// Why a page of the result does not show its page, or "".
std::string PageWithoutPicture(const pdf::PdfFacts& result, const RowFacts& facts) {
    const pdf::PdfFacts* kept = facts.group == TypeGroup::Pdf && facts.pdf ? &*facts.pdf : nullptr;
    for (std::size_t page = 0; page < result.pages.size(); ++page) {
        const pdf::PageFacts& shown = result.pages[page];
        // A page the attachment leaves blank may stay blank.
        const bool blankInTheAttachment = kept && page < kept->pages.size() && !pdf::DrawsAnything(kept->pages[page]);
        if (shown.images > 0 || (kept && (shown.drawsSomething || blankInTheAttachment))) continue;
        return "page " + std::to_string(page + 1) + " of the result carries no page picture";
    }
    return "";
}

}  // namespace

ResultVerdict CheckResult(const std::string& resultPath, const RowFacts& facts,
                          const std::function<void()>& pumpMessages) {
    ResultVerdict verdict;
    std::string why;
    std::optional<pdf::PdfFacts> result;
    try {
        result = InspectPdfIsolated(resultPath, &why, pumpMessages);
    } catch (const PdfBreaksLimit& error) {
        verdict.problem = error.what();
        return verdict;
    }
    if (!result) {
        verdict.problem = "the result " + resultPath + " does not open as a PDF" + (why.empty() ? "" : " (" + why + ")");
        return verdict;
    }
    if (!pdf::IsResultFor(*result, facts.attachment)) {
        verdict.problem = resultPath + " was not made for this attachment";
        return verdict;
    }
    verdict.madeForAttachment = true;
    verdict.pages = result->pageCount;
    const std::optional<int> pages = AttachmentPageCount(facts);
    if (!pages) {
        verdict.problem = "the attachment's pages cannot be counted";
    } else if (result->pageCount != *pages) {
        verdict.problem = "the result has " + Pages(result->pageCount) + ", the attachment " + Pages(*pages);
    } else {
        verdict.problem = PageWithoutPicture(*result, facts);
    }
    if (!verdict.problem.empty() || facts.group != TypeGroup::Image) return verdict;
    try {
        if (!IsPDFSearchable(resultPath, pumpMessages, nullptr, TextNeeded::Anywhere))
            verdict.problem = "the result carries no text";
    } catch (const PdfBreaksLimit& error) {
        verdict.problem = error.what();
    } catch (const std::exception& error) {
        verdict.machineFault = error.what();
    }
    return verdict;
}

}  // namespace kvo::driver
