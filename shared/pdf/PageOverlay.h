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

struct ResultPage {
    // A page of the source PDF (from 1), kept as it is; 0 for a new page.
    int sourcePage = 0;
    // Kept page: the box its text layer covers, shown under the page's own rotation.
    Box shownBox;
    int rotate = 0;
    // New page: its sheet, upright, and its pictures.
    double sheetWidth = 0, sheetHeight = 0;
    std::vector<PlacedPicture> pictures;
    // Whether the text layer's page for this page holds anything.
    bool hasText = false;
};

using PdfSink = std::function<void(const unsigned char* data, std::size_t size)>;

// Writes the result to `sink`. `textLayer` is a PDF with one page per result page, in order,
// each as large as that page is shown; its drawing is laid over the page in text render
// mode 3 (invisible). `sourcePdf` is read only when a page is kept from it. Throws
// std::runtime_error when the source or the text layer cannot be read or a kept page does not
// exist.
void WriteResultPdf(const std::vector<ResultPage>& pages, const std::string& textLayer, const std::string& sourcePdf,
                    const PdfSink& sink);

}  // namespace kvo::pdf
