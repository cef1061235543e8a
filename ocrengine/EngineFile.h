#pragma once
// The engine document file "KVOOCR.mdi": the page's hOCR (XHTML with the OCR classes
// ocr_page, ocr_carea, ocr_par, ocr_line and ocrx_word, each carrying its properties in
// `title`), with the image size in the page's bbox. A line carries its height and its depth
// below the baseline (x_size, x_descenders); a word its text in its `data-text` attribute and
// the stretch of baseline under it in its own property "x_baseline x1 y1 x2 y2". A page
// recognised turned carries the turn in its own property "x_turn" (clockwise degrees).
//
// Line numbers are not stored: a word's line is the position of its ocr_line among all the
// page's lines, counted from 0 in document order.
#include "ocrengine/EngineDocument.h"

#include <optional>
#include <string>

namespace kvo::ocr {

struct EngineFile {
    PageLayout page;  // words empty when wordListError is set; size 0 when the bbox is missing
    std::optional<std::string> wordListError;
};

// True when the file begins like an XML document (so it is no raster image).
bool LooksLikeEngineFile(const std::string& path);

// Writes the page, whole. Throws EngineError.
void WriteEngineFile(const PageLayout& page, const std::string& path);

// Throws EngineError when the file cannot be read or holds no ocr_page.
EngineFile ReadEngineFile(const std::string& path);

}  // namespace kvo::ocr
