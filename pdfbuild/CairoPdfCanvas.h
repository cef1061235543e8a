#pragma once
// Drawing the text of PDF pages: the one place that knows cairo, fontconfig and FreeType.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pdfbuild/DocumentEngine.h"
#include "pdfbuild/PageDocument.h"

namespace kvo::pdfbuild {

// Where the PDF bytes go, in order; throws to abandon the document.
using PdfSink = std::function<void(const unsigned char* data, std::size_t size)>;

class PdfCanvas {
public:
    PdfCanvas(PdfSink sink, ExportRoute route);
    ~PdfCanvas();
    PdfCanvas(const PdfCanvas&) = delete;
    PdfCanvas& operator=(const PdfCanvas&) = delete;

    void beginPage(const SheetSize& sheet);
    // The box's text on one line from its top-left inner corner, narrowed horizontally when it
    // is wider than the box; never wrapped or cut. False when there was nothing to draw.
    bool drawTextBox(const TextBoxShape& box);
    // A character's advance in the face `font` maps to, in thousandths of the size. Only
    // between beginPage and endPage.
    double advanceOf(char32_t c, const FontSettings& font);
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
