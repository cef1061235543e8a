#pragma once
// Drawing PDF pages: the one place that knows cairo, fontconfig and FreeType.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pdfbuild/DocumentEngine.h"
#include "pdfbuild/PageDocument.h"
#include "shared/image/RasterImage.h"

namespace kvo::pdfbuild {

// Where the PDF bytes go, in order; throws to abandon the document.
using PdfSink = std::function<void(const unsigned char* data, std::size_t size)>;

struct PlacedRect {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
};

class PdfCanvas {
public:
    PdfCanvas(PdfSink sink, ExportRoute route);
    ~PdfCanvas();
    PdfCanvas(const PdfCanvas&) = delete;
    PdfCanvas& operator=(const PdfCanvas&) = delete;

    void beginPage(const SheetSize& sheet);
    // The box's text on one line from its top-left inner corner, narrowed horizontally when it
    // is wider than the box; never wrapped or cut.
    void drawTextBox(const TextBoxShape& box);
    // A 1-bit picture, embedded as its CCITT G4 data (`g4`, K = -1).
    void drawBilevel(const image::Raster& bits, const std::vector<std::uint8_t>& g4, const PlacedRect& where);
    // An 8-bit grey or 24-bit colour picture, embedded losslessly at that depth.
    void drawPixels(const image::Raster& raster, const PlacedRect& where);
    void endPage();
    // Completes the PDF. Throws EngineError when any drawing or writing failed.
    void finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The installed face a font name resolves to, as "family style (file)", for reports and tests.
std::string InstalledFaceOf(const std::string& fontName, bool bold, bool italic);

}  // namespace kvo::pdfbuild
