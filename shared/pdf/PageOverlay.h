#pragma once
// The searchable PDF put together: pages kept from the attachment exactly as they are, or new
// pages holding pictures, each with its text layer laid over it invisibly.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shared/image/EncodedPicture.h"
#include "shared/pdf/PageGeometry.h"

namespace kvo::pdf {

// The page boxes and rotation of every page of a PDF; nullopt (and `error`) when it cannot be
// read.
std::optional<std::vector<PageFrame>> ReadPageFrames(const std::string& pdfPath, std::string* error = nullptr);

// A picture on a new page, in points from the sheet's top-left corner.
struct PlacedPicture {
    image::EncodedPicture picture;
    double left = 0, top = 0, width = 0, height = 0;
};

// A level run of text written without a drawing library, in a face that is never shown (render
// mode 3) and never embedded, with the advances the writer gives for each character.
struct TextRun {
    std::u32string text;
    // Where the run begins on its baseline, in points from the shown page's top-left corner.
    double left = 0, baseline = 0;
    double size = 0;             // points
    double horizontalScale = 1;  // of the face's own advances
    // How far above its baseline the run's letters are to be taken to stand, in points (below
    // when negative): the printed word the run covers, when the run is written off its print.
    double boxRise = 0;
};

// Readers (poppler's, pdf.js) take a letter's box from its font's ascent and descent, which may
// be told per font: a run written off its print gets a font that says so, and its box lies over
// the print again. The box still reaches the run's baseline, and a reader ignores an ascent or
// descent of three sizes or more, so the rise is told within kMostBoxRise, in steps of
// kBoxRiseStep of the size (a font each).
inline constexpr double kBoxRiseStep = 0.1;
inline constexpr double kMostBoxRise = 2.2;

// Ascent and descent, per point of size, of the face the runs name (Helvetica's own), so that
// a run whose size is a box's height / (ascent + descent) fills that box for a reader.
inline constexpr double kRunAscent = 0.718;
inline constexpr double kRunDescent = 0.207;

// A character's advance in thousandths of the size.
using AdvanceOf = std::function<double(char32_t)>;

struct ResultPage {
    // A page of the source PDF (from 1), kept as it is; 0 for a new page.
    int sourcePage = 0;
    // Kept page: the box its text layer covers, shown under the page's own rotation.
    Box shownBox;
    int rotate = 0;
    // New page: its sheet, upright, and its pictures.
    double sheetWidth = 0, sheetHeight = 0;
    std::vector<PlacedPicture> pictures;
    // Text written directly, on the shown page in points from its top-left corner.
    std::vector<TextRun> runs;
};

using PdfSink = std::function<void(const unsigned char* data, std::size_t size)>;

// Writes the result to `sink`: each page with its runs laid over it in text render mode 3
// (invisible), measured by `advanceOf`, in the order given. `sourcePdf` is read only when a page is kept from it.
// Throws std::runtime_error when the source cannot be read or a kept page does not exist.
void WriteResultPdf(const std::vector<ResultPage>& pages, const std::string& sourcePdf, const AdvanceOf& advanceOf,
                    const PdfSink& sink);

}  // namespace kvo::pdf
